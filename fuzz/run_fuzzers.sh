#!/bin/sh
# Runs every built fuzzer for a bounded time from its seed corpus. Builds nothing.
#
#   fuzz/run_fuzzers.sh [seconds] [build-dir] [--runs=N] [--target=NAME]...   (any order)
#
# seconds: how long each fuzzer runs (default 60); --runs=N runs each for N inputs instead,
# however long that takes (a long campaign by hand); --target=NAME runs only that target
# (rhythm_file, playlist, sound, bmp or tutor; repeatable). build-dir: where the fuzzers were built
# (default $TABLADEX_FUZZ_BUILD, else build/fuzz in the source tree, else build-fuzz beside
# it), configured with
#   CC=clang CXX=clang++ cmake -DTABLADEX_FUZZ=ON -DTABLADEX_DESKTOP=OFF -DTABLADEX_TESTS=OFF \
#     -DTABLADEX_BENCH=OFF
# First every saved crash input under fuzz/regressions/<target>/ is replayed; then the seed
# corpus fuzz/corpus/<target>/ is copied to a temporary folder (the tree is never written)
# and fuzzed. A crash ends the script with a non-zero status and leaves the input in the
# temporary folder, printed below: add it to fuzz/regressions/<target>/.
set -u
here=$(cd "$(dirname "$0")" && pwd)
seconds=60
build=${TABLADEX_FUZZ_BUILD:-}
runs=""
only=""
for argument in "$@"; do
    case $argument in
        --runs=*) runs=${argument#--runs=} ;;
        --target=*) only="$only ${argument#--target=}" ;;
        ''|*[!0-9]*) build=$argument ;;
        *) seconds=$argument ;;
    esac
done
if [ -z "$build" ]; then
    build=$here/../build/fuzz
    [ -d "$build/fuzz" ] || build=$here/../../build-fuzz
fi
targets="rhythm_file playlist sound bmp tutor"
[ -n "$only" ] && targets=$only

work=$(mktemp -d "${TMPDIR:-/tmp}/tabladex-fuzz.XXXXXX") || exit 2
status=0
crashed=0
found=0
for target in $targets; do
    fuzzer=$build/fuzz/fuzz_$target
    if [ ! -x "$fuzzer" ]; then
        echo "run_fuzzers: $fuzzer is not built" >&2
        status=1
        continue
    fi
    found=$((found + 1))
    regressions=$here/regressions/$target
    if [ -n "$(find "$regressions" -type f ! -name '.*' 2>/dev/null)" ]; then
        echo "== $target: replaying saved crash inputs"
        if ! find "$regressions" -type f ! -name '.*' -exec "$fuzzer" {} + \
                >"$work/$target-regressions.log" 2>&1; then
            cat "$work/$target-regressions.log" >&2
            echo "run_fuzzers: $target fails on a saved crash input" >&2
            status=1
            crashed=1
            continue
        fi
    fi
    corpus=$work/$target-corpus
    mkdir -p "$corpus" "$work/$target-crashes"
    cp "$here/corpus/$target"/* "$corpus"/
    if [ -n "$runs" ]; then
        echo "== $target: fuzzing $runs inputs"
        limit="-runs=$runs"
    else
        echo "== $target: fuzzing for $seconds s"
        limit="-max_total_time=$seconds"
    fi
    # The tutor target reads at most 64 actions of a few bytes each, and long sequences of
    # them from the start.
    lengths="-max_len=4096"
    [ "$target" = tutor ] && lengths="-max_len=512 -len_control=0"
    if ! "$fuzzer" "$limit" -timeout=10 -rss_limit_mb=2048 $lengths \
            -artifact_prefix="$work/$target-crashes/" -print_final_stats=1 "$corpus" \
            >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log" >&2
        echo "run_fuzzers: $target crashed; the input is in $work/$target-crashes/" >&2
        status=1
        crashed=1
        continue
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$target.log"
done
[ "$found" -gt 0 ] || status=1
# The temporary folder is kept only when it holds a crash input.
if [ "$crashed" -eq 0 ]; then rm -rf "$work"; fi
exit $status
