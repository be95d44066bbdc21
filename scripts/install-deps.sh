#!/bin/sh
# Installs every system package the build, the tests and the benchmarks need
# on Debian 12. Safe to run again: apt-get skips what is already there.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-webengine-dev qt6-webengine-dev-tools qt6-pdf-dev
  libgl-dev libxkbcommon-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  media-types tzdata
  libgpgme-dev gnupg gpgsm gpg-agent
  fonts-dejavu-core fonts-liberation fonts-noto-color-emoji
  poppler-utils python3 libqpdf-dev
  xvfb xauth
  desktop-file-utils appstream xdg-utils man-db groff-base dpkg-dev librsvg2-bin
  clang libclang-rt-14-dev
"

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
