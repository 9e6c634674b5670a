#!/usr/bin/env bash
# Installs the dependencies, builds everything with warnings as errors and runs every test.
# Usage: scripts/test.sh [preset]   (default: dev; also release, asan, tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-dev}"
bash scripts/setup-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
