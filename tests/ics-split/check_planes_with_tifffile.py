#!/usr/bin/python3
"""Checks with Debian's tifffile, an independent reader, that ics-split's TIFF planes and OME-TIFF
of signed, floating-point and big-endian ICS images, also gzip-compressed by Python's gzip, read
back as the same values."""
import gzip
import os
import subprocess
import sys
import tempfile

try:
    import numpy
    import tifffile
except ImportError:
    print("tifffile is not installed; skipped")
    sys.exit(77)

ics_split = sys.argv[1]
# name, ICS format and sign, bits, stored numpy type, ICS byte order, compression
cases = [
    ("float32", "real", "signed", 32, "<f4", "1\t2\t3\t4", "uncompressed"),
    ("int16", "integer", "signed", 16, "<i2", "1\t2", "uncompressed"),
    ("big16", "integer", "unsigned", 16, ">u2", "2\t1", "uncompressed"),
    ("big16gz", "integer", "unsigned", 16, ">u2", "2\t1", "gzip"),
]
with tempfile.TemporaryDirectory() as folder:
    for name, form, sign, bits, stored, order, compression in cases:
        header = ("\t\nics_version\t1.0\nfilename\t%s\nlayout\tparameters\t4\n"
                  "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t%d\t5\t3\t2\n"
                  "layout\tsignificant_bits\t%d\nrepresentation\tformat\t%s\n"
                  "representation\tsign\t%s\nrepresentation\tcompression\t%s\n"
                  "representation\tbyte_order\t%s\nparameter\tlabels\tintensity\tx\ty\tz\n"
                  % (name, bits, bits, form, sign, compression, order))
        with open(os.path.join(folder, name + ".ics"), "w") as f:
            f.write(header)
        values = (numpy.arange(30).reshape(2, 3, 5) * 77 - 900) * (1.5 if form == "real" else 1)
        if sign == "unsigned":
            values = values + 1000
        data = values.astype(stored).tobytes()
        with open(os.path.join(folder, name + ".ids"), "wb") as f:
            f.write(gzip.compress(data) if compression == "gzip" else data)
        subprocess.run([ics_split, "-i", name, "-o", name + "_out", "-z", "2", "2"], cwd=folder,
                       check=True, stdout=subprocess.DEVNULL)
        with tifffile.TiffFile(os.path.join(folder, name + "_out_ch01t0001z002.tif")) as tif:
            plane = tif.pages[0].asarray()
            assert tif.byteorder == stored[0], (name, tif.byteorder)
            assert plane.dtype == numpy.dtype(stored).newbyteorder("="), (name, plane.dtype)
            assert numpy.array_equal(plane, values[1]), (name, plane, values[1])
        subprocess.run([ics_split, "-i", name, "-o", name + "_ome", "-ome"], cwd=folder,
                       check=True, stdout=subprocess.DEVNULL)
        with tifffile.TiffFile(os.path.join(folder, name + "_ome.ome.tif")) as tif:
            series = tif.series[0]
            assert tif.is_ome and tif.byteorder == stored[0], (name, tif.byteorder)
            assert series.axes == "ZYX" and series.dtype == plane.dtype, (name, series)
            assert numpy.array_equal(series.asarray(), values), (name, series.asarray())
            assert ('BigEndian="%s"' % str(stored[0] == ">").lower()) in tif.ome_metadata, name
print("tifffile reads ics-split's signed, floating-point, big-endian and gzip planes and OME-TIFFs "
      "as stored")
