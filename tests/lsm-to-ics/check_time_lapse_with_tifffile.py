#!/usr/bin/python3
"""Checks with Debian's tifffile, an independent reader, that lsm-to-ics converts every frame of
time-lapse LSM files: the data of both ICS versions equals the planes tifffile reads."""
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

make_series, lsm_to_ics = sys.argv[1], sys.argv[2]
with tempfile.TemporaryDirectory() as folder:
    # Two files of 4 frames of 2 slices and 3 channels (16-bit), and a 2-D time lapse of 5 frames
    # (8-bit). Two channels are left out: tifffile cannot read the writer's two-channel files.
    for files, frames, slices, channels, bits in ((2, 4, 2, 3, 16), (1, 5, 1, 1, 8)):
        width, height = 7, 5
        subprocess.run([make_series, "-t", str(frames), "lapse_t?.lsm", str(files), str(width),
                        str(height), str(slices), str(channels), str(bits)], cwd=folder,
                       check=True, stdout=subprocess.DEVNULL)
        stacks = []
        for f in range(1, files + 1):
            with tifffile.TiffFile(os.path.join(folder, "lapse_t%d.lsm" % f)) as tif:
                # tifffile fills its array with the images in file order: frame, slice, channel.
                stacks.append(tif.series[0].asarray().reshape(frames, slices, channels, height,
                                                              width))
        # The ICS data order: channel, then file and frame (time), then slice.
        expected = numpy.stack(stacks).transpose(3, 0, 1, 2, 4, 5).tobytes()
        arguments = ["-s", "1", "-j", "1", "-e", str(files), "lapse_t?.lsm", "-z", "1",
                     str(slices), "-c"] + [str(c) for c in range(1, channels + 1)] + ["-t", "1"]
        subprocess.run([lsm_to_ics] + arguments + ["-o", "one", "-S1"], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(folder, "one.ids"), "rb") as f:
            assert f.read() == expected, "version 1 data differs from tifffile's planes"
        subprocess.run([lsm_to_ics] + arguments + ["-o", "two", "-S2"], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(folder, "two.ics"), "rb") as f:
            image = f.read()
        # The data follows the header's last line, "end".
        header = image[:len(image) - len(expected)]
        assert header.endswith(b"\nend\t\n"), header[-40:]
        assert image[len(header):] == expected, "version 2 data differs from tifffile's planes"
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
print("lsm-to-ics converts every frame of time-lapse files as tifffile reads them")
