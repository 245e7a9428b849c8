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
    # 1 channel, 3 slices, 16-bit; 3 channels, 2 slices, 8-bit (value arrays at offsets); time
    # lapses of 4 frames of 2 slices and 3 channels, and of 5 frames of one plane. Two channels
    # are left out: tifffile takes a two-value BitsPerSample for an offset, as old microscope
    # software wrote it, where TIFF keeps the two values inside the entry. tifffile names the axes
    # in the order of the scan type (T, C, Z), drops those of size 1, and fills its array with the
    # images in file order: frame, slice, channel.
    for width, height, frames, slices, channels, bits, axes in (
            (12, 5, 1, 3, 1, 16, "ZYX"), (7, 3, 1, 2, 3, 8, "CZYX"),
            (7, 5, 4, 2, 3, 16, "TCZYX"), (6, 4, 5, 1, 1, 8, "TYX")):
        frames_option = ["-t", str(frames)] if frames > 1 else []
        subprocess.run([make_series] + frames_option + [pattern, "1", str(width), str(height),
                        str(slices), str(channels), str(bits), raw],
                       check=True, stdout=subprocess.DEVNULL)
        with tifffile.TiffFile(os.path.join(folder, "cell_t1.lsm")) as tif:
            assert tif.is_lsm, "not read as an LSM file"
            info = tif.lsm_metadata
            assert (info["DimensionX"], info["DimensionY"], info["DimensionZ"],
                    info["DimensionChannels"], info["DimensionTime"]) == (
                        width, height, slices, channels, frames), info
            assert abs(info["VoxelSizeX"] - 0.2e-6) < 1e-15
            assert abs(info["VoxelSizeZ"] - 0.5e-6) < 1e-15
            scan = info["ScanInformation"]
            assert scan["Objective"] == "Plan-Apochromat 63x/1.40 Oil DIC M27", scan
            assert abs(scan["Sample0time"] - 46364.395833333336) < 1e-9, scan  # 2026-12-08 09:30
            lasers = [c["Wavelength"] for c in scan["Tracks"][0]["IlluminationChannels"]]
            assert lasers == [488.0, 561.0, 633.0][:channels], lasers
            series = tif.series[0]
            sizes = {"T": frames, "C": channels, "Z": slices, "Y": height, "X": width}
            assert (series.axes, series.shape) == (axes, tuple(sizes[a] for a in axes)), (
                series.axes, series.shape)
            data = series.asarray()
            dtype = numpy.uint16 if bits == 16 else numpy.uint8
            expected = numpy.fromfile(raw, dtype=dtype).reshape(frames, slices, channels, height,
                                                                width)
            assert numpy.array_equal(data.reshape(expected.shape), expected), "pixels differ"
            assert frames == 1 or not numpy.array_equal(expected[0], expected[1]), "frames alike"
print("tifffile reads the writer's LSM files with the same metadata and pixels")
