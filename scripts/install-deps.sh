#!/usr/bin/env bash
# Installs, on Debian, the packages the build and the tests need (or the packages named as
# arguments), only those that are missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libics-dev libtiff-dev zlib1g-dev libgtest-dev python3-tifffile libxml2-utils)
[ $# -eq 0 ] || packages=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
