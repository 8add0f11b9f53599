#!/bin/sh
# Cross-compiles the provider and its tests for 64-bit Windows with mingw-w64
# and runs the whole suite under wine64, headless, in a private Wine prefix.
# Usage: scripts/test-windows.sh [build-dir]   (default build-windows)
# Environment: CMAKE_FLAGS (further cmake options, such as
#   -DPROVIDER_WARNINGS_AS_ERRORS=ON), JOBS.
set -e

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build-windows}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
JOBS=${JOBS:-2}

"$ROOT/scripts/install-windows-deps.sh" "$BUILD/deps"

TINYXML=$(ls -d "$BUILD"/deps/tinyxml-*/ | head -n 1)
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)

export WINEPREFIX="$BUILD/wineprefix"
export WINEDEBUG=-all
# No display: Wine's console and helper programs run without windows.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    "$WINE" wineboot --init >/dev/null 2>&1 || true
fi
"$WINE" wineboot --end-session >/dev/null 2>&1 || true

if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DPROVIDER_TINYXML_SOURCE="${TINYXML%/}" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/scripts/wine-run.sh;$WINE"
fi
[ -z "${CMAKE_FLAGS:-}" ] || cmake -S "$ROOT" -B "$BUILD" $CMAKE_FLAGS
nice ninja -C "$BUILD" -j "$JOBS"

# The registry starts without the client key, as on a machine without the
# client; tests that need it set it up themselves.
"$WINE" reg delete 'HKLM\SOFTWARE\Corvane' /f >/dev/null 2>&1 || true

# One wine server for the whole run, so that each test program starts fast.
# One persistent server for the whole run: a server left by wineboot ends
# on its own once idle, and a test starting just then finds it gone.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p 2>/dev/null || true
status=0
(cd "$BUILD" && ctest --output-on-failure -j 1 ${CTEST_ARGS:-}) || status=$?
wineserver -k 2>/dev/null || true
exit $status
