#!/usr/bin/env bash
# Installs what the browser build and its tests need: Debian's emscripten
# (emcc 3.1.6), chromium for the headless page test, and the pinned npm
# packages in web/ (puppeteer-core, which never downloads a browser).
# Does nothing when all of it is present, so `make web` can call it every time.
set -euo pipefail

# node 20 and npm come from the machine (nodesource packages conflict with
# Debian's npm), so only their presence is checked.
packages=(emscripten chromium zint python3)
for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: install Node.js 20 with npm" >&2; exit 1; }
done

bash "$(dirname "$0")/apt-install-missing.sh" "${packages[@]}"

if [ "${1:-}" = "--npm" ]; then
  here="$(cd "$(dirname "$0")/.." && pwd)"
  if [ ! -d "$here/web/node_modules/puppeteer-core" ]; then
    # puppeteer-core fetches no browser; the test uses /usr/bin/chromium.
    (cd "$here/web" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts)
  fi
fi
