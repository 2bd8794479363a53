#!/bin/sh
# Formats the project's C++ sources with the root .clang-format, or with
# --check only reports the files that differ.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    clang-format --dry-run --Werror $files
else
    clang-format -i $files
fi
