#!/usr/bin/env bash
# Checks every C and C++ source file of the repository against .clang-format in one clang-format run
# (one process for all files: one per file takes a minute on a busy machine). Lists the files that
# differ and exits non-zero when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$clang_format" ]; then
  echo "check-format: clang-format-14 is not installed (tools/setup.sh installs it)" >&2
  exit 1
fi

mapfile -d '' files < <(git ls-files -z -- '*.h' '*.hpp' '*.c' '*.cc' '*.cpp')
[ ${#files[@]} -eq 0 ] && exit 0

if report=$("$clang_format" --dry-run --Werror "${files[@]}" 2>&1); then
  exit 0
fi
# Each complaint starts with "path:line:column: error:"; a failure without such lines is shown whole.
mapfile -t bad < <(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' | sort -u)
if [ ${#bad[@]} -eq 0 ]; then
  printf '%s\n' "$report" >&2
  echo "check-format: clang-format failed" >&2
  exit 1
fi
echo "These files do not follow .clang-format:" >&2
printf '  %s\n' "${bad[@]}" >&2
echo "Fix with: $(basename "$clang_format") -i ${bad[*]}" >&2
exit 1
