#!/usr/bin/env bash
# Installs what building, running and testing the launcher needs on Debian
# (run as root). Packages already present are left alone.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5sql5-mysql
    qt6-base-dev libqt6sql6-mysql
    mariadb-server mariadb-client redis-server
    xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei
    procps psmisc
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # policy-rc.d in containers may refuse to start services during install;
    # the scripts start what they need themselves.
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
