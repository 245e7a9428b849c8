#!/usr/bin/env bash
# Measures lsm-to-ics version 1 against cat of the same files into one output, warm page cache,
# same disk: throughput ratio and peak memory, the best of three runs each.
# Run by hand: bash bench/lsm-to-ics.sh [BUILD] [FILES]
# Each file holds 2 channels x 64 planes of 1024 x 1024 16-bit pixels (256 MiB of pixels).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/${1:-build}"
files=${2:-4}
work=$(mktemp -d "${BENCH_DIR:-$top}/bench-lsm-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/tests/make-lsm-series" 'in_t??.lsm' "$files" 1024 1024 64 2 16 >/dev/null
sync  # the inputs' writeback must not fall into the timed runs
cat in_t*.lsm > /dev/null  # warm the page cache

# Runs a command three times under /usr/bin/time, removing its output (the file $1) before
# each run; prints the best "seconds peak-KiB".
best_of_three() {
  local output=$1
  shift
  for run in 1 2 3; do
    rm -f "$output"
    sync
    /usr/bin/time -f '%e %M' -o time.txt "$@" > /dev/null
    cat time.txt
  done | sort -n | head -n 1
}
read -r cat_seconds cat_kib < <(best_of_three cat.out sh -c 'cat in_t*.lsm > cat.out')
rm -f cat.out
read -r v1_seconds v1_kib < <(best_of_three out.ids "$bin/tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 \
  -e "$files" 'in_t??.lsm' -o out -z 1 64 -c 1 2 -t 1 -S1)
bytes=$(stat -c %s out.ids)
input=$(du -cb in_t*.lsm | tail -n 1 | cut -f1)
awk -v b="$bytes" -v i="$input" -v cs="$cat_seconds" -v vs="$v1_seconds" -v ck="$cat_kib" \
    -v vk="$v1_kib" -v cores="$(nproc)" 'BEGIN {
  printf "input %.0f MiB, pixels copied %.0f MiB, %d cores\n", i / 1048576, b / 1048576, cores
  printf "cat:            %6.2f s  %7.1f MiB/s  peak %6.1f MiB\n", cs, i / 1048576 / cs, ck / 1024
  printf "lsm-to-ics -S1: %6.2f s  %7.1f MiB/s  peak %6.1f MiB\n", vs, b / 1048576 / vs, vk / 1024
  printf "throughput ratio (lsm-to-ics / cat): %.2f\n", (b / vs) / (i / cs)
}'
