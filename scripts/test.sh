#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once plainly, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, once under ThreadSanitizer; then runs each
# fuzz program of the input readers briefly over its seeds (scripts/fuzz.sh --ci).
# Any failure or sanitizer finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

run_suite () {
    local dir=$1; shift
    echo "== $dir: configure and build"
    cmake -S . -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j "$jobs"
    echo "== $dir: tests"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error
}

# User-interface tests need an X display: start a private Xvfb when there is none,
# and end it by its process id. -noreset: by default the server resets whenever its last
# client leaves, and a test connecting during that reset dies of a broken pipe.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
    display_number=$(( 90 + RANDOM % 100 ))
    Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp -noreset > /dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
    export DISPLAY=":$display_number"
fi

mkdir -p build
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTOVAREK_SANITIZER=address -DTOVAREK_BUILD_GUI=OFF -DTOVAREK_BUILD_BENCHMARKS=OFF
run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVAREK_SANITIZER=thread -DTOVAREK_BUILD_GUI=OFF -DTOVAREK_BUILD_BENCHMARKS=OFF
bash scripts/fuzz.sh --ci
echo "== all suites passed"
