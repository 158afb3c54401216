#!/usr/bin/env bash
# Installs what is missing, builds the editor and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)"

editor=$(find build -type f -name "Tovarek Mk2 Editor" -perm -u+x 2>/dev/null | head -n 1)
if [ -z "$editor" ]; then
    echo "Built the device library, its tests and benchmarks; the editor window itself is not built yet."
    echo "Run the tests with: bash scripts/test.sh"
    exit 0
fi
exec "$editor" "$@"
