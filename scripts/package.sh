#!/usr/bin/env bash
# Builds the Debian package build/package/velmora_<version>_amd64.deb and checks it with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
build="build/package"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DVELMORA_SYSTEM_DIR=/var/lib/velmora \
    -DVELMORA_PROGRAM_DIR=lib/velmora \
    -DVELMORA_BACKEND_SPOOL_DIR=/var/spool/velmora \
    -DVELMORA_SYSTEMD_UNIT_DIR=/lib/systemd/system \
    -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build "$build" -j "${VELMORA_JOBS:-$(nproc)}"
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/velmora_*_amd64.deb)"
echo "package: $deb"
if [ "${1:-}" != "--no-lintian" ]; then
    # Errors fail the build; the warnings left are explained in the README.
    lintian --fail-on error "$deb"
fi
