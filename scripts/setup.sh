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
    libswresample-dev
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

# The HE-AAC encoder slot links the Fraunhofer FDK AAC library. Its licence is not free, so
# Debian ships it in the non-free component, which many machines do not enable.
fdk=libfdk-aac-dev

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

missing=()
for p in "${packages[@]}" "$fdk"; do
    if ! installed "$p"; then
        missing+=("$p")
    fi
done

# Adds Debian's non-free component in a sources file of its own, from the mirror and for the
# release the machine already uses, unless one of the machine's apt sources has it already.
enable_non_free() {
    local id codename keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    local list=/etc/apt/sources.list.d/quintaro-non-free.sources
    id=$(. /etc/os-release && echo "${ID:-}")
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ "$id" != debian ] || [ -z "$codename" ] || [ ! -f "$keyring" ]; then
        echo "Not a Debian release with Debian's archive key: non-free not enabled for $fdk" >&2
        return
    fi
    local targets mirror
    targets=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' \
        'Identifier: Packages' 2>/dev/null | sort -u)
    if grep -q " $codename non-free\$" <<<"$targets"; then
        return
    fi
    mirror=$(awk -v r="$codename" '$2 == r && $3 == "main" { print $1; exit }' <<<"$targets")
    mirror=${mirror:-http://deb.debian.org/debian}
    printf '%s\n' \
        "# Added by Quintaro's scripts/setup.sh for $fdk (the Fraunhofer FDK AAC library)," \
        "# which Debian ships in non-free. Remove this file to disable non-free again." \
        "Types: deb" \
        "URIs: $mirror" \
        "Suites: $codename" \
        "Components: non-free" \
        "Signed-By: $keyring" | $sudo tee "$list" >/dev/null
    echo "Enabled Debian's non-free component ($mirror $codename) in $list for $fdk"
}

if [ ${#missing[@]} -gt 0 ]; then
    if [[ " ${missing[*]} " == *" $fdk "* ]]; then
        enable_non_free
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    rest=()
    for p in "${missing[@]}"; do
        if [ "$p" != "$fdk" ]; then
            rest+=("$p")
        fi
    done
    if [ ${#rest[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
    fi
    # Without the library the program still builds; its audio is then AAC-LC through ffmpeg.
    if ! installed "$fdk" &&
        ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$fdk" >/dev/null; then
        echo "Could not install $fdk: the audio will be AAC-LC, not HE-AAC" >&2
    fi
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
