#!/usr/bin/env bash
# Formats the C++ sources with clang-format and the repository's .clang-format.
#
#   scripts/format.sh           rewrite every source file in place
#   scripts/format.sh --check   change nothing; list the files that are not formatted and fail
#
# Files: every *.h / *.cpp under include/ src/ hostkit/ tools/ tests/ bench/ that git tracks or that is new and not
# ignored, so a file counts before it is added.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage()
{
    echo "usage: scripts/format.sh [--check]" >&2
    exit 2
}

check=0
if [[ $# -eq 1 && "$1" == "--check" ]]; then
    check=1
elif [[ $# -ne 0 ]]; then
    usage
fi

if ! command -v clang-format >/dev/null 2>&1; then
    echo "format.sh: clang-format not found; run scripts/setup.sh" >&2
    exit 1
fi

listed=$(git ls-files --cached --others --exclude-standard -- include src hostkit tools tests bench)
mapfile -t files < <(printf '%s\n' "$listed" | grep -E '\.(h|cpp)$' | sort -u || true)
# A file listed by git but deleted from the work tree is not ours to format.
existing=()
for f in "${files[@]}"; do
    if [[ -f "$f" ]]; then
        existing+=("$f")
    fi
done

if [[ ${#existing[@]} -eq 0 ]]; then
    echo "format.sh: no source files found"
    exit 0
fi

if [[ $check -eq 0 ]]; then
    clang-format -i --style=file -- "${existing[@]}"
    echo "format.sh: formatted ${#existing[@]} files"
    exit 0
fi

bad=()
for f in "${existing[@]}"; do
    if ! clang-format --dry-run --Werror --style=file -- "$f" >/dev/null 2>&1; then
        bad+=("$f")
    fi
done

if [[ ${#bad[@]} -ne 0 ]]; then
    echo "format.sh: ${#bad[@]} of ${#existing[@]} files are not formatted:" >&2
    printf '  %s\n' "${bad[@]}" >&2
    echo "format.sh: run scripts/format.sh to fix them (clang-format --dry-run --Werror <file> shows the changes)" >&2
    exit 1
fi
echo "format.sh: ${#existing[@]} files are formatted"
