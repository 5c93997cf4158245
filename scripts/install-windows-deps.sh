#!/usr/bin/env bash
# Installs the Windows cross toolchain (mingw-w64) and Wine, which build and
# run the Windows components. Does nothing when they are present, so the
# Makefile can call it every time.
set -euo pipefail

packages=(g++-mingw-w64-x86-64 wine wine64)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
