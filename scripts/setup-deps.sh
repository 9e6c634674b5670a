#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git python3
    clang clang-format libclang-rt-14-dev
    zlib1g-dev
    libcups2-dev
    libcurl4-openssl-dev
    libpugixml-dev
    libfmt-dev
    qt6-base-dev qt6-pdf-dev
    libboost-dev
    libavahi-client-dev
    libgtest-dev libgmock-dev
    libbenchmark-dev
    libssl-dev openssl curl
    cups cups-client cups-filters
    pkexec
    poppler-utils
    dbus avahi-daemon avahi-utils util-linux
    lintian desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup-deps: all ${#packages[@]} packages present"
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
