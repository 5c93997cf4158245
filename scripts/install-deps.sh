#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the tools need.
# Does nothing when they are all present, so `make` can call it every time.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libzint-dev zint
  libpng-dev libjpeg-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  python3-pip python3-setuptools python3-wheel python3-venv python3-pybind11 python3-build
  python3-dask python3-distributed python3-pandas
  clang libclang-rt-dev
)

exec bash "$(dirname "$0")/apt-install-missing.sh" "${packages[@]}"
