#!/bin/sh
# Installs what the cross-compiled Windows build and its Wine run need, all
# from Debian: the mingw-w64 compiler (posix thread model), wine64,
# GoogleTest's sources, and TinyXML's Debian source package unpacked into
# SOURCE_DIR. Does nothing when everything is present.
# Usage: scripts/install-windows-deps.sh SOURCE_DIR
set -e

SOURCE_DIR=${1:?usage: $0 SOURCE_DIR}

PACKAGES="cmake ninja-build dpkg-dev g++-mingw-w64-x86-64-posix wine64 googletest"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

have_source() {
    for d in "$SOURCE_DIR"/tinyxml-*/; do
        [ -f "$d/tinyxml.cpp" ] && return 0
    done
    return 1
}

need_source=""
have_source || need_source=yes

[ -z "$missing" ] && [ -z "$need_source" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    [ -n "$missing" ] && echo "missing packages:$missing (run as root to install them)" >&2
    [ -n "$need_source" ] && echo "missing TinyXML source in $SOURCE_DIR" >&2
    exit 1
fi

# Source packages need deb-src entries; add them beside the binary ones.
if [ -n "$need_source" ] && ! grep -rqs '^\(Types:.*deb-src\|deb-src \)' \
        /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -n 's/^Types: deb$/Types: deb-src/; /^#/d; p' /etc/apt/sources.list.d/debian.sources \
            > /etc/apt/sources.list.d/debian-src.sources
    elif [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list \
            > /etc/apt/sources.list.d/debian-src.list
    fi
fi

apt-get update
if [ -n "$missing" ]; then
    echo "installing:$missing"
    DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
if [ -n "$need_source" ]; then
    mkdir -p "$SOURCE_DIR"
    (cd "$SOURCE_DIR" && apt-get source tinyxml)
fi
