#!/usr/bin/python3
"""Validates against OME's 2016-06 schema, with xmllint, the OME-XML of the image that fills
every field of the writer's description, and that of ics-split -ome outputs of an image that
lsm-to-ics made. Skipped where the schema (../shared/ome-schema/ome.xsd beside the project) or
xmllint is missing."""
import os
import shutil
import subprocess
import sys
import tempfile

print_ome_xml, make_series, lsm_to_ics, ics_split = sys.argv[1:5]
project = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
schema = os.path.join(project, "..", "shared", "ome-schema", "ome.xsd")
if not os.path.exists(schema) or not shutil.which("xmllint"):
    print("no OME schema or no xmllint; skipped")
    sys.exit(77)


def run(folder, *arguments):
    subprocess.run(arguments, cwd=folder, check=True, stdout=subprocess.DEVNULL)


def first_page_xml(path):
    """The OME-XML of a small OME-TIFF, found by its bytes: one ImageDescription."""
    data = open(path, "rb").read()
    start = data.index(b"<?xml")
    end = data.index(b"</OME>\n", start) + len(b"</OME>\n")
    return data[start:end]


with tempfile.TemporaryDirectory() as folder:
    documents = {"every-field.xml": subprocess.run([print_ome_xml], check=True,
                                                   stdout=subprocess.PIPE).stdout}
    run(folder, make_series, "cell_t?.lsm", "3", "7", "5", "4", "2", "16")
    run(folder, lsm_to_ics, "-s", "1", "-j", "1", "-e", "3", "cell_t?.lsm", "-o", "cell", "-t",
        "2")
    run(folder, ics_split, "-i", "cell", "-o", "whole", "-ome")
    run(folder, ics_split, "-i", "cell", "-o", "part", "-z", "2", "3", "-ome", "-c", "2", "1",
        "-t", "2", "2")
    for name in ("whole", "part"):
        documents[name + ".xml"] = first_page_xml(os.path.join(folder, name + ".ome.tif"))
    paths = []
    for name, xml in documents.items():
        paths.append(os.path.join(folder, name))
        open(paths[-1], "wb").write(xml)
    result = subprocess.run(["xmllint", "--noout", "--schema", schema] + paths,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(result.stdout)
    sys.exit(result.returncode)
