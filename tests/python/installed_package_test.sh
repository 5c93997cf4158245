#!/usr/bin/env bash
# Installs the package with pip into a fresh virtual environment (offline,
# with Debian's setuptools, wheel and pybind11) and runs the Python tests
# against it, with no PYTHONPATH: what a user gets from `pip install .`.
# Usage: installed_package_test.sh SOURCE_DIR WORK_DIR PYTHON
set -euo pipefail
src=$1 work=$2 python=$3
rm -rf "$work/venv"
mkdir -p "$work"
"$python" -m venv --system-site-packages "$work/venv"
# The CMake build folder is kept between runs, so a rerun only relinks.
QUARROW_CMAKE_BUILD_DIR="$work/cmake" "$work/venv/bin/pip" install --no-build-isolation --no-index -q "$src" \
  > "$work/pip.log" 2>&1 || { cat "$work/pip.log"; exit 1; }
cd "$work"
unset PYTHONPATH
"$work/venv/bin/python" -c 'import quarrow, sys; sys.exit(0 if "site-packages" in quarrow.__file__ else "not the installed package: " + quarrow.__file__)'
exec "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$src/tests/python"
