#!/usr/bin/env bash
# Rebuilds the sample maker and (re)writes samples/*.pgm and samples/*.txt.
# Usage: scripts/make-samples.sh [build-dir]   (default build/samples)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/samples}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target quarrow-make-samples
mkdir -p "$root/samples"
"$build/tests/engine/quarrow-make-samples" "$root/samples"
