#!/usr/bin/env bash
# Measures each program against the physical floor, with a warm page cache, on inputs made by
# the tests' writer: throughput as a ratio to cat of the same input bytes, and peak memory from
# /usr/bin/time, with the minor page faults (a freshly touched page is dear on virtual machines);
# the best of five runs each. Sizes of 1 GiB and 256 MiB of pixels, and 4 GiB with "large",
# show how the cost grows with the work. Each copying mode is held to its aims: 0.9 of its
# floor or more, and a peak within one plane (2 MiB) plus 8 MiB. LZW-compressed LSM files are
# converted against libtiff alone decoding them (lsm-to-ics -S1 and -ome), a line scan of 2,000
# one-row frames through -ome against twice the time per byte of large planes, and a 1 GiB gzip image is split against zlib
# itself inflating its stream into a file; "gzip" measures only that. Run by hand:
#   bash bench/run.sh [BUILD-FOLDER] [large|gzip]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/${1:-build}"
choice=${2:-}
tools="$bin/tools"
bash "$top/scripts/install-deps.sh"
if [ ! -x /usr/bin/time ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq time
fi
work=$(mktemp -d "${BENCH_DIR:-$top}/bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Runs a command five times, removing the given outputs first each time; prints the best
# "seconds peak-MiB minor-faults".
best_of_five() {
  local outputs=$1
  shift
  for run in 1 2 3 4 5; do
    rm -rf $outputs
    sync
    # Wall time in nanoseconds: /usr/bin/time counts only hundredths of a second.
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f '%M %R' -o time.txt "$@" > /dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) '{ printf "%.4f %.1f %s\n", ns / 1e9, $1 / 1024, $2 }' time.txt
  done | sort -n | head -n 1
}

# Prints one result line: name, seconds, MiB/s, peak memory, minor faults, and the ratio to the
# floor's time for the same bytes (cat, or split -b for one file per plane); with "aim", whether
# the copying mode meets its aims (with a number, the least ratio instead of 0.9).
report() {
  local name=$1 bytes=$2 seconds=$3 peak=$4 faults=$5 floor_seconds=$6 aim=${7:-}
  awk -v n="$name" -v b="$bytes" -v s="$seconds" -v p="$peak" -v f="$faults" \
      -v c="$floor_seconds" -v aim="$aim" 'BEGIN {
    if (s < 0.001) s = 0.001
    verdict = ""
    least = aim == "aim" ? 0.9 : aim + 0
    if (aim != "") verdict = (c / s >= least && p <= 2 + 8) ? "  aims met" : "  AIMS MISSED"
    printf "  %-30s %6.3f s %8.1f MiB/s  peak %7.1f MiB  %8d faults  ratio %.2f%s\n",
           n, s, b / 1048576 / s, p, f, c / s, verdict }'
}

now() { date +%s.%N; }

measure_size() {
  local files=$1 label=$2
  mkdir -p "$label" && cd "$label"
  "$bin/tests/make-lsm-series" 'in_t??.lsm' "$files" 1024 1024 64 2 16 > /dev/null
  local series=(-s 1 -j 1 -e "$files" 'in_t??.lsm' -z 1 64 -c 1 2 -t 1)
  "$tools/lsm-to-ics/lsm-to-ics" "${series[@]}" -o image -S1 > /dev/null
  # A version-2 image holds its data after the header, at an offset that is no multiple of the
  # page size, which makes every write dearer: its floor is cat writing after such a header.
  "$tools/lsm-to-ics/lsm-to-ics" "${series[@]}" -o embedded -S2 > /dev/null
  head -c $(($(stat -c %s embedded.ics) - $(stat -c %s image.ids))) embedded.ics > header
  rm embedded.ics
  mkdir -p planes
  "$tools/ics-split/ics-split" -i image -o planes/p > /dev/null
  local plane_count
  plane_count=$(ls planes | wc -l)
  sync
  cat in_t*.lsm image.ids planes/*.tif > /dev/null  # warm the page cache
  local pixels input planes s p f
  pixels=$(stat -c %s image.ids)
  input=$(du -cb in_t*.lsm | tail -n 1 | cut -f1)
  planes=$(du -cb planes/*.tif | tail -n 1 | cut -f1)
  echo "$label: $files LSM files of $((input / files / 1048576)) MiB, one plane 2 MiB," \
       "$plane_count TIFF planes"

  read -r s p f < <(best_of_five cat.out sh -c 'cat in_t*.lsm > cat.out')
  local cat_lsm=$s
  report "cat of the LSM files" "$input" "$s" "$p" "$f" "$cat_lsm"
  read -r s p f < <(best_of_five "out.ics out.ids" \
                    "$tools/lsm-to-ics/lsm-to-ics" "${series[@]}" -o out -S1)
  report "lsm-to-ics -S1" "$input" "$s" "$p" "$f" "$cat_lsm" aim
  read -r s p f < <(best_of_five cat.out sh -c 'cat header in_t*.lsm > cat.out')
  local cat_lsm_after_header=$s
  report "cat of header and LSM files" "$input" "$s" "$p" "$f" "$cat_lsm_after_header"
  read -r s p f < <(best_of_five "out.ics out.ids" \
                    "$tools/lsm-to-ics/lsm-to-ics" "${series[@]}" -o out -S2)
  report "lsm-to-ics -S2" "$input" "$s" "$p" "$f" "$cat_lsm_after_header" aim
  read -r s p f < <(best_of_five out.ome.tif \
                    "$tools/lsm-to-ics/lsm-to-ics" "${series[@]}" -o out -ome)
  report "lsm-to-ics -ome" "$input" "$s" "$p" "$f" "$cat_lsm" aim

  read -r s p f < <(best_of_five cat.out sh -c 'cat image.ids > cat.out')
  local cat_ids=$s
  report "cat of the data file" "$pixels" "$s" "$p" "$f" "$cat_ids"
  read -r s p f < <(best_of_five cat.out sh -c 'cat header image.ids > cat.out')
  local cat_ids_after_header=$s
  report "cat of header and data file" "$pixels" "$s" "$p" "$f" "$cat_ids_after_header"
  # One file per plane has a floor of its own: coreutils' split into files of a plane each.
  mkdir -p split
  read -r s p f < <(best_of_five "split/*" split -b 2097152 image.ids split/x)
  local split_ids=$s
  report "split -b of the data file" "$pixels" "$s" "$p" "$f" "$cat_ids"
  read -r s p f < <(best_of_five "split/*" "$tools/ics-split/ics-split" -i image -o split/p)
  report "ics-split -tif (to cat)" "$pixels" "$s" "$p" "$f" "$cat_ids"
  report "ics-split -tif (to split)" "$pixels" "$s" "$p" "$f" "$split_ids" aim
  read -r s p f < <(best_of_five "sub.ics sub.ids" "$tools/ics-split/ics-split" -i image -o sub -s1)
  report "ics-split -s1" "$pixels" "$s" "$p" "$f" "$cat_ids" aim
  read -r s p f < <(best_of_five "sub.ics sub.ids" "$tools/ics-split/ics-split" -i image -o sub -s2)
  report "ics-split -s2" "$pixels" "$s" "$p" "$f" "$cat_ids_after_header" aim
  read -r s p f < <(best_of_five sub.ome.tif "$tools/ics-split/ics-split" -i image -o sub -ome)
  local ome=$s
  report "ics-split -ome" "$pixels" "$s" "$p" "$f" "$cat_ids" aim
  # The same bytes as planes of 16 KiB, a page each: within twice the time of 2 MiB planes.
  printf '\t\nics_version\t1.0\nfilename\tsmall\nlayout\tparameters\t4\nlayout\torder\tbits\tx\ty\tz
layout\tsizes\t16\t128\t64\t%d\nlayout\tsignificant_bits\t16\nrepresentation\tformat\tinteger
representation\tsign\tunsigned\nrepresentation\tbyte_order\t1\t2\nparameter\tlabels\tintensity\tx\ty\tz
' $((pixels / 16384)) > small.ics
  ln -sf image.ids small.ids
  read -r s p f < <(best_of_five sub.ome.tif "$tools/ics-split/ics-split" -i small -o sub -ome)
  report "ics-split -ome, 16 KiB planes" "$pixels" "$s" "$p" "$f" "$ome" 0.5

  read -r s p f < <(best_of_five cat.out sh -c 'cat planes/*.tif > cat.out')
  local cat_tif=$s
  report "cat of the TIFF planes" "$planes" "$s" "$p" "$f" "$cat_tif"
  read -r s p f < <(best_of_five stack.ids "$tools/tiff-to-ids/tiff-to-ids" -i "$plane_count" \
                    planes/*.tif -o stack)
  report "tiff-to-ids" "$planes" "$s" "$p" "$f" "$cat_tif" aim
  rm -rf cat.out out.* sub.* split stack.ids header small.*
  cd ..
}

# Compressed LSM files (LZW with Predictor 2, noisy pixels that shrink as recorded images do)
# against libtiff alone decoding the same images of copies with true strip byte counts.
measure_compressed() {
  local files=$1 label=$2
  mkdir -p "$label" && cd "$label"
  g++ -O2 -o decode-with-libtiff "$top/bench/decode_with_libtiff.cpp" -ltiff
  "$bin/tests/make-lsm-series" -lzw2 -noisy 'in_t??.lsm' "$files" 1024 1024 64 2 16 > /dev/null
  "$bin/tests/make-lsm-series" -lzw2 -noisy -true-counts 'true_t??.lsm' "$files" 1024 1024 64 2 \
    16 > /dev/null
  sync
  cat in_t*.lsm true_t*.lsm > /dev/null  # warm the page cache
  local input pixels s p f
  input=$(du -cb in_t*.lsm | tail -n 1 | cut -f1)
  pixels=$((files * 64 * 2 * 2097152))
  echo "$label: $files LZW-compressed LSM files of $((input / files / 1048576)) MiB," \
       "$((pixels / 1048576)) MiB of pixels"
  read -r s p f < <(best_of_five decoded.raw ./decode-with-libtiff decoded.raw true_t*.lsm)
  local libtiff=$s
  report "libtiff decoding the images" "$pixels" "$s" "$p" "$f" "$libtiff"
  read -r s p f < <(best_of_five "out.ics out.ids" "$tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 \
                    -e "$files" 'in_t??.lsm' -z 1 64 -c 1 2 -t 1 -o out -S1)
  report "lsm-to-ics -S1 of LZW files" "$pixels" "$s" "$p" "$f" "$libtiff" aim
  read -r s p f < <(best_of_five out.ome.tif "$tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 \
                    -e "$files" 'in_t??.lsm' -z 1 64 -c 1 2 -t 1 -o out -ome)
  report "lsm-to-ics -ome of LZW files" "$pixels" "$s" "$p" "$f" "$libtiff" aim
  rm -f decoded.raw out.ics out.ids out.ome.tif
  cd ..
}

# A line scan of 2,000 frames, each plane one row of 8,192 16-bit samples, in two channels,
# through lsm-to-ics -ome: within twice the time per byte of a file of 2 MiB planes of about the
# same size, measured beside it.
measure_line_scan() {
  mkdir -p "line scan" && cd "line scan"
  "$bin/tests/make-lsm-series" -line -t 2000 'ln_t?.lsm' 1 8192 1 1 2 16 > /dev/null
  "$bin/tests/make-lsm-series" 'big_t?.lsm' 1 1024 1024 16 2 16 > /dev/null
  cat ln_t1.lsm big_t1.lsm > /dev/null  # warm the page cache
  local line_pixels=$((2000 * 2 * 8192 * 2)) big_pixels=$((16 * 2 * 1048576 * 2)) s p f
  echo "line scan: 2000 frames of one row of 8192 16-bit samples, 2 channels, 4000 pages"
  read -r s p f < <(best_of_five out.ome.tif "$tools/lsm-to-ics/lsm-to-ics" big_t1.lsm -o out -ome)
  report "lsm-to-ics -ome, 2 MiB planes" "$big_pixels" "$s" "$p" "$f" "$s"
  local twice_large
  twice_large=$(awk -v s="$s" -v l="$line_pixels" -v b="$big_pixels" 'BEGIN { print 2 * s * l / b }')
  read -r s p f < <(best_of_five out.ome.tif "$tools/lsm-to-ics/lsm-to-ics" ln_t1.lsm -o out -ome)
  report "lsm-to-ics -ome of a line scan" "$line_pixels" "$s" "$p" "$f" "$twice_large" 1
  cd ..
}

# Writes a version-2 ICS image of 1 GiB of 16-bit samples (x 1024, y 1024, z 256, ch 2) with
# its data gzipped by zlib at level 6, as the ICS writers do by default: a smooth signal with
# noise, which compresses about as microscope images do. Prints where the data starts.
make_gzip_image() {
  /usr/bin/python3 - "$1" <<'PY'
import sys, zlib, numpy
header = ("\t\nics_version\t2.0\nfilename\tgz\nlayout\tparameters\t5\n"
          "layout\torder\tbits\tx\ty\tz\tch\nlayout\tsizes\t16\t1024\t1024\t256\t2\n"
          "layout\tsignificant_bits\t16\nrepresentation\tformat\tinteger\n"
          "representation\tsign\tunsigned\nrepresentation\tcompression\tgzip\n"
          "representation\tbyte_order\t1\t2\nparameter\tlabels\tintensity\tx\ty\tz\tch\n"
          "end\n").encode()
random = numpy.random.default_rng(1)
y, x = numpy.mgrid[0:1024, 0:1024]
signal = 300 + 200 * numpy.sin(x / 40.0) * numpy.cos(y / 55.0)
packer = zlib.compressobj(6, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
with open(sys.argv[1], "wb") as f:
    f.write(header)
    for plane in range(512):
        values = signal * (1 + plane / 1000) + random.normal(0, 12, signal.shape)
        f.write(packer.compress(values.clip(0, 65535).astype("<u2").tobytes()))
    f.write(packer.flush())
print(len(header))
PY
}

measure_gzip() {
  mkdir -p gzip && cd gzip
  cc -O2 -D_FILE_OFFSET_BITS=64 "$top/bench/inflate_file.c" -lz -o inflate-file
  local offset pixels=$((1024 * 1024 * 2 * 256 * 2)) s p f
  offset=$(make_gzip_image gz.ics)
  echo "gzip: a version-2 ICS image of 1 GiB of pixels, level 6, $(($(stat -c %s gz.ics) / 1048576))" \
       "MiB stored; one plane 2 MiB, 512 planes"
  cat gz.ics > /dev/null  # warm the page cache
  read -r s p f < <(best_of_five floor.out ./inflate-file gz.ics "$offset" floor.out)
  local floor=$s
  report "zlib inflating into a file" "$pixels" "$s" "$p" "$f" "$floor"
  read -r s p f < <(best_of_five "sub.ics sub.ids" "$tools/ics-split/ics-split" -i gz -o sub -s1)
  report "ics-split -s1 of gzip" "$pixels" "$s" "$p" "$f" "$floor" aim
  mkdir -p planes
  read -r s p f < <(best_of_five "planes/*" "$tools/ics-split/ics-split" -i gz -o planes/p)
  report "ics-split -tif of gzip" "$pixels" "$s" "$p" "$f" "$floor" aim
  read -r s p f < <(best_of_five sub.ome.tif "$tools/ics-split/ics-split" -i gz -o sub -ome)
  report "ics-split -ome of gzip" "$pixels" "$s" "$p" "$f" "$floor" aim
  cd ..
  rm -rf gzip
}

echo "$(nproc) cores, $(uname -m); warm page cache; best of five runs"
if [ "$choice" = gzip ]; then
  measure_gzip
  exit 0
fi
[ "$choice" = large ] && measure_size 16 "4 GiB"
measure_size 4 "1 GiB"
measure_size 1 "256 MiB"
measure_line_scan
measure_compressed 4 "1 GiB compressed"
measure_gzip

# image-info against Debian's tifffile reading the same metadata of the same LSM file.
lsm="1 GiB/in_t01.lsm"
if /usr/bin/python3 -c 'import tifffile' 2> /dev/null; then
  runs=20
  start=$(now)
  for i in $(seq $runs); do "$tools/image-info/image-info" "$lsm" > /dev/null; done
  ours=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
  start=$(now)
  for i in $(seq $runs); do
    /usr/bin/python3 -c 'import sys, tifffile
with tifffile.TiffFile(sys.argv[1]) as t:
    m = t.lsm_metadata
    s = m["ScanInformation"]
    print(m["DimensionZ"], m["DimensionTime"], m["VoxelSizeX"], s["Sample0time"])' "$lsm" > /dev/null
  done
  theirs=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
  awk -v o="$ours" -v t="$theirs" -v n="$runs" 'BEGIN {
    printf "image-info %.1f ms a run, tifffile %.1f ms a run: ratio of wall time %.0f\n",
           o * 1000 / n, t * 1000 / n, t / o }'
fi
