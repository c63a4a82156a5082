#!/usr/bin/env bash
# Builds the fuzz targets (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, Debian's clang) in build-fuzz/ and runs each for
# the given number of seconds (60 by default):
#   bash fuzz/run.sh [seconds]
# Installs clang and its libFuzzer runtime with apt-get when they are missing.
# Findings are written to build-fuzz/artifacts/<target>/; the corpora grow in
# build-fuzz/corpus/<target>/ and are reused by later runs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUORVANE_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
SECONDS_PER_TARGET="${1:-60}"
JOBS="${QUORVANE_FUZZ_JOBS:-3}"

fuzzer_links() {
  local probe
  probe="$(mktemp -d)"
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    > "$probe/probe.cpp"
  command -v clang++ > /dev/null &&
    clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2> /dev/null
  local status=$?
  rm -rf "$probe"
  return $status
}

if ! fuzzer_links; then
  echo "installing clang and libFuzzer ..." >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y clang libclang-rt-14-dev > /dev/null
  fuzzer_links || { echo "clang cannot link -fsanitize=fuzzer" >&2; exit 1; }
fi

FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_CXX_FLAGS="$FLAGS" -DQUORVANE_BUILD_FUZZ=ON -DQUORVANE_BUILD_PYTHON=OFF \
      -DQUORVANE_BUILD_TESTS=OFF > /dev/null
echo "building in $BUILD ..." >&2
TARGETS=(context_load secret_key_load tile_load seal_object_load record_load tensor_load aes_load
         bootstrap_cache_load)
if ! cmake --build "$BUILD" -j "$JOBS" --target fuzz_seeds "${TARGETS[@]/#/fuzz_}" \
     > "$BUILD/fuzz-build.log" 2>&1; then
  tail -40 "$BUILD/fuzz-build.log" >&2
  exit 1
fi

# The fixture contexts and the seeds made with them.
export QUORVANE_FUZZ_FIXTURE="$BUILD/fixture"
rm -rf "$BUILD/fixture" "$BUILD/seeds"
mkdir -p "$BUILD/fixture"
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/seeds/${t%_load}" "$BUILD/corpus/$t" "$BUILD/artifacts/$t"
done
"$BUILD/fuzz/fuzz_seeds" "$BUILD/fixture" "$BUILD/seeds"

# A single allocation above malloc_limit_mb, an input slower than timeout
# seconds, a sanitizer report or an abort of the targets (an unclear error) is
# a finding.
failed=()
for t in "${TARGETS[@]}"; do
  echo "== fuzz_$t for ${SECONDS_PER_TARGET}s" >&2
  if ! ASAN_OPTIONS="allocator_may_return_null=0:detect_leaks=1" \
       UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
       "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 \
         -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
         -artifact_prefix="$BUILD/artifacts/$t/" \
         "$BUILD/corpus/$t" "$BUILD/seeds/${t%_load}" 2> "$BUILD/artifacts/$t/log.txt"; then
    failed+=("$t")
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|Done|#[0-9]+ +DONE)" \
    "$BUILD/artifacts/$t/log.txt" >&2 || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (see $BUILD/artifacts/)" >&2
  exit 1
fi
echo "no findings" >&2
