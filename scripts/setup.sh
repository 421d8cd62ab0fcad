#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Quintaro needs.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
    build-essential
    cmake
    ninja-build
    pkg-config
    qt6-base-dev
    qt6-qpa-plugins
    libgl-dev
    libgtest-dev
    mencoder
    mplayer
    mkvtoolnix
    ffmpeg
    dvdauthor
    xvfb
    xauth
    handbrake-cli
    procps
    locales
    librsvg2-bin
    desktop-file-utils
    appstream
    dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The log tests switch between a 24-hour and a 12-hour time format.
for loc in en_US.UTF-8 en_GB.UTF-8; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc%.UTF-8}.utf8$"; then
        sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
        $sudo locale-gen >/dev/null
    fi
done
