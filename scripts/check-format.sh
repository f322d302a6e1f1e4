#!/usr/bin/env bash
# Checks that every C and C++ file git tracks follows .clang-format; lists
# the files that do not.  `scripts/check-format.sh --fix` rewrites them.
set -uo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
    echo "check-format: clang-format is not installed (package clang-format)" >&2
    exit 2
fi
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
    exit $?
fi
bad=$(clang-format --dry-run "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning:.*/\1/p' | sort -u)
if [ -n "$bad" ]; then
    echo "Not formatted as .clang-format says (scripts/check-format.sh --fix):"
    echo "$bad"
    exit 1
fi
echo "${#files[@]} files follow .clang-format"
