#!/usr/bin/python3
"""Checks with Debian's tifffile, an independent reader, that the tests' LSM writer makes real
LSM files: the same dimensions, voxel sizes, scan information and pixels as written."""
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

make_series = sys.argv[1]
with tempfile.TemporaryDirectory() as folder:
    pattern = os.path.join(folder, "cell_t?.lsm")
    raw = os.path.join(folder, "planes.raw")
    # 1 channel, 3 slices, 16-bit; 3 channels, 2 slices, 8-bit (value arrays at offsets). Two
    # channels are left out: tifffile takes a two-value BitsPerSample for an offset, as old
    # microscope software wrote it, where TIFF keeps the two values inside the entry.
    for width, height, slices, channels, bits in ((12, 5, 3, 1, 16), (7, 3, 2, 3, 8)):
        subprocess.run([make_series, pattern, "1", str(width), str(height), str(slices),
                        str(channels), str(bits), raw], check=True, stdout=subprocess.DEVNULL)
        with tifffile.TiffFile(os.path.join(folder, "cell_t1.lsm")) as tif:
            assert tif.is_lsm, "not read as an LSM file"
            info = tif.lsm_metadata
            assert (info["DimensionX"], info["DimensionY"], info["DimensionZ"],
                    info["DimensionChannels"]) == (width, height, slices, channels), info
            assert abs(info["VoxelSizeX"] - 0.2e-6) < 1e-15
            assert abs(info["VoxelSizeZ"] - 0.5e-6) < 1e-15
            scan = info["ScanInformation"]
            assert scan["Objective"] == "Plan-Apochromat 63x/1.40 Oil DIC M27", scan
            assert abs(scan["Sample0time"] - 46364.395833333336) < 1e-9, scan  # 2026-12-08 09:30
            lasers = [c["Wavelength"] for c in scan["Tracks"][0]["IlluminationChannels"]]
            assert lasers == [488.0, 561.0, 633.0][:channels], lasers
            data = tif.series[0].asarray()
            dtype = numpy.uint16 if bits == 16 else numpy.uint8
            expected = numpy.fromfile(raw, dtype=dtype).reshape(slices, channels, height, width)
            assert numpy.array_equal(data.reshape(expected.shape), expected), "pixels differ"
print("tifffile reads the writer's LSM files with the same metadata and pixels")
