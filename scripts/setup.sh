#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent and quick when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config python3 ccache
    clang libclang-rt-14-dev
    juce-modules-source
    libhidapi-dev libpng-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libfreetype-dev libfontconfig1-dev libx11-dev libxrandr-dev libxinerama-dev
    libxcursor-dev libxext-dev libasound2-dev libcurl4-openssl-dev
    sox xvfb xauth x11-apps
    fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
