#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the system
# need. Idempotent: packages already installed are skipped, and nothing is
# fetched when all are there. With arguments it installs those packages
# instead (scripts/bench-deps.sh uses that for what only benchmarks need).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5xml5
  libx11-dev libxtst-dev libxrandr-dev libsingleapplication-dev
  xvfb x11-utils xdotool openbox
  fonts-wqy-microhei
  qttools5-dev-tools qttools5-dev e2fsprogs
  # The package (scripts/package.sh) and its test: CPack finds the ELF files
  # with file and their dependencies with dpkg-shlibdeps; lintian checks it.
  dpkg-dev file lintian
  # velabridge links the MQTT client library; its tests start a real broker
  # and make a throw-away CA with openssl.
  libmosquitto-dev mosquitto openssl
)
if [ $# -gt 0 ]; then PACKAGES=("$@"); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The broker is a test dependency, not a service of this machine: its
# package starts one on port 1883, which is switched off again.
if [[ " ${missing[*]} " == *" mosquitto "* ]] && command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  $SUDO systemctl disable --now mosquitto >/dev/null 2>&1 || true
fi
