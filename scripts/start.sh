#!/usr/bin/env bash
# Installs what is missing, builds the editor and starts it.
#   bash scripts/start.sh                    the editor, looking for a real unit on USB
#   bash scripts/start.sh --simulated-unit   the editor against a simulated unit (the test build's
#                                            hidapi stand-in, preloaded; TOVAREK_SIM_* variables
#                                            configure it, see tests/support/unit/PreloadedUnits.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."

simulated=0
if [ "${1:-}" = "--simulated-unit" ]; then
    simulated=1
    shift
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)"

editor=$(find build -type f -name "Tovarek Mk2 Editor" -perm -u+x 2>/dev/null | head -n 1)
if [ -z "$editor" ]; then
    echo "The editor was not built (configured with -DTOVAREK_BUILD_GUI=OFF?)."
    exit 1
fi

if [ -z "${DISPLAY:-}" ]; then
    echo "No X display (DISPLAY is unset): the editor needs one, e.g. Xvfb :99 & DISPLAY=:99 bash scripts/start.sh"
    exit 1
fi

if [ "$simulated" -eq 1 ]; then
    library=$(find build -type f -name "libhidapi_simulated_unit.so" 2>/dev/null | head -n 1)
    if [ -z "$library" ]; then
        echo "The simulated unit library was not built."
        exit 1
    fi
    LD_PRELOAD="$PWD/$library" exec "$editor" "$@"
fi
exec "$editor" "$@"
