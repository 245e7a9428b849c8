#!/usr/bin/python3
"""Checks with Debian's tifffile, an independent reader, that ics-split's OME-TIFF of an image
that lsm-to-ics made is one OME series of the chosen planes, with the header's scales and sensor
values in its OME-XML. With LSM_ICS_BIG_TESTS=1 it also splits a sparse image of more than 4 GiB,
which must come out as a BigTIFF (it writes 4 GiB)."""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

try:
    import numpy
    import tifffile
except ImportError:
    print("tifffile is not installed; skipped")
    sys.exit(77)

make_series, lsm_to_ics, ics_split = sys.argv[1:4]
OME = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"


def run(folder, *arguments):
    subprocess.run(arguments, cwd=folder, check=True, stdout=subprocess.DEVNULL)


def sensor_values(header, name):
    """The numbers of a sensor parameter line of an ICS header."""
    for line in header.split("\n"):
        fields = line.split("\t")
        if fields[:3] == ["sensor", "s_params", name]:
            return [float(v) for v in fields[3:]]
    raise AssertionError("no sensor line " + name)


with tempfile.TemporaryDirectory() as folder:
    # 3 time points 2 s apart, 4 slices, 2 channels of 7 x 5 pixels, 16 bits: a version-2 image.
    run(folder, make_series, "cell_t?.lsm", "3", "7", "5", "4", "2", "16")
    run(folder, lsm_to_ics, "-s", "1", "-j", "1", "-e", "3", "cell_t?.lsm", "-o", "cell", "-t",
        "2")
    with open(os.path.join(folder, "cell.ics"), "rb") as f:
        image = f.read()
    end = image.index(b"\n", image.index(b"\nend") + 1) + 1
    header = image[:end].decode()
    # The data order: channel slowest, then time, then slice.
    data = numpy.frombuffer(image[end:], "<u2").reshape(2, 3, 4, 5, 7)
    run(folder, ics_split, "-i", "cell", "-o", "part", "-z", "2", "4", "-c", "2", "1", "-t", "2",
        "3", "-ome")
    with tifffile.TiffFile(os.path.join(folder, "part.ome.tif")) as tif:
        assert tif.is_ome and len(tif.series) == 1, tif.series
        series = tif.series[0]
        assert series.axes == "CTZYX" and series.shape == (2, 2, 3, 5, 7), series
        assert numpy.array_equal(series.asarray(), data[[1, 0], 1:3, 1:4]), "planes differ"
        ome = ElementTree.fromstring(tif.ome_metadata)
    pixels = ome.find(OME + "Image/" + OME + "Pixels")
    sizes = {k: pixels.get("Size" + k) for k in "XYZCT"}
    assert sizes == {"X": "7", "Y": "5", "Z": "3", "C": "2", "T": "2"}, sizes
    assert pixels.get("DimensionOrder") == "XYZTC" and pixels.get("Type") == "uint16"
    for axis, size in (("X", 0.2), ("Y", 0.2), ("Z", 0.5)):
        assert float(pixels.get("PhysicalSize" + axis)) == size, axis
        assert pixels.get("PhysicalSize" + axis + "Unit") == "\u00b5m", axis
    assert float(pixels.get("TimeIncrement")) == 2 and pixels.get("TimeIncrementUnit") == "s"
    channels = pixels.findall(OME + "Channel")
    for name, attribute in (("LambdaEx", "ExcitationWavelength"),
                            ("LambdaEm", "EmissionWavelength")):
        expected = sensor_values(header, name)[::-1]  # channels 2 and 1
        assert [float(c.get(attribute)) for c in channels] == expected, (attribute, expected)
    objective = ome.find(OME + "Instrument/" + OME + "Objective")
    assert float(objective.get("LensNA")) == sensor_values(header, "NumAperture")[0]
    settings = ome.find(OME + "Image/" + OME + "ObjectiveSettings")
    assert float(settings.get("RefractiveIndex")) == sensor_values(header, "RefrInxMedium")[0]
    assert pixels.find(OME + "TiffData").get("PlaneCount") == "12"

    if os.environ.get("LSM_ICS_BIG_TESTS") == "1":
        # 2049 planes of 2 MiB, sparse but for the first and the last: 4 GiB and 2 MiB.
        planes, plane_bytes = 2049, 1024 * 1024 * 2
        with open(os.path.join(folder, "big.ics"), "w") as f:
            f.write("\t\nics_version\t1.0\nfilename\tbig\nlayout\tparameters\t4\n"
                    "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t1024\t1024\t%d\n"
                    "layout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
                    "representation\tsign\tunsigned\nrepresentation\tbyte_order\t1\t2\n"
                    "parameter\tlabels\tintensity\tx\ty\tz\n" % planes)
        first = numpy.arange(1024 * 1024, dtype="<u2").reshape(1024, 1024)
        last = first[::-1].copy()
        with open(os.path.join(folder, "big.ids"), "wb") as f:
            f.write(first.tobytes())
            f.seek((planes - 1) * plane_bytes)
            f.write(last.tobytes())
        run(folder, ics_split, "-i", "big", "-o", "big", "-ome")
        os.remove(os.path.join(folder, "big.ids"))
        name = os.path.join(folder, "big.ome.tif")
        with tifffile.TiffFile(name) as tif:
            assert tif.is_bigtiff and tif.is_ome and len(tif.pages) == planes
            assert tif.series[0].shape == (planes, 1024, 1024), tif.series[0].shape
            assert numpy.array_equal(tif.pages[0].asarray(), first)
            assert numpy.array_equal(tif.pages[planes - 1].asarray(), last)
            assert not tif.pages[1].asarray().any()
        print("BigTIFF of %d bytes, %d pages, read back by tifffile" % (os.path.getsize(name),
                                                                      planes))
print("tifffile reads ics-split's OME-TIFF as one series of the planes, scales and wavelengths")
