#!/usr/bin/python3
"""Checks lsm-to-ics -ome with independent readers. Modes:
  pages    (tifffile) every page of the OME-TIFFs of a z-stack time lapse with tracks, colours
           and stamps, an LZW file, a line scan, a series of two files and a file of positions
           equals the planes that -S1 writes for the same command, and the OME-XML of the first
           holds what the file records;
  schema   (xmllint) the OME-XML of all of them, and of the real samples where they are, is valid
           against OME's 2016-06 schema (../shared/ome-schema/ome.xsd beside the project);
  samples  (tifffile) the real samples (../shared/samples beside the project) through -ome: every
           page equals tifffile's reading of the LSM file (-S1's data for the LZW file, which
           tifffile cannot decode without imagecodecs); prints what each file's OME-XML says.
Each mode exits with 77 (skipped) where its reader, schema or samples are missing."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

mode, make_series, lsm_to_ics = sys.argv[1:4]
project = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
shared = os.path.join(project, "..", "shared")
samples = os.path.join(shared, "samples")
schema = os.path.join(shared, "ome-schema", "ome.xsd")
OME = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"


def skip(reason):
    print(reason + "; skipped")
    sys.exit(77)


try:
    import numpy
    import tifffile
except ImportError:
    if mode != "schema":
        skip("tifffile is not installed")


def run(folder, *arguments):
    subprocess.run(arguments, cwd=folder, check=True, stdout=subprocess.DEVNULL)


def ome_xml(path):
    """The OME-XML of an OME-TIFF, from the first page's ImageDescription."""
    data = open(path, "rb").read()
    start = data.index(b"<?xml")
    return data[start:data.index(b"</OME>\n", start) + len(b"</OME>\n")]


def convert_both(folder, name, *arguments):
    """Runs the command with -ome and with -S1; returns the OME-TIFF's path and the ICS data."""
    run(folder, lsm_to_ics, *arguments, "-o", name, "-ome")
    run(folder, lsm_to_ics, *arguments, "-o", name + "_ics", "-S1")
    return os.path.join(folder, name + ".ome.tif"), os.path.join(folder, name + "_ics.ids")


def make_synthetic(folder):
    """The OME-TIFFs of the synthetic cases, each with the -S1 data of the same command."""
    outputs = {}
    # 3 frames of 4 slices, 3 channels of 7 x 5 pixels, 16 bits; channel 3's colour is black.
    run(folder, make_series, "-t", "3", "-tracks", "-colors", "-stamps", "cell.lsm", "1", "7", "5",
        "4", "3", "16")
    outputs["cell"] = convert_both(folder, "cell", "cell.lsm", "-c", "3", "1", "-t", "2")
    run(folder, make_series, "-lzw2", "-noisy", "lzw.lsm", "1", "9", "6", "3", "2", "8")
    outputs["lzw"] = convert_both(folder, "lzw", "lzw.lsm", "-c", "2", "1", "-t", "1")
    run(folder, make_series, "-line", "-t", "6", "line.lsm", "1", "16", "1", "1", "2", "16")
    outputs["line"] = convert_both(folder, "line", "line.lsm")
    run(folder, make_series, "-t", "2", "-stamps", "-colors", "s_t?.lsm", "2", "5", "4", "2", "2",
        "16")
    outputs["series"] = convert_both(folder, "series", "s_t1.lsm", "s_t2.lsm", "-t", "3")
    run(folder, make_series, "-p", "3", "pos.lsm", "1", "6", "4", "2", "2", "8")
    outputs["positions"] = convert_both(folder, "positions", "pos.lsm", "-p", "2", "-c", "2",
                                        "-t", "1")
    return outputs


def check_pages(name, ome_tiff, data_file):
    """Every page of the OME-TIFF equals the plane of the ICS data in the same place."""
    with tifffile.TiffFile(ome_tiff) as tif:
        assert tif.is_ome and len(tif.series) == 1, (name, tif.series)
        pages = [page.asarray() for page in tif.pages]
        dtype = pages[0].dtype.newbyteorder("<")
        data = numpy.fromfile(data_file, dtype).reshape((len(pages),) + pages[0].shape)
        for i, page in enumerate(pages):
            assert numpy.array_equal(page, data[i]), (name, "page", i)
        return tif.series[0], ElementTree.fromstring(tif.ome_metadata)


def find(element, path):
    return element.find("/".join(OME + part for part in path.split("/")))


def check_cell(series, ome):
    assert series.axes == "CTZYX" and series.shape == (2, 3, 4, 5, 7), series
    image = find(ome, "Image")
    assert image.get("Name") == "Image 1"
    assert find(image, "Description").text == "Test recording"
    assert find(image, "AcquisitionDate").text == "2026-12-08T09:30:00"
    objective = find(ome, "Instrument/Objective")
    assert objective.attrib == {"ID": "Objective:0",
                                "Model": "Plan-Apochromat 63x/1.40 Oil DIC M27",
                                "Immersion": "Oil", "LensNA": "1.4",
                                "NominalMagnification": "63"}, objective.attrib
    assert find(image, "ObjectiveSettings").get("RefractiveIndex") == "1.515"
    assert find(image, "InstrumentRef").get("ID") == "Instrument:0"
    lasers = ome.findall(OME + "Instrument/" + OME + "Laser")
    assert [l.get("Wavelength") for l in lasers] == ["508", "488"]
    pixels = find(image, "Pixels")
    expected = {"DimensionOrder": "XYZTC", "Type": "uint16", "SignificantBits": "16",
                "SizeX": "7", "SizeY": "5", "SizeZ": "4", "SizeC": "2", "SizeT": "3",
                "PhysicalSizeX": "0.2", "PhysicalSizeY": "0.2", "PhysicalSizeZ": "0.5",
                "TimeIncrement": "2", "TimeIncrementUnit": "s"}
    assert {k: pixels.get(k) for k in expected} == expected, pixels.attrib
    channels = pixels.findall(OME + "Channel")
    values = [(c.get("Name"), c.get("Color"), c.get("Fluor"), c.get("ExcitationWavelength"),
               c.get("EmissionWavelength"), c.get("PinholeSize"),
               c.find(OME + "LightSourceSettings").get("ID")) for c in channels]
    # Channel 3 is black, written as white; the band-pass filter BP 500-550 gives 525.
    assert values == [("Ch3-T3", "-1", "Dye 3", "508", "525", "42", "LightSource:0:0"),
                      ("Ch1-T1", str(-16776961), "Dye 1", "488", "525", "40",
                       "LightSource:0:1")], values
    planes = [(p.get("TheC"), p.get("TheT"), p.get("TheZ"), p.get("DeltaT"))
              for p in pixels.findall(OME + "Plane")]
    assert planes == [(str(c), str(t), str(z), ["0", "2.5", "5"][t])
                      for c in range(2) for t in range(3) for z in range(4)], planes


def check_others(name, series, ome):
    pixels = find(ome, "Image/Pixels")
    shapes = {"lzw": ("CZYX", (2, 3, 6, 9)), "line": ("CTYX", (2, 6, 1, 16)),
              "series": ("CTZYX", (2, 4, 2, 4, 5)), "positions": ("ZYX", (2, 4, 6))}
    assert (series.axes, series.shape) == shapes[name], (name, series)
    if name == "series":
        # Two files' clocks are not known to agree: no DeltaT, but the interval of -t.
        assert all(p.get("DeltaT") is None for p in pixels.findall(OME + "Plane"))
        assert pixels.get("TimeIncrement") == "3"


def pages_mode():
    with tempfile.TemporaryDirectory() as folder:
        for name, (ome_tiff, data_file) in make_synthetic(folder).items():
            assert not os.path.exists(os.path.join(folder, name + ".ids")), name
            series, ome = check_pages(name, ome_tiff, data_file)
            if name == "cell":
                check_cell(series, ome)
            else:
                check_others(name, series, ome)


def sample_names():
    if not os.path.isdir(samples):
        skip("no sample folder")
    return sorted(f for f in os.listdir(samples) if f.endswith(".lsm"))


def schema_mode():
    if not os.path.exists(schema) or not shutil.which("xmllint"):
        skip("no OME schema or no xmllint")
    with tempfile.TemporaryDirectory() as folder:
        paths = [ome_tiff for ome_tiff, _ in make_synthetic(folder).values()]
        if os.path.isdir(samples):
            for sample in sample_names():
                name = "real_" + sample[:-len(".lsm")]
                run(folder, lsm_to_ics, os.path.join(samples, sample), "-o", name, "-ome")
                paths.append(os.path.join(folder, name + ".ome.tif"))
        documents = []
        for path in paths:
            documents.append(path[:-len(".ome.tif")] + ".xml")
            open(documents[-1], "wb").write(ome_xml(path))
        result = subprocess.run(["xmllint", "--noout", "--schema", schema] + documents,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print(result.stdout)
        sys.exit(result.returncode)


def samples_mode():
    with tempfile.TemporaryDirectory() as folder:
        for sample in sample_names():
            lsm = os.path.join(samples, sample)
            name = sample[:-len(".lsm")]
            ome_tiff, data_file = convert_both(folder, name, lsm)
            with tifffile.TiffFile(lsm) as t:
                compressed = t.pages[0].compression != 1
                if not compressed:
                    # The LSM's own planes as tifffile orders them, in the ICS data's order.
                    stack = t.series[0].asarray()
                    axes = t.series[0].axes
                    order = [axes.index(a) for a in "CTZYX" if a in axes]
                    stack.transpose(order).tofile(data_file)
            check_pages(name, ome_tiff, data_file)
            xml = ome_xml(ome_tiff).decode()
            print(sample, "(pages checked against %s)" % ("-S1" if compressed else "tifffile"))
            print(re.sub(r"\n\s*<Plane [^>]*/>", "", xml[xml.index("<Instrument"):]))


{"pages": pages_mode, "schema": schema_mode, "samples": samples_mode}[mode]()
