#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the real-window checks
# need. As root it installs what is missing; otherwise it prints the one line
# that would do it and fails, so nothing half-configured follows.
set -euo pipefail

PACKAGES=(build-essential cmake qt6-base-dev libsqlite3-dev zlib1g-dev libglib2.0-dev
    sqlite3 xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core fonts-liberation
    shared-mime-info xdg-utils desktop-file-utils adwaita-icon-theme python3
    qt6-translations-l10n dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0
    libzip-dev zip unzip libpoppler-cpp-dev libfreexl-dev libstemmer-dev poppler-utils python3-xlwt
    python3-openpyxl appstream groff-base debootstrap postgresql libpq-dev libicu-dev)
# A spreadsheet program no one here wrote, for the exchange tests' check of
# exported and imported files (they skip it where it is missing): about 80 MB
# and a minute to install, so CI brings it and a newcomer's `make run` does not.
if [ "${CI:-}" = true ]; then
    PACKAGES+=(libreoffice-calc-nogui)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
