#!/bin/sh
# Installs the Debian packages the project needs; does nothing when all are present.
# The tests also use the system's zone files (tzdata) and a locale whose
# decimal separator is a comma (de_DE.UTF-8, generated here).
# Usage: scripts/install-deps.sh [extra-package ...]
set -e

PACKAGES="build-essential cmake ninja-build pkg-config libgtest-dev libtinyxml-dev \
libbenchmark-dev libxml2-dev curl snmp snmpd tzdata locales $*"

# de_DE.UTF-8 when it is missing and can be made (after the packages).
comma_locale() {
    locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' && return 0
    [ "$(id -u)" -eq 0 ] || { echo "locale de_DE.UTF-8 missing (run as root to generate it)" >&2; return 0; }
    echo "generating the locale de_DE.UTF-8"
    localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    comma_locale
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing (run as root to install them)" >&2
    exit 1
fi

echo "installing:$missing"
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
comma_locale
