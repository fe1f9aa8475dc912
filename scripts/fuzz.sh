#!/usr/bin/env bash
# Builds the libFuzzer targets (CMake preset "fuzz", build/fuzz) and runs each over its seed corpus.
#
#   scripts/fuzz.sh [SECONDS]   fuzz every target for SECONDS (default 5) after running all its seeds
#
# Target <name>_fuzzer comes from tests/fuzz/<name>_fuzzer.cpp and starts from tests/fuzz/corpus/<name>/. The corpus
# is copied to a temporary directory first, so the inputs the fuzzer adds never land in the repository. Any crash,
# time-out, sanitizer report or failed check fails the run; its input and log are kept and their path printed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage()
{
    echo "usage: scripts/fuzz.sh [SECONDS-PER-TARGET]" >&2
    exit 2
}

seconds=5
if [[ $# -eq 1 ]]; then
    [[ "$1" =~ ^[1-9][0-9]*$ ]] || usage
    seconds=$1
elif [[ $# -ne 0 ]]; then
    usage
fi

section()
{
    printf '\n==== %s ====\n' "$*"
}

section "Dependencies (scripts/setup.sh)"
bash scripts/setup.sh

section "Configure and build (cmake --preset fuzz)"
cmake --preset fuzz
cmake --build --preset fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/brantel-fuzz.XXXXXX")
failed=()
total=0
# One row per target for the closing table: name, executions, seconds, result.
rows=()

mapfile -t sources < <(find tests/fuzz -maxdepth 1 -name '*_fuzzer.cpp' | sort)
if [[ ${#sources[@]} -eq 0 ]]; then
    echo "fuzz.sh: no tests/fuzz/*_fuzzer.cpp found" >&2
    exit 1
fi

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for source in "${sources[@]}"; do
    target=$(basename "$source" .cpp)
    name=${target%_fuzzer}
    program=build/fuzz/tests/fuzz/$target
    section "Fuzz $target (${seconds} s)"
    if [[ ! -x "$program" ]]; then
        echo "fuzz.sh: $program was not built" >&2
        failed+=("$target (not built)")
        rows+=("$(printf '%-28s %14s %8s  %s' "$target" - - "not built")")
        continue
    fi

    mkdir -p "$work/$name/corpus"
    if [[ -d tests/fuzz/corpus/$name ]]; then
        cp -R "tests/fuzz/corpus/$name/." "$work/$name/corpus/"
    else
        echo "fuzz.sh: warning: tests/fuzz/corpus/$name/ is missing; $target starts without seeds" >&2
    fi
    seeds=$(find "$work/$name/corpus" -type f | wc -l)

    # libFuzzer runs every seed before it starts mutating, so a seed that fails fails the run too.
    log=$work/$name/fuzz.log
    if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/$name/" "$work/$name/corpus" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        total=$((total + ${runs:-0}))
        echo "$target: $seeds seeds, ${runs:-?} runs in ${seconds} s, no failure"
        result=clean
    else
        tail -n 60 "$log"
        echo "fuzz.sh: $target FAILED; input and log kept in $work/$name/" >&2
        failed+=("$target")
        result=FAILED
    fi
    # libFuzzer ends with "Done N runs in S second(s)"; a crash leaves no such line.
    done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 || true)
    done_runs=$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1/' <<<"$done_line")
    done_seconds=$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\2/' <<<"$done_line")
    rows+=("$(printf '%-28s %14s %8s  %s' "$target" "${done_runs:-${runs:-?}}" "${done_seconds:-?}" "$result")")
done

section "Executions per target"
printf '%-28s %14s %8s  %s\n' target executions seconds result
printf '%s\n' "${rows[@]}"

if [[ ${#failed[@]} -ne 0 ]]; then
    section "Fuzzing failed: ${failed[*]}"
    exit 1
fi
rm -rf "$work"
section "All ${#sources[@]} fuzz targets passed ($total runs)"
