#!/usr/bin/env bash
# The main job on a fresh machine: build the programs, make a sample print job as the print
# system would render it, and convert it into the BMP pages that travel to the remote printer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target kestroVLConvert velmora-make-raster

work="$(mktemp -d /tmp/velmora-demo-XXXXXX)"
raster="$work/job.raster"
pages="$work/pages"

build/release/tools/rastergen/velmora-make-raster "$raster" 3 150 8 compressed
build/release/rasterconv/kestroVLConvert "$raster" "$pages"

echo
echo "Converted pages are in $pages:"
ls -l "$pages"
