#!/usr/bin/env bash
# Cross-builds, for 64-bit Windows, the libraries the programs and the tests link with: libtiff
# and libics as DLLs from their source archives (libics is LGPL: users must be able to replace
# it), both with Debian's mingw-w64 zlib, and GoogleTest from Debian's sources. Everything is
# installed into <build>/prefix as each library's own `cmake --install` lays it out. A second run
# with the same archives and this same script does nothing.
#
#   scripts/windows-deps.sh [deps folder] [build folder]
#   (defaults: ../shared/deps and build-windows-deps, relative to the project root)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deps=$(cd "${1:-$top/../shared/deps}" && pwd)
mkdir -p "${2:-$top/build-windows-deps}"
work=$(cd "${2:-$top/build-windows-deps}" && pwd)
prefix="$work/prefix"
toolchain="$top/cmake/mingw-w64-x86_64.cmake"
tiff=tiff-4.5.0
ics=libics-1.6.6
gtest_source=/usr/src/googletest

# The archives must be the ones PROVENANCE.tsv names.
for archive in $tiff.tar.gz $ics.tar.gz; do
  expected=$(awk -F'\t' -v f="$archive" '$1 == f { print $NF }' "$deps/PROVENANCE.tsv")
  actual=$(sha256sum "$deps/$archive" | cut -d' ' -f1)
  if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
    echo "windows-deps: $deps/$archive does not match its sha256 in PROVENANCE.tsv" >&2
    exit 1
  fi
done

stamp="$prefix/.built-from"
wanted=$( (sha256sum "$deps/$tiff.tar.gz" "$deps/$ics.tar.gz" "$0" "$toolchain" | cut -d' ' -f1;
           dpkg-query -W -f='${Version}\n' googletest) )
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
  echo "windows-deps: up to date in $prefix"
  exit 0
fi
rm -rf "$prefix" "$work/src" "$work/obj"
mkdir -p "$work/src" "$work/obj"

configure_build_install() {  # name, source folder, extra CMake arguments...
  local name=$1 source=$2
  shift 2
  local log="$work/obj/$name.log"
  if ! { cmake -S "$source" -B "$work/obj/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
           -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
           -DCMAKE_BUILD_TYPE=Release "$@" &&
         cmake --build "$work/obj/$name" -j2 &&
         cmake --install "$work/obj/$name" --strip; } > "$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "windows-deps: building $name failed, the whole log is $log" >&2
    exit 1
  fi
  echo "windows-deps: $name installed"
}

tar -xzf "$deps/$tiff.tar.gz" -C "$work/src"
tar -xzf "$deps/$ics.tar.gz" -C "$work/src"

# libtiff with the codecs the suite's files use (LZW, PackBits, Deflate) and no optional
# external codec; neither its tools, tests nor documentation. Its POSIX file access rather than
# the Win32 one: C runtime descriptors in binary mode with 64-bit seeks, and the same messages
# as on Linux for a file that cannot be opened ("name: No such file or directory.").
configure_build_install tiff "$work/src/$tiff" -DBUILD_SHARED_LIBS=ON -Dwin32-io=OFF \
  -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF \
  -Dzlib=ON -Dlibdeflate=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF \
  -Dwebp=OFF -Dzstd=OFF -Dsphinx=OFF
configure_build_install libics "$work/src/$ics" -DBUILD_SHARED_LIBS=ON -DLIBICS_USE_ZLIB=ON \
  -DLIBICS_INCLUDE_CPP=OFF
configure_build_install googletest "$gtest_source" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON

# The licences that go with the DLLs, where MSYS2 keeps them: share/licenses/<library>/.
install -D -m 644 "$work/src/$tiff/LICENSE.md" "$prefix/share/licenses/tiff/LICENSE.md"
install -D -m 644 "$work/src/$ics/GNU_LICENSE" "$prefix/share/licenses/libics/GNU_LICENSE"
install -D -m 644 /usr/share/doc/libz-mingw-w64/copyright "$prefix/share/licenses/zlib/copyright"
# The programs link the mingw-w64 runtime (startup code, winpthreads) statically.
install -D -m 644 /usr/share/doc/mingw-w64-common/copyright \
  "$prefix/share/licenses/mingw-w64/copyright"

echo "$wanted" > "$stamp"
