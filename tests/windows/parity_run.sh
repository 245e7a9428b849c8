#!/usr/bin/env bash
# The suite's end-to-end cases run twice, in separate folders: by the Linux build's programs and
# by the Windows build's programs under wine. Every output file must be the same byte for byte,
# standard output the same up to line ends (CRLF or LF), standard error and exit status the same.
#
#   tests/windows/parity_run.sh [linux build] [windows build]     (defaults: build, build-windows)
#
# Inputs come from the tests' writer (make-lsm-series) and from the Linux programs themselves;
# the real samples of ../shared/samples are used in place where that folder exists. A case whose
# Windows program was not built is reported as skipped, or fails with PARITY_REQUIRE_ALL=1.
# PARITY_VERBOSE=1 shows the first lines that differ, PARITY_KEEP=1 keeps the folders.
# LSM_ICS_BIG_TESTS=1 adds the conversion of an LSM file of 4.5 GiB (it writes 13.5 GiB).
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$(cd "$top" && cd "${1:-build}" && pwd) || exit 1
windows_build=$(cd "$top" && cd "${2:-build-windows}" && pwd) || exit 1
samples="$top/../shared/samples"
programs=(lsm-to-ics image-info ics-split tiff-to-ids)
linux_program() { echo "$linux_build/tools/$1/$1"; }
windows_program() { echo "$windows_build/bin/$1.exe"; }
linux_files=("$linux_build/tests/make-lsm-series")
for program in "${programs[@]}"; do linux_files+=("$(linux_program "$program")"); done
for file in "${linux_files[@]}"; do
  if [ ! -x "$file" ]; then
    echo "parity: $file missing: build the Linux programs and tests first" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lsm-ics-parity-XXXXXX")
if [ -n "${PARITY_KEEP:-}" ]; then
  echo "parity: the cases' folders and captured output are kept in $work"
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/inputs" "$work/linux" "$work/windows" "$work/captured"

# wine quiet, arguments read as UTF-8, its prefix made before the first case (tests/windows/
# with_wine.sh keeps its server up between the many short runs).
export WINEDEBUG=-all LC_ALL=C.UTF-8
wine_command=$(command -v wine64 || command -v wine) || { echo "parity: no wine" >&2; exit 1; }
"$wine_command" cmd /c exit < /dev/null > /dev/null 2>&1

passed=() failed=() skipped=()

# case NAME PROGRAM "INPUT..." ARG...: copies the inputs (from the inputs folder) into a fresh
# folder per side, runs PROGRAM there with the arguments on each side and compares.
case_run() {
  local name=$1 program=$2 inputs=$3
  shift 3
  local exe
  exe=$(windows_program "$program")
  if [ ! -f "$exe" ]; then
    skipped+=("$name")
    return
  fi
  local side
  for side in linux windows; do
    mkdir -p "$work/$side/$name"
    local input
    for input in $inputs; do cp "$work/inputs/$input" "$work/$side/$name/"; done
  done
  local capture="$work/captured/$name"
  (cd "$work/linux/$name" && "$(linux_program "$program")" "$@" > "$capture.linux.out" \
     2> "$capture.linux.err" < /dev/null; echo $? > "$capture.linux.status")
  (cd "$work/windows/$name" && "$wine_command" "$exe" "$@" > "$capture.windows.out" \
     2> "$capture.windows.err" < /dev/null; echo $? > "$capture.windows.status")
  compare "$name"
}

compare() {
  local name=$1 capture="$work/captured/$1" faults=()
  cmp -s "$capture.linux.status" "$capture.windows.status" ||
    faults+=("exit status $(cat "$capture.linux.status") on Linux, $(cat "$capture.windows.status") under wine")
  cmp -s <(sed 's/\r$//' "$capture.linux.out") <(sed 's/\r$//' "$capture.windows.out") ||
    faults+=("standard output differs")
  if ! cmp -s "$capture.linux.err" "$capture.windows.err"; then
    if cmp -s <(sed 's/\r$//' "$capture.linux.err") <(sed 's/\r$//' "$capture.windows.err"); then
      faults+=("standard error differs in its line ends only (CRLF)")
    else
      faults+=("standard error differs")
    fi
  fi
  local linux_files windows_files
  linux_files=$(cd "$work/linux/$name" && find . -type f | sort)
  windows_files=$(cd "$work/windows/$name" && find . -type f | sort)
  if [ "$linux_files" != "$windows_files" ]; then
    faults+=("different files: $(echo $linux_files) / $(echo $windows_files)")
  else
    local file
    while IFS= read -r file; do
      [ -n "$file" ] || continue
      cmp -s "$work/linux/$name/$file" "$work/windows/$name/$file" || faults+=("${file#./} differs")
    done <<< "$linux_files"
  fi
  if [ ${#faults[@]} -eq 0 ]; then
    passed+=("$name")
    echo "pass  $name"
  else
    failed+=("$name")
    echo "FAIL  $name: $(IFS=';'; echo "${faults[*]}")"
    if [ -n "${PARITY_VERBOSE:-}" ]; then
      diff <(sed 's/\r$//' "$capture.linux.out") <(sed 's/\r$//' "$capture.windows.out") | head -5
      diff "$capture.linux.err" "$capture.windows.err" | head -5
    fi
  fi
}

# The inputs, made on Linux: LSM series by the tests' writer, ICS images and TIFF planes by the
# Linux programs, damaged copies for the failing cases.
make_inputs() {
  local series="$linux_build/tests/make-lsm-series"
  cd "$work/inputs" || exit 1
  "$series" 'cell_t??.lsm' 2 64 48 4 2 16 > /dev/null &&
    "$series" -lzw2 -noisy 'lzw_t?.lsm' 1 64 48 3 2 8 > /dev/null &&
    "$series" -tracks 'tracks_t?.lsm' 1 32 32 2 2 8 > /dev/null &&
    "$series" -t 3 'lapse_t?.lsm' 1 32 24 2 1 16 > /dev/null || exit 1
  cp cell_t01.lsm Zellkern_ü.lsm
  head -c 600 cell_t01.lsm > cut.lsm
  echo "not an image" > text.lsm
  cp text.lsm text.tif
  "$(linux_program lsm-to-ics)" cell_t01.lsm cell_t02.lsm -o image1 -t 30 -S1 > /dev/null &&
    "$(linux_program lsm-to-ics)" cell_t01.lsm cell_t02.lsm -o image2 -t 30 -S2 > /dev/null &&
    "$(linux_program ics-split)" -i image1 -o plane -c 1 -t 1 1 > /dev/null || exit 1
  # A version-1 image with gzip data, as other software writes it.
  sed 's/^\(representation\tcompression\t\)uncompressed/\1gzip/' image1.ics > gzipped.ics
  gzip -c image1.ids > gzipped.ids.gz
  # Data cut short: the header promises more than the data file holds.
  cp image1.ics short.ics
  head -c 1000 image1.ids > short.ids
  planes=$(ls plane_*.tif | head -n 3 | tr '\n' ' ')
  planes=${planes% }
  # Names outside ASCII for the files that libics and libtiff open.
  cp image1.ics Zellkern_ü.ics
  cp image1.ids Zellkern_ü.ids
  cp "${planes%% *}" Ebene_ü.tif
}

case_runs() {
  local series="cell_t01.lsm cell_t02.lsm"
  case_run lsm-to-ics_S1 lsm-to-ics "$series" cell_t01.lsm cell_t02.lsm -o out -t 30 -S1
  case_run lsm-to-ics_S2_pattern lsm-to-ics "$series" -s 1 -j 1 -e 2 'cell_t??.lsm' -o out -t 30 -S2
  case_run lsm-to-ics_channels_reversed lsm-to-ics "$series" cell_t01.lsm -o out -z 2 3 -c 2 1 -t 5 -S1
  case_run lsm-to-ics_acquisition_optics lsm-to-ics tracks_t1.lsm tracks_t1.lsm -o out -a
  case_run lsm-to-ics_lzw lsm-to-ics lzw_t1.lsm lzw_t1.lsm -o out -S1
  case_run lsm-to-ics_time_lapse lsm-to-ics lapse_t1.lsm lapse_t1.lsm -o out.x -S2
  case_run lsm-to-ics_non_ascii_name lsm-to-ics Zellkern_ü.lsm Zellkern_ü.lsm -o Zellkern_ü -S1
  case_run lsm-to-ics_ome lsm-to-ics "$series" cell_t01.lsm cell_t02.lsm -o out -t 30 -ome
  case_run lsm-to-ics_lzw_ome lsm-to-ics lzw_t1.lsm lzw_t1.lsm -o out -ome
  case_run lsm-to-ics_bad_option lsm-to-ics "$series" cell_t01.lsm -o out -q
  case_run lsm-to-ics_cut_file lsm-to-ics cut.lsm cut.lsm -o out
  case_run lsm-to-ics_not_tiff lsm-to-ics text.lsm text.lsm -o out -S1
  case_run lsm-to-ics_missing_file lsm-to-ics "" absent.lsm -o out

  case_run image-info_lsm image-info cell_t01.lsm cell_t01.lsm
  case_run image-info_lzw image-info lzw_t1.lsm lzw_t1.lsm
  case_run image-info_tiff image-info "$planes" ${planes%% *}
  case_run image-info_non_ascii_name image-info Zellkern_ü.lsm Zellkern_ü.lsm
  case_run image-info_cut_file image-info cut.lsm cut.lsm
  case_run image-info_not_tiff image-info text.tif text.tif
  case_run image-info_missing_file image-info "" absent.tif
  case_run image-info_no_argument image-info ""

  local image1="image1.ics image1.ids"
  case_run ics-split_tif ics-split "$image1" -i image1 -o p -tif
  case_run ics-split_s1 ics-split "$image1" -i image1.ics -o sub -z 2 3 -c 2 1 -t 1 2 -s1
  case_run ics-split_s2_of_version_2 ics-split image2.ics -i image2 -o sub -t 2 2 -s2
  case_run ics-split_ome ics-split "$image1" -i image1 -o sub -c 2 1 -t 1 2 -ome
  case_run ics-split_gzip ics-split "gzipped.ics gzipped.ids.gz" -i gzipped -o sub -s1
  case_run ics-split_gzip_ome ics-split "gzipped.ics gzipped.ids.gz" -i gzipped -o sub -ome
  case_run ics-split_short_data ics-split "short.ics short.ids" -i short -o sub -s1
  case_run ics-split_bad_option ics-split "$image1" -i image1 -o sub -q
  case_run ics-split_missing_file ics-split "" -i absent -o sub
  local named="Zellkern_ü.ics Zellkern_ü.ids"
  case_run ics-split_non_ascii_tif ics-split "$named" -i Zellkern_ü -o Ebene_ü -tif
  case_run ics-split_non_ascii_s2 ics-split "$named" -i Zellkern_ü.ics -o Teil_ü -t 2 2 -s2

  local count
  count=$(echo $planes | wc -w)
  case_run tiff-to-ids tiff-to-ids "$planes" -z 1 2 -ch 1 -i "$count" $planes -o stack.ics
  case_run tiff-to-ids_appends tiff-to-ids "$planes image1.ids" -i "$count" $planes -o image1
  case_run tiff-to-ids_skips_bad tiff-to-ids "$planes text.tif" -i 2 text.tif ${planes%% *} -o stack
  case_run tiff-to-ids_missing_file tiff-to-ids "" -i 1 absent.tif
  case_run tiff-to-ids_non_ascii_name tiff-to-ids Ebene_ü.tif -i 1 Ebene_ü.tif -o Stapel_ü

  if [ -d "$samples" ]; then
    local sample
    for sample in "$samples"/*.lsm; do
      local base
      base=$(basename "$sample" .lsm)
      case_run "image-info_sample_$base" image-info "" "$sample"
      case_run "lsm-to-ics_sample_$base" lsm-to-ics "" "$sample" -o out -S1
      case_run "lsm-to-ics_sample_${base}_a" lsm-to-ics "" "$sample" -o out -a
    done
  fi
}

# A file above 4 GiB (nine planes of 512 MiB), named in place rather than copied to each side.
big_case() {
  cd "$work/inputs" || exit 1
  "$linux_build/tests/make-lsm-series" 'big_t?.lsm' 1 16384 16384 9 1 16 > /dev/null || exit 1
  case_run lsm-to-ics_above_4_GiB lsm-to-ics "" "$work/inputs/big_t1.lsm" -o out -S1
  case_run image-info_above_4_GiB image-info "" "$work/inputs/big_t1.lsm"
  rm -rf "$work/linux/lsm-to-ics_above_4_GiB" "$work/windows/lsm-to-ics_above_4_GiB" big_t1.lsm
}

make_inputs
case_runs
[ -n "${LSM_ICS_BIG_TESTS:-}" ] && big_case

echo "parity: ${#passed[@]} passed, ${#failed[@]} failed, ${#skipped[@]} skipped (no Windows program)"
[ ${#skipped[@]} -eq 0 ] || echo "skipped: ${skipped[*]}"
[ ${#failed[@]} -eq 0 ] || exit 1
[ ${#skipped[@]} -eq 0 ] || [ -z "${PARITY_REQUIRE_ALL:-}" ] || exit 1
exit 0
