#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and run the terminal.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format
  qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
  qttools5-dev qttools5-dev-tools qtmultimedia5-dev libqt5svg5-dev
  qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts
  qml-module-qtquick-controls2 qml-module-qtquick-templates2 qml-module-qtgraphicaleffects
  qml-module-qttest qml-module-qtmultimedia libqt5sql5-sqlite libqt5multimedia5-plugins
  libmosquitto-dev mosquitto mosquitto-clients libqrcodegencpp-dev libbenchmark-dev
  libclang-rt-14-dev xvfb xauth libgl1-mesa-dri fontconfig fonts-dejavu-core
  openssl sqlite3 python3 zbar-tools librsvg2-bin curl libcurl4-openssl-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends --no-upgrade "${missing[@]}" >/dev/null
