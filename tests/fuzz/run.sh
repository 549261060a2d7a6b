#!/usr/bin/env bash
# Runs the fuzz programs of a fuzz tree (cmake -DKORVA_FUZZ=ON, built by
# ./build.sh test in build/fuzz).
#
#   tests/fuzz/run.sh BUILD_DIR
#       The test stage's check: every seed and every saved reproducer, then a
#       fixed number of mutated inputs per program (fixed mutation seed).
#   tests/fuzz/run.sh BUILD_DIR SECONDS [KIND...]
#       Fuzzes each kind (csv workbook formula script module; all by default) for
#       SECONDS, one after another. What the fuzzer learns is kept in
#       BUILD_DIR/fuzz-corpus/KIND for the next run.
#
# A crash, a hang (30 s on one input), a leak or an unexpected exception
# fails the run; its input is written to BUILD_DIR/fuzz-findings/KIND/.
# Save it under tests/fuzz/regressions/KIND/ with the fix, so that every
# later run replays it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: tests/fuzz/run.sh BUILD_DIR [SECONDS [KIND...]]}
build=$(cd "$build" && pwd)
seconds=${2:-}
shift $(($# < 2 ? $# : 2))
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(csv workbook formula script module)

# Mutated inputs per program in the test stage: about 20 s of one core in
# all in the unoptimised tree (a script compiles with every declaration of
# the job, ~160 ms there).
declare -A check_runs=([csv]=2000 [workbook]=60 [formula]=300 [script]=60 [module]=1000)

# Numbers read the same everywhere; a single allocation over 1 GB fails as it
# would on a small machine (the program reports "Out of memory") instead of
# counting as a crash; files the programs write stay in one place.
export LC_ALL=C.UTF-8
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024
export UBSAN_OPTIONS=print_stacktrace=1
export TMPDIR="$build/fuzz-tmp"
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"

failed=()
for kind in "${kinds[@]}"; do
  program="$build/tests/fuzz/fuzz_$kind"
  if [ ! -x "$program" ]; then
    echo "fuzz: $program is missing" >&2
    failed+=("$kind")
    continue
  fi
  findings="$build/fuzz-findings/$kind"
  mkdir -p "$findings"
  options=(-timeout=30 -artifact_prefix="$findings/" -print_final_stats=1)
  [ "$kind" = workbook ] && options+=(-max_len=65536)
  if [ -z "$seconds" ]; then
    corpus=$(mktemp -d "$TMPDIR/corpus.XXXXXX")
    # On a busy machine the time limit ends the mutated inputs early; the
    # seeds and reproducers are always run whole first.
    options+=(-runs="${check_runs[$kind]}" -max_total_time=30 -seed=1)
  else
    corpus="$build/fuzz-corpus/$kind"
    mkdir -p "$corpus"
    options+=(-max_total_time="$seconds")
  fi
  inputs=("$corpus" "$here/seeds/$kind")
  [ -d "$here/regressions/$kind" ] && inputs+=("$here/regressions/$kind")
  if [ "$kind" = script ]; then
    # Some of the golden scripts seed the script fuzzer too, read from where
    # they live rather than copied.
    golden=$(mktemp -d "$TMPDIR/golden.XXXXXX")
    for name in basics builtins classes functions loops records strings tryblocks; do
      cp "$here/../engine/scripts/$name.pas" "$golden/"
    done
    inputs+=("$golden")
  fi
  echo "fuzz: $kind"
  log="$build/fuzz-$kind.log"
  if "$program" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
    grep -E "^stat::number_of_executed_units|^Done " "$log" || true
  else
    tail -n 60 "$log"
    echo "fuzz: $kind failed; the input is in $findings, the whole output in $log" >&2
    failed+=("$kind")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: failed: ${failed[*]}" >&2; exit 1; }
