#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, a few at a time.
#
#   fuzz/run_fuzzers.sh BUILD_DIR [SECONDS] [JOBS]     (defaults: 60 s, 2 at a time)
#
# The targets are the ones BUILD_DIR/fuzz/fuzzers.txt lists (a name and the
# longest input to try, one target a line). Each one fuzzes
# from its seeds (fuzz/corpus/NAME, only read) into a working corpus,
# BUILD_DIR/fuzz-runs/NAME/corpus, which later runs start from. A crash, an
# oracle failure, a leak or a hang leaves its input as
# BUILD_DIR/fuzz-runs/NAME/{crash,leak,timeout,oom}-*; the script then prints
# the log's end, the input (hex and base64) and the command that replays it,
# and fails. To keep a reproducer as a regression test, copy it into
# fuzz/corpus/NAME: every seed there is replayed by the test suite.
set -uo pipefail

build=${1:?usage: run_fuzzers.sh BUILD_DIR [SECONDS] [JOBS]}
seconds=${2:-60}
jobs=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
list="$build/fuzz/fuzzers.txt"
[ -f "$list" ] || { echo "no $list: configure with the fuzz preset first" >&2; exit 2; }
names=()
declare -A maxlen
while read -r name length; do
  [ -n "$name" ] || continue
  names+=("$name")
  maxlen[$name]=${length:-256}
done <"$list"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local name=$1
  local dir="$build/fuzz-runs/$name"
  mkdir -p "$dir/corpus"
  rm -f "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* "$dir/status"
  "$build/bin/fuzz_$name" "$dir/corpus" "$here/corpus/$name" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -len_control=0 -max_len="${maxlen[$name]}" \
    -print_final_stats=1 -artifact_prefix="$dir/" >"$dir/log.txt" 2>&1
  echo $? >"$dir/status"
}

echo "fuzzing ${names[*]} for ${seconds} s each, ${jobs} at a time"
running=0
for name in "${names[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for name in "${names[@]}"; do
  dir="$build/fuzz-runs/$name"
  status=$(cat "$dir/status" 2>/dev/null || echo 99)
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE)' "$dir/log.txt" | tail -1)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.*corp: \([0-9]*\).*/\1/p' <<<"$last")
  artifacts=$(ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null)
  if [ "$status" = 0 ] && [ -z "$artifacts" ]; then
    echo "fuzz_$name: ok, ${executions:-?} executions, cov ${cov:-?}, ft ${ft:-?}, corpus $corpus"
    continue
  fi
  failed=1
  echo "fuzz_$name: FAILED (exit $status) after ${executions:-?} executions; the end of its log:"
  grep -v 'NEW_FUNC' "$dir/log.txt" | tail -60 | sed 's/^/    /'
  for artifact in $artifacts; do
    echo "  reproducer $artifact ($(stat -c %s "$artifact") bytes):"
    od -A x -t x1z -v "$artifact" | head -32 | sed 's/^/    /'
    echo "    base64: $(base64 -w0 "$artifact")"
    echo "    replay: $build/bin/fuzz_$name $artifact"
  done
done
exit $failed
