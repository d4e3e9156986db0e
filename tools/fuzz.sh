#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, ASan and UBSan into build/fuzz/ and runs each in
# turn on its seed corpus for SECONDS (default 30). A crash, a leak or a failed check makes it exit
# non-zero, with the finding saved under build/fuzz/artifacts/ to replay:
#   tools/fuzz.sh [SECONDS] [TARGET...]          e.g. tools/fuzz.sh 3600 fuzz_response_reader
#   build/fuzz/fuzz/fuzz_response_reader build/fuzz/artifacts/fuzz_response_reader-crash-...
set -euo pipefail
PELNAVI_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$PELNAVI_ROOT/tools/setup.sh"

seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_response_reader fuzz_address fuzz_cookies fuzz_listing fuzz_feed)

dir="$PELNAVI_ROOT/build/fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$PELNAVI_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" -DPELNAVI_FUZZ=ON -DPELNAVI_SANITIZE=ON \
  -DPELNAVI_TESTS=OFF -DPELNAVI_BENCH=OFF >/dev/null
cmake --build "$dir" --target "${targets[@]}" -j "$(nproc)"

mkdir -p "$dir/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  # New inputs go to a working corpus in the build tree; the seeds in the repository stay as they are.
  work="$dir/corpus/$target"
  mkdir -p "$work"
  echo "Fuzzing $target for ${seconds} s"
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/$target-" "$work" "$PELNAVI_ROOT/fuzz/corpus/${target#fuzz_}" \
      >"$dir/$target.log" 2>&1; then
    tail -n 60 "$dir/$target.log"
    echo "FAILED: $target (log: $dir/$target.log)"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$dir/$target.log" | sed "s/^/  /" || true
  fi
done
exit $status
