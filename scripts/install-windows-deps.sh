#!/usr/bin/env bash
# Installs the Windows cross toolchain (mingw-w64) and Wine, which build and
# run the Windows components. Does nothing when they are present, so the
# Makefile can call it every time.
set -euo pipefail

packages=(g++-mingw-w64-x86-64 wine wine64)

exec bash "$(dirname "$0")/apt-install-missing.sh" "${packages[@]}"
