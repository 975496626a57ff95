#!/usr/bin/env bash
# Installs the Debian packages the project needs, only when some are missing.
# Usage: scripts/deps.sh [build|demo|fuzz|package|all]   (default: build)
set -euo pipefail

# libkissfft-dev: the header-only kissfft<double> template (kissfft/kissfft.hh) of the spectrum.
want=(g++ cmake make pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libkissfft-dev libgl-dev fonts-noto-cjk
      libmosquitto-dev mosquitto mosquitto-clients)
case "${1:-build}" in
  demo) want+=(xvfb xauth xdotool) ;;
  fuzz) want+=(clang libclang-rt-14-dev) ;;
  package) want+=(lintian desktop-file-utils help2man appstream dpkg-dev fakeroot file) ;;
  all) want+=(xvfb xauth xdotool clang libclang-rt-14-dev)
       want+=(lintian desktop-file-utils help2man appstream dpkg-dev fakeroot file) ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
