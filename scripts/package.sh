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
# The package build compiles only what ships: a program built here but missing from the package
# is build time (and a dependency) spent for nothing.
shipped="$(dpkg-deb -c "$deb" | awk '{ print $NF }' | xargs -n1 basename)"
unshipped=0
while IFS= read -r program; do
    if ! grep -qxF "$(basename "$program")" <<<"$shipped"; then
        echo "built but not in the package: $program (left from an older build? remove $build)" >&2
        unshipped=1
    fi
done < <(find "$build" \( -name CMakeFiles -o -name _CPack_Packages \) -prune -o \
    -type f -perm -u+x -exec sh -c 'head -c4 "$1" | grep -q ELF' sh {} \; -print)
[ "$unshipped" = 0 ]
if [ "${1:-}" != "--no-lintian" ]; then
    # Errors fail the build; the warnings left are explained in the README.
    lintian --fail-on error "$deb"
fi
