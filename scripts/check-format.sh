#!/bin/sh
# Checks that every C++ source file is formatted as .clang-format says (clang-format 14, as
# Debian 12 has it). Prints the files that are not and exits 1; `clang-format -i FILE` mends one.
set -eu
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"
files=$(find . -path ./build -prune -o -path './.git' -prune -o \( -name '*.cpp' -o -name '*.h' \) -type f -print | sort)
bad=""
for f in $files; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then bad="$bad $f"; fi
done
if [ -n "$bad" ]; then
  echo "check-format: not formatted by .clang-format:"
  for f in $bad; do echo "  $f"; done
  exit 1
fi
echo "check-format: $(echo "$files" | wc -l) files formatted"
