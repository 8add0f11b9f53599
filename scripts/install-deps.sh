#!/bin/sh
# Installs the Debian packages the project needs; does nothing when all are present.
# Usage: scripts/install-deps.sh [extra-package ...]
set -e

PACKAGES="build-essential cmake ninja-build pkg-config libgtest-dev libtinyxml-dev \
libbenchmark-dev libxml2-dev curl snmp snmpd $*"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing (run as root to install them)" >&2
    exit 1
fi

echo "installing:$missing"
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
