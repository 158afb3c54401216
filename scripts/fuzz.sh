#!/usr/bin/env bash
# Builds the fuzz programs of the input readers (clang, libFuzzer, ASan and UBSan; tests/fuzz) in
# build-fuzz and runs each over its seed corpus.
#   bash scripts/fuzz.sh --ci              a fixed, short number of runs each (the last stage of test.sh)
#   bash scripts/fuzz.sh SECONDS [NAME...] SECONDS of fuzzing for each program (or those named);
#                                          new inputs go to build-fuzz/corpus/<Name>, findings to
#                                          build-fuzz/findings/
# Any crash, leak, sanitizer report, time-out or oversized allocation fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
    sed -n '2,8p' "$0"
    exit 2
fi
mode=$1; shift
bash scripts/setup.sh

# Per program: the longest input, and the largest single allocation (MB) its reader may make.
# Each bound follows from the input or from the reader's own cap, with room for a container's
# doubling: a data file's segments are smaller than its text; a block is at most 8 KB; audio
# becomes at most 16 bytes of samples per input byte (plus the resampler's 0.5 MB table); a
# bundle's entries are capped at 8 MB in all; an image at 2^25 pixels of 4 bytes; a version page
# is read no further than 512 bytes.
limits=(
    "DataFile      65536  16"
    "KorvantalData 8192   16"
    "AudioFile     65536  8"
    "Protocol      4096   16"
    "BackupArchive 65536  32"
    "ImagePack     65536  160"
    "UpdateCheck   4096   1"
)
ci_runs=2000

dir=build-fuzz
echo "== $dir: configure and build"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVAREK_FUZZ=ON \
        > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -j "$(nproc)" --target tovarek_fuzzers

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
mkdir -p "$dir/findings"
failed=0
for row in "${limits[@]}"; do
    read -r name max_len malloc_mb <<< "$row"
    if [ "$mode" != "--ci" ] && [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then
        continue
    fi
    common=(-max_len="$max_len" -malloc_limit_mb="$malloc_mb" -rss_limit_mb=2048 -timeout=10
            -close_fd_mask=1 -artifact_prefix="$dir/findings/$name-")
    seeds=tests/fuzz/corpus/$name
    echo "== fuzz: $name"
    if [ "$mode" = "--ci" ]; then
        # New inputs go to a scratch directory in the tree; the committed seeds are only read.
        scratch="$dir/scratch-$name"
        rm -rf "$scratch"
        mkdir -p "$scratch"
        "$dir/tests/fuzz/${name}Fuzz" "${common[@]}" -runs="$ci_runs" -seed=1 "$scratch" "$seeds" \
            > "$dir/fuzz-$name.log" 2>&1 || { tail -n 60 "$dir/fuzz-$name.log"; failed=1; }
        rm -rf "$scratch"
    else
        # A long run goes on past a finding (each in its own process) and fails at its end.
        mkdir -p "$dir/corpus/$name"
        before=$(find "$dir/findings" -name "$name-*" | wc -l)
        "$dir/tests/fuzz/${name}Fuzz" "${common[@]}" -max_total_time="$mode" -use_value_profile=1 \
            -fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
            "$dir/corpus/$name" "$seeds" > "$dir/fuzz-$name.log" 2>&1 || failed=1
        if [ "$(find "$dir/findings" -name "$name-*" | wc -l)" -ne "$before" ]; then
            grep -E "ERROR|runtime error|SUMMARY" "$dir/fuzz-$name.log" | sort | uniq -c
            failed=1
        fi
    fi
    grep -E "^Done|INITED|^#[0-9]+: cov" "$dir/fuzz-$name.log" | tail -n 1 || true
done

if [ "$failed" -ne 0 ]; then
    echo "== fuzz: a program failed; its input is in $dir/findings/"
    exit 1
fi
echo "== fuzz: every program passed"
