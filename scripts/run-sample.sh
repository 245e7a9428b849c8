#!/usr/bin/env bash
# Writes a small LSM series (3 time points, 2 channels, 12 slices, 16-bit) and converts it
# with lsm-to-ics into one ICS image, to show the program at work.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/$build"
sample="$top/sample"
rm -rf "$sample"
mkdir -p "$sample"
cd "$sample"
echo "Writing the sample series:"
"$bin/tests/make-lsm-series" 'cell_t??.lsm' 3 256 256 12 2 16
echo
echo "Converting: lsm-to-ics -s 1 -j 1 -e 3 cell_t??.lsm -o cell -z 1 12 -c 1 2 -t 30 -S1"
"$bin/tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 -e 3 'cell_t??.lsm' -o cell -z 1 12 -c 1 2 -t 30 -S1 \
  > conversion.log
tail -n 1 conversion.log
echo
echo "The result is in $sample:"
ls -l "$sample"/cell.ics "$sample"/cell.ids
echo "The header (cell.ics) is text; the program's report is in $sample/conversion.log."
