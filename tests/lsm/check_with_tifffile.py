#!/usr/bin/python3
"""Checks with Debian's tifffile, an independent reader, that the tests' LSM writer makes real
LSM files: the same dimensions, voxel sizes, scan information and pixels as written; and with
libtiff that its LZW strips decode to the planes written."""
import ctypes
import ctypes.util
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


def lzw_decode(data, out=None):
    """TIFF LZW: 9- to 12-bit codes, most significant bit first, widths growing one code early."""
    table = [bytes([i]) for i in range(256)] + [b"", b""]
    result, previous, position, width = bytearray(), None, 0, 9
    data = bytes(data) + b"\0\0"
    while position + width <= 8 * (len(data) - 2):
        chunk = int.from_bytes(data[position // 8:position // 8 + 3], "big")
        code = chunk >> (24 - position % 8 - width) & ((1 << width) - 1)
        position += width
        if code == 257:
            break
        if code == 256:
            del table[258:]
            previous, width = None, 9
            continue
        entry = table[code] if code < len(table) else previous + previous[:1]
        result += entry
        if previous is not None:
            table.append(previous + entry[:1])
        previous = entry
        width = min(12, (len(table) + 1).bit_length())
    return bytes(result)


# Debian's tifffile decodes LZW only through imagecodecs, which Debian does not package: it then
# gets the decoder above, and still finds, fixes the lengths of and undoes the differencing of
# the strips itself.
if not hasattr(tifffile.tifffile.imagecodecs, "lzw_decode"):
    tifffile.TIFF.DECOMPRESSORS._codecs[5] = lzw_decode


def libtiff_strips(path, images, channels):
    """The decoded strips of every image directory and channel, read by libtiff."""
    libtiff = ctypes.CDLL(ctypes.util.find_library("tiff"))
    libtiff.TIFFOpen.restype = ctypes.c_void_p
    libtiff.TIFFSetWarningHandler(None)
    tif = ctypes.c_void_p(libtiff.TIFFOpen(path.encode(), b"r"))
    buffer = ctypes.create_string_buffer(1 << 20)
    strips = b""
    for image in range(images):
        assert libtiff.TIFFSetDirectory(tif, 2 * image) == 1
        for channel in range(channels):
            got = libtiff.TIFFReadEncodedStrip(tif, channel, buffer, len(buffer))
            assert got > 0, "libtiff cannot decode a strip"
            strips += buffer.raw[:got]
    libtiff.TIFFClose(tif)
    return strips


def check_tracks(tracks, channels):
    """The tracks of make-lsm-series -tracks: one per channel, then a bleach track."""
    assert len(tracks) == channels + 1, tracks
    for ch, track in enumerate(tracks[:channels]):
        assert (track["Name"], track["Acquire"]) == ("Track %d" % (ch + 1), -1), track
        [detector] = track["DetectionChannels"]
        assert (detector["ChannelName"], detector["Acquire"], detector["FilterName"],
                detector["DyeName"], detector["PinholeDiameter"], detector["SpiWavelengthStart"],
                detector["SpiWavelengthStop"]) == (
                    "Ch%d" % (ch + 1), -1, "BP 500-550", "Dye %d" % (ch + 1), 40 + ch,
                    400 + 100 * ch, 450 + 100 * ch), detector
        lasers = [(c["Wavelength"], c["Aquire"]) for c in track["IlluminationChannels"]]
        assert lasers == [(405, 0), (488 + 10 * ch, -1)], lasers
    bleach = tracks[channels]
    assert (bleach["Name"], bleach.get("DetectionChannels", [])) == ("Bleach", []), bleach
    assert [c["Wavelength"] for c in bleach["IlluminationChannels"]] == [405], bleach


def check_colors_and_stamps(info, options, channels, frames):
    """The blocks of make-lsm-series -colors and -stamps where asked, else none."""
    colors = [[255, 0, 0, 0], [0, 255, 0, 0], [0, 0, 0, 0], [0, 0, 255, 0]]
    if "-colors" in options:
        block = info["ChannelColors"]
        assert block["Colors"] == [colors[ch % 4] for ch in range(channels)], block
        assert block["ColorNames"] == ["Ch%d-T%d" % (ch + 1, ch + 1)
                                       for ch in range(channels)], block
    else:
        assert info["OffsetChannelColors"] == 0, info
    if "-stamps" in options:
        assert list(info["TimeStamps"]) == [1000 + 2.5 * f for f in range(frames)], info
    else:
        assert info["OffsetTimeStamps"] == 0, info


make_series = sys.argv[1]
with tempfile.TemporaryDirectory() as folder:
    pattern = os.path.join(folder, "cell_t?.lsm")
    raw = os.path.join(folder, "planes.raw")
    # 1 channel, 3 slices, 16-bit; 3 channels, 2 slices, 8-bit (value arrays at offsets); time
    # lapses of 4 frames of 2 slices and 3 channels, and of 5 frames of one plane; the first
    # again LZW-compressed with differencing, the third without, both with the uncompressed sizes
    # in StripByteCounts as microscopes write them; 3 positions of a compressed time lapse, whose
    # data runs frame by frame across positions (tifffile's axis P, outermost in directory order);
    # a line scan of 300 time points in one image, which tifffile reads as T x 1 x X. Two channels
    # are left out: tifffile takes a two-value BitsPerSample for an offset, as old microscope
    # software wrote it, where TIFF keeps the two values inside the entry. tifffile names the axes
    # in the order of the scan type (T, C, Z), drops those of size 1, and fills its array with the
    # images in file order: frame, slice, channel. A file of two channels stores their depths
    # at an offset, as tifffile expects, and a track per channel. The time lapse of 3 channels
    # and the file of tracks carry the channel-colours and time-stamps blocks.
    for options, width, height, positions, frames, slices, channels, bits, axes in (
            ([], 12, 5, 1, 1, 3, 1, 16, "ZYX"), ([], 7, 3, 1, 1, 2, 3, 8, "CZYX"),
            (["-colors", "-stamps"], 7, 5, 1, 4, 2, 3, 16, "TCZYX"),
            ([], 6, 4, 1, 5, 1, 1, 8, "TYX"),
            (["-lzw2"], 12, 5, 1, 1, 3, 1, 16, "ZYX"), (["-lzw"], 7, 5, 1, 4, 2, 3, 16, "TCZYX"),
            (["-lzw", "-p", "3"], 6, 4, 3, 2, 2, 3, 16, "PTCZYX"),
            (["-line", "-lzw2"], 64, 1, 1, 300, 1, 1, 16, "TYX"),
            (["-tracks", "-depths-apart", "-colors", "-stamps"], 7, 3, 1, 1, 2, 2, 8, "CZYX")):
        frames_option = ["-t", str(frames)] if frames > 1 else []
        subprocess.run([make_series] + options + frames_option +
                       [pattern, "1", str(width), str(height), str(slices), str(channels),
                        str(bits), raw], check=True, stdout=subprocess.DEVNULL)
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
            check_colors_and_stamps(info, options, channels, frames)
            if "-tracks" in options:
                check_tracks(scan["Tracks"], channels)
            else:
                lasers = [c["Wavelength"] for c in scan["Tracks"][0]["IlluminationChannels"]]
                assert lasers == [488.0, 561.0, 633.0][:channels], lasers
            series = tif.series[0]
            sizes = {"P": positions, "T": frames, "C": channels, "Z": slices, "Y": height,
                     "X": width}
            assert (series.axes, series.shape) == (axes, tuple(sizes[a] for a in axes)), (
                series.axes, series.shape)
            data = series.asarray()
            dtype = numpy.uint16 if bits == 16 else numpy.uint8
            expected = numpy.fromfile(raw, dtype=dtype).reshape(positions, frames, slices, channels,
                                                                height, width)
            assert numpy.array_equal(data.reshape(expected.shape), expected), "pixels differ"
            assert frames == 1 or not numpy.array_equal(expected[:, 0], expected[:, 1]), "alike"
            assert positions == 1 or not numpy.array_equal(expected[0], expected[1]), "alike"
    # libtiff reads LZW strips by their StripByteCounts, so these hold the true lengths here.
    for options, bits in ((["-lzw"], 16), (["-lzw2"], 8), (["-lzw2"], 16)):
        subprocess.run([make_series, "-true-counts", "-t", "2"] + options +
                       [pattern, "1", "33", "20", "2", "3", str(bits), raw],
                       check=True, stdout=subprocess.DEVNULL)
        strips = libtiff_strips(os.path.join(folder, "cell_t1.lsm"), 2 * 2, 3)
        assert strips == open(raw, "rb").read(), "libtiff decodes other pixels"
print("tifffile reads the writer's LSM files with the same metadata and pixels; libtiff decodes "
      "its LZW strips")
