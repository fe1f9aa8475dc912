#!/usr/bin/env bash
# Project rule: a catch-all must let a thread termination pass.
#
# A module thread that is stopped by force unwinds with platform::ThreadTerminated; a `catch (...)` that swallows
# it keeps the thread alive until its next wait instead of letting it end. So in src/ (outside src/platform/, which
# implements the termination itself) every line with `catch (...)` must have KESTRAV_PASS_THREAD_TERMINATION on the
# previous non-blank line (or earlier on the same line), which inserts a handler that rethrows the termination:
#
#     try
#     {
#         ...
#     }
#     KESTRAV_PASS_THREAD_TERMINATION
#     catch (...)
#     {
#         ...
#     }
#
# Text after // is ignored on both lines, so a comment may mention `catch (...)` and a commented-out macro does
# not count. Prints file:line for every offending line and fails when there is one.
#
#   scripts/check_catch_all.sh [DIR...]   (default: src; paths are relative to the repository root)
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

roots=("$@")
[[ ${#roots[@]} -eq 0 ]] && roots=(src)

mapfile -d '' files < <(find "${roots[@]}" -path 'src/platform' -prune -o -type f \
    \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' -o -name '*.cxx' -o -name '*.inl' -o -name '*.ipp' \) \
    -print0 | sort -z)

if [[ ${#files[@]} -eq 0 ]]; then
    echo "check_catch_all.sh: no source files under ${roots[*]}"
    exit 0
fi

# shellcheck disable=SC2016 # the awk program is single-quoted on purpose
awk '
    FNR == 1 { previous = "" }
    {
        code = $0
        sub(/\/\/.*/, "", code)
        pos = match(code, /catch[ \t]*\([ \t]*\.\.\.[ \t]*\)/)
        if (pos > 0) {
            before = substr(code, 1, pos - 1)
            if (index(before, "KESTRAV_PASS_THREAD_TERMINATION") == 0 &&
                index(previous, "KESTRAV_PASS_THREAD_TERMINATION") == 0) {
                printf "%s:%d: catch (...) without KESTRAV_PASS_THREAD_TERMINATION on the line before\n", FILENAME, FNR
                bad++
            }
        }
        if (code ~ /[^ \t\r]/) previous = code
    }
    END {
        if (bad > 0) {
            printf "check_catch_all.sh: %d catch-all(s) would swallow a thread termination;", bad
            printf " put KESTRAV_PASS_THREAD_TERMINATION (src/platform/thread_termination.h) on the line before\n"
            exit 1
        }
    }
' "${files[@]}"

echo "check_catch_all.sh: ${#files[@]} files checked, every catch-all lets a thread termination pass"
