#!/usr/bin/env bash
# Installs what is missing, checks formatting and project rules, builds, and runs the whole test suite.
#
#   scripts/test.sh                  the normal build (CMake preset "default", build/default)
#   scripts/test.sh --preset asan    the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --preset tsan    the same suite built with ThreadSanitizer
#   scripts/test.sh --preset windows the 32-bit Windows DLL (mingw-w64 cross build), its tests run under Wine
#   --skip-source-checks             leaves out the formatting and project-rule checks (for a second preset on a tree
#                                    that was checked already, as .ci/run does)
#
# Exits non-zero on the first failing step.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage()
{
    echo "usage: scripts/test.sh [--preset NAME] [--skip-source-checks]   (NAME: default, asan, tsan, windows)" >&2
    exit 2
}

preset=default
source_checks=1
while [[ $# -gt 0 ]]; do
    case "$1" in
    --preset)
        [[ $# -ge 2 ]] || usage
        preset=$2
        shift 2
        ;;
    --preset=*)
        preset=${1#--preset=}
        shift
        ;;
    --skip-source-checks)
        source_checks=0
        shift
        ;;
    -h | --help) usage ;;
    *) usage ;;
    esac
done

section()
{
    printf '\n==== %s ====\n' "$*"
}

section "Dependencies (scripts/setup.sh)"
if [[ "$preset" == windows ]]; then
    bash scripts/setup.sh --windows
else
    bash scripts/setup.sh
fi

if [[ "$source_checks" == 1 ]]; then
    section "Formatting (scripts/format.sh --check)"
    bash scripts/format.sh --check

    section "Project rules (scripts/check_catch_all.sh, scripts/check_layers.py)"
    bash scripts/check_catch_all.sh
    python3 scripts/check_layers.py src
fi

section "Configure (cmake --preset $preset)"
cmake --preset "$preset"

section "Build (cmake --build --preset $preset)"
cmake --build --preset "$preset"

section "Test (ctest --preset $preset)"
if [[ "$preset" == windows ]]; then
    # One Wine prefix in the build tree and one wineserver for the whole run: each test program then starts in a
    # fraction of a second instead of starting and stopping Wine's services. The services are started here with
    # their output away from ctest, which would otherwise wait on the pipes they inherit.
    export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # An empty folder is enough: wineboot fills a new prefix in.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k || true' EXIT
    wine wineboot </dev/null >/dev/null 2>&1
    ctest --preset "$preset" --output-on-failure
elif [[ "$preset" == tsan ]]; then
    # ThreadSanitizer (GCC 12) needs its fixed shadow layout; kernels that randomise mappings widely break it,
    # so its tests run without address-space randomisation.
    setarch "$(uname -m)" -R ctest --preset "$preset" --output-on-failure
else
    ctest --preset "$preset" --output-on-failure
fi

if [[ "$preset" == asan ]]; then
    # A short form of scripts/soak.sh: LeakSanitizer checks the process at its end.
    section "Soak (20 start/stop cycles with motion and PTZ under LeakSanitizer)"
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" SOAK_CYCLES=20 build/asan/tests/soak_channel --gtest_brief=1
fi

section "All steps passed (preset $preset)"
