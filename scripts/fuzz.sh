#!/bin/sh
# Builds the libFuzzer targets (clang, ASan+UBSan, build-fuzz/) and runs each
# a fixed number of times (about a minute here) with a fixed seed. Seeds: tests/fuzz/seeds/TARGET, the
# kept failures in tests/fuzz/regressions/TARGET and, for whole messages,
# the public corpus (copied, never changed). Any failure stops the run and
# says where its input is: keep it as a regression row and fix the cause.
#
#   scripts/fuzz.sh [TARGET...]     CORVANTA_FUZZ_SECONDS (default 60) scales the runs
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${CORVANTA_FUZZ_SECONDS:-60}
# The corpus sits beside the checkout (a worktree is one folder deeper).
CORPUS=${CORVANTA_CORPUS:-$ROOT/../shared/corpus/public}
[ -d "$CORPUS" ] || [ -n "${CORVANTA_CORPUS:-}" ] || CORPUS=$ROOT/../../shared/corpus/public
TARGETS=${*:-"message codecs header_words build secure"}

if [ ! -f build-fuzz/build.ninja ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCORVANTA_FUZZ=ON
fi
cmake --build build-fuzz --parallel "$(nproc)"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvanta-fuzz.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ARTIFACTS=$ROOT/build-fuzz/artifacts
mkdir -p "$ARTIFACTS"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

start=$(date +%s)
status=0
for t in $TARGETS; do
  mkdir -p "$WORK/$t/new" "$WORK/$t/seeds"
  cp tests/fuzz/seeds/"$t"/* "$WORK/$t/seeds/" 2>/dev/null || true
  cp tests/fuzz/regressions/"$t"/* "$WORK/$t/seeds/" 2>/dev/null || true
  options="-max_len=4096"
  if [ "$t" = secure ]; then
    options="-max_len=16384 -dict=tests/fuzz/secure.dict"
  fi
  if [ "$t" = message ]; then
    options="-max_len=131072 -dict=tests/fuzz/message.dict"
    if [ -d "$CORPUS" ]; then
      find "$CORPUS" -type f \( -name '*.eml' -o -name '*.msg' -o -name '*.txt' -o -name '*.raw' \) \
        -size -2M -exec cp --backup=numbered {} "$WORK/$t/seeds/" \; 2>/dev/null || true
    elif [ "${CORVANTA_REQUIRE_CORPUS:-0}" = 1 ]; then
      echo "fuzz: no corpus at $CORPUS, and CORVANTA_REQUIRE_CORPUS is set"
      exit 1
    else
      echo "fuzz: no corpus at $CORPUS; whole messages start from the project's own seeds"
    fi
  fi
  # A fixed number of runs from a fixed seed: CI repeats what a run here
  # did, instead of exploring further on a faster machine and failing on a
  # finding nobody has seen. The counts take about a minute each here; the
  # time cap only guards a much slower machine.
  case $t in
    message) count=20000 ;;
    codecs) count=15000 ;;
    header_words) count=800000 ;;
    secure) count=40000 ;;
    *) count=15000 ;;
  esac
  count=$((count * SECONDS_EACH / 60))
  echo "fuzz: $t for $count runs ($(ls "$WORK/$t/seeds" | wc -l) seeds)"
  # shellcheck disable=SC2086
  if ! build-fuzz/tests/fuzz/fuzz_"$t" -seed=1 -runs="$count" -max_total_time=$((SECONDS_EACH * 3)) -rss_limit_mb=2048 \
      -timeout=20 -malloc_limit_mb=2048 -print_final_stats=1 $options \
      -artifact_prefix="$ARTIFACTS/$t-" "$WORK/$t/new" "$WORK/$t/seeds" >"$WORK/$t.log" 2>&1; then
    grep -v '^#' "$WORK/$t.log" | tail -60
    echo "fuzz: $t FAILED; its input is in $ARTIFACTS/ (keep it as tests/fuzz/regressions/$t/NAME)"
    status=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$WORK/$t.log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$WORK/$t.log")
  cov=$(grep -o 'cov: [0-9]*' "$WORK/$t.log" | tail -1)
  echo "fuzz: $t ok: $runs executions ($speed/s), $cov"
done
echo "fuzz: done in $(($(date +%s) - start))s"
exit $status
