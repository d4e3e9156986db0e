#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) on the C and C++ files changed against the point where this
# branch left main (origin/main, else main), uncommitted changes included; on main itself, on the
# files of the last commit. A changed header is checked through its own .cpp, else through a file
# that includes it. Needs the compile database of a build (default build/asan), as ./test leaves it.
#   tools/check-tidy.sh [BUILD_DIR] [FILE...]     with FILEs: exactly those
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build/asan}
[ $# -gt 0 ] && shift

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "check-tidy: clang-tidy-14 is not installed (tools/setup.sh installs it)" >&2
  exit 1
fi
database="$build/compile_commands.json"
if [ ! -f "$database" ]; then
  echo "check-tidy: no $database: build first (./test builds build/asan)" >&2
  exit 1
fi

if [ $# -gt 0 ]; then
  changed=("$@")
else
  base=""
  for branch in origin/main main; do
    if git rev-parse -q --verify "$branch^{commit}" >/dev/null; then
      base=$(git merge-base HEAD "$branch") && break
    fi
  done
  if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
    base=$(git rev-parse -q --verify 'HEAD~1^{commit}' || git hash-object -t tree /dev/null)
  fi
  mapfile -t changed < <(git diff --name-only --diff-filter=d "$base" -- '*.h' '*.c' '*.cpp')
fi

# The translation units of the database, relative to the top of the tree.
mapfile -t units < <(python3 - "$database" "$root" <<'PY'
import json, os, sys
root = sys.argv[2]
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root + "/") and "/build/" not in path[len(root):]:
        print(os.path.relpath(path, root))
PY
)
declare -A known=()
for unit in "${units[@]}"; do known[$unit]=1; done

files=()
declare -A chosen=()
add() { [ -z "${chosen[$1]:-}" ] && chosen[$1]=1 && files+=("$1"); return 0; }
for file in "${changed[@]}"; do
  case $file in
  *.h)
    companion=${file%.h}.cpp
    if [ -n "${known[$companion]:-}" ]; then
      add "$companion"
      continue
    fi
    including=""
    for unit in "${units[@]}"; do
      if grep -qF "#include \"$file\"" "$unit" 2>/dev/null; then
        including=$unit
        break
      fi
    done
    if [ -n "$including" ]; then add "$including"; else echo "check-tidy: $file: no file of $build includes it; skipped"; fi
    ;;
  *)
    if [ -n "${known[$file]:-}" ]; then add "$file"; else echo "check-tidy: $file: not built in $build; skipped"; fi
    ;;
  esac
done
[ ${#files[@]} -eq 0 ] && { echo "check-tidy: no changed C or C++ files to check"; exit 0; }

# Findings in the project's own headers count too; Qt's, the system's and generated ones do not.
dirs=$(git ls-files | sed -n 's|^\([^/]*\)/.*|\1|p' | sort -u | paste -sd'|')
filter="^$root/($dirs)/"
echo "clang-tidy on ${#files[@]} file(s): ${files[*]}"
# -w: compiler warnings are the build's business (-Werror there), not clang-tidy's.
printf '%s\0' "${files[@]}" | xargs -0 -n 1 -P "$(nproc)" \
  "$tidy" -p "$build" --quiet --extra-arg=-w --header-filter="$filter"
