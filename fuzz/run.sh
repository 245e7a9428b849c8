#!/usr/bin/env bash
# Fuzzes the four programs with AFL++, lsm-to-ics and ics-split each once more with -ome (as
# lsm-to-ics-ome and ics-split-ome): builds instrumented binaries (AddressSanitizer and
# UndefinedBehaviorSanitizer), seeds each from small valid files made by the tests' writers, and
# runs each program for the given time. Findings land in build-fuzz/findings/PROGRAM/.
#   bash fuzz/run.sh [SECONDS-PER-PROGRAM] [PROGRAM...]
# With FUZZ_SKIP_BUILD=1 the binaries of an earlier run are used, so that two runs on different
# programs can share one build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-1200}
shift || true
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(lsm-to-ics lsm-to-ics-ome image-info ics-split ics-split-ome tiff-to-ids)

if ! command -v afl-fuzz >/dev/null || ! command -v afl-clang-fast++ >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq afl++ clang
fi
bash "$top/scripts/install-deps.sh"

fuzz="$top/build-fuzz"
if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  # The writers that make the seeds, built plainly; the programs, instrumented.
  cmake -S "$top" -B "$fuzz/plain" -DCMAKE_BUILD_TYPE=Release > /dev/null
  cmake --build "$fuzz/plain" -j2 --target make-lsm-series lsm-to-ics ics-split > /dev/null
  AFL_USE_ASAN=1 AFL_USE_UBSAN=1 CC=afl-clang-fast CXX=afl-clang-fast++ \
    cmake -S "$top" -B "$fuzz/afl" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLSM_BUILD_TESTS=OFF \
    > /dev/null
  AFL_USE_ASAN=1 AFL_USE_UBSAN=1 cmake --build "$fuzz/afl" -j2 > /dev/null
fi

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1
plain="$fuzz/plain"
afl="$fuzz/afl/tools"

# Seeds: a small LSM series, a time lapse, a compressed file of two positions, a file of a track
# per channel with its depths at an offset, a time lapse with channel colours and stamps, the ICS
# images of both versions that lsm-to-ics makes of the series (the version-2 one also with its
# data gzipped), and a TIFF plane.
seed_files() {
  local seeds=$1 work=$2
  mkdir -p "$seeds" "$work"
  (cd "$work" && "$plain/tests/make-lsm-series" 'seed_t?.lsm' 1 6 4 3 2 16 > /dev/null \
     && "$plain/tests/make-lsm-series" 'one_t?.lsm' 1 5 3 1 3 8 > /dev/null \
     && "$plain/tests/make-lsm-series" -t 3 'lapse_t?.lsm' 1 5 3 2 2 16 > /dev/null \
     && "$plain/tests/make-lsm-series" -lzw2 -p 2 'packed_t?.lsm' 1 5 3 2 2 16 > /dev/null \
     && "$plain/tests/make-lsm-series" -tracks -depths-apart 'tracks_t?.lsm' 1 5 3 1 2 8 \
          > /dev/null \
     && "$plain/tests/make-lsm-series" -t 2 -tracks -colors -stamps 'decor_t?.lsm' 1 5 3 1 2 8 \
          > /dev/null \
     && "$plain/tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 -e 1 'seed_t?.lsm' -o image -z 1 3 \
          -c 1 2 -t 1 -S1 > /dev/null \
     && "$plain/tools/lsm-to-ics/lsm-to-ics" -s 1 -j 1 -e 1 'seed_t?.lsm' -o embedded -z 1 3 \
          -c 1 2 -t 1 -S2 > /dev/null \
     && /usr/bin/python3 -c 'import gzip
image = open("embedded.ics", "rb").read()
end = image.index(b"\n", image.index(b"\nend") + 1) + 1
header = image[:end].replace(b"compression\tuncompressed", b"compression\tgzip")
open("gzipped.ics", "wb").write(header + gzip.compress(image[end:]))')
}

run_fuzzer() {
  local program=$1
  local findings="$fuzz/findings/$program" seeds="$fuzz/seeds/$program" work="$fuzz/work/$program"
  rm -rf "$findings" "$seeds" "$work"
  mkdir -p "$fuzz/findings"
  seed_files "$seeds" "$work"
  local target=() input
  case "$program" in
    lsm-to-ics | lsm-to-ics-ome)
      cp "$work/seed_t1.lsm" "$work/one_t1.lsm" "$work/lapse_t1.lsm" "$work/packed_t1.lsm" \
         "$work/tracks_t1.lsm" "$work/decor_t1.lsm" "$seeds/"
      input="$work/in1.lsm"
      local mode=(-a -S2)
      [ "$program" = lsm-to-ics-ome ] && mode=(-ome)
      target=("$afl/lsm-to-ics/lsm-to-ics" -s 1 -j 1 -e 1 "$work/in?.lsm" -o "$work/out" -z 1 1
              -c 1 2 -t 1 -p 1 "${mode[@]}") ;;
    image-info)
      cp "$work/seed_t1.lsm" "$work/one_t1.lsm" "$work/tracks_t1.lsm" "$seeds/"
      input="$work/input.lsm"
      target=("$afl/image-info/image-info" "$input") ;;
    ics-split | ics-split-ome)
      cp "$work/image.ics" "$work/embedded.ics" "$work/gzipped.ics" "$seeds/"
      cp "$work/image.ids" "$work/in.ids"
      input="$work/in.ics"
      local mode=-s2
      [ "$program" = ics-split-ome ] && mode=-ome
      target=("$afl/ics-split/ics-split" -i "$work/in" -o "$work/out" "$mode") ;;
    tiff-to-ids)
      (cd "$work" && "$plain/tools/ics-split/ics-split" -i image -o plane -z 1 1 -t 1 1 -c 1 \
         -t 1 1 > /dev/null)
      cp "$work/seed_t1.lsm" "$seeds/lsm.tif"
      cp "$work/plane_ch01t0001z001.tif" "$seeds/plane.tif"
      input="$work/in.tif"
      # The data file is appended to at every run: let it be /dev/null.
      ln -sf /dev/null "$work/out.ids"
      target=("$afl/tiff-to-ids/tiff-to-ids" -i 1 "$input" -o "$work/out") ;;
    *) echo "unknown program $program" >&2; exit 2 ;;
  esac
  echo "== $program: $seconds s"
  afl-fuzz -i "$seeds" -o "$findings" -f "$input" -t 2000 -m none -V "$seconds" -- "${target[@]}" \
    > "$fuzz/$program.log" 2>&1 || true
  local stats="$findings/default/fuzzer_stats"
  if [ -f "$stats" ]; then
    grep -E '^(execs_done|saved_crashes|saved_hangs|corpus_count) ' "$stats" | tr -s ' ' | sed 's/^/   /'
  else
    echo "   afl-fuzz did not start; see $fuzz/$program.log"
  fi
}

for program in "${programs[@]}"; do run_fuzzer "$program"; done
