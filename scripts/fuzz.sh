#!/usr/bin/env bash
# Builds the libFuzzer targets (the linux-fuzz preset) and runs each one for SECONDS.
#
#   scripts/fuzz.sh [--parallel N] [--workers N] [SECONDS] [TARGET ...]
#       Long runs: each target starts from its seeds (fuzz/<name>/seeds) and from the corpus kept
#       outside the repository in $OVRA7_FUZZ_CORPUS (default ~/.cache/ovra7-fuzz/<target>),
#       into which every new finding of coverage goes. Logs beside the corpora. --parallel runs
#       N targets at once; --workers runs N processes on each target (libFuzzer's fork mode).
#       fuzz/<name>/options may add libFuzzer flags for a target, one per line.
#   scripts/fuzz.sh --regression [SECONDS] [TARGET ...]
#       CI's check: each target on its seeds only, nothing kept (default 20 s each).
#
# A crash, leak or time-out leaves its input in $OVRA7_FUZZ_CORPUS/artifacts (regression: in a
# temporary folder, whose name is printed) and makes the script exit 1. SECONDS defaults to 60.
set -euo pipefail
cd "$(dirname "$0")/.."
regression=0
parallel=1
workers=1
while [ $# -gt 0 ]; do
  case "$1" in
    --regression) regression=1; shift ;;
    --parallel) parallel="$2"; shift 2 ;;
    --workers) workers="$2"; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) break ;;
  esac
done
seconds=$([ $regression = 1 ] && echo 20 || echo 60)
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/*/; do
    [ -f "$dir/CMakeLists.txt" ] && targets+=("fuzz_$(basename "$dir")")
  done
fi

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz --target "${targets[@]}"

if [ $regression = 1 ]; then
  store=$(mktemp -d -t ovra7-fuzz-XXXXXX)
else
  store="${OVRA7_FUZZ_CORPUS:-$HOME/.cache/ovra7-fuzz}"
fi
mkdir -p "$store/artifacts"

# Runs one target; its exit status is libFuzzer's (non-zero when it found something).
run_target() {
  local target="$1" name="${1#fuzz_}"
  local binary="build/linux-fuzz/fuzz/$name/$target" seeds="fuzz/$name/seeds"
  local corpus="$store/$target"
  local extra=()
  [ -f "fuzz/$name/options" ] && mapfile -t extra < <(grep -v '^[[:space:]]*\(#\|$\)' "fuzz/$name/options")
  [ "$workers" -gt 1 ] && extra+=("-fork=$workers")
  mkdir -p "$corpus"
  # The first folder receives what is new; the seeds are only read. Every input here runs in
  # milliseconds: a minute is a hang, never a busy machine.
  "$binary" -max_total_time="$seconds" -print_final_stats=1 -timeout=60 -rss_limit_mb=2048 \
    "${extra[@]}" -artifact_prefix="$store/artifacts/$target-" "$corpus" "$seeds" \
    >"$store/$target.log" 2>&1
}

# Executions of a finished run: libFuzzer's final count, or in fork mode its last status line.
runs_of() {
  local log="$1" count
  count=$(grep -h '^stat::number_of_executed_units' "$log" | awk '{print $2}' | tail -n 1)
  [ -z "$count" ] && count=$(grep -ho '^#[0-9]\+' "$log" | tail -n 1 | tr -d '#')
  echo "${count:-?}"
}

status=0
pids=()
names=()
finish_one() {
  local pid="$1" target="$2"
  if wait "$pid"; then
    echo "$target: $(runs_of "$store/$target.log") runs, nothing found"
  else
    echo "$target: FOUND A FAILURE (log: $store/$target.log, inputs: $store/artifacts)"
    tail -n 30 "$store/$target.log"
    status=1
  fi
}
for target in "${targets[@]}"; do
  echo "=== $target: ${seconds} s"
  run_target "$target" &
  pids+=($!)
  names+=("$target")
  if [ ${#pids[@]} -ge "$parallel" ]; then
    finish_one "${pids[0]}" "${names[0]}"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do finish_one "${pids[$i]}" "${names[$i]}"; done
if [ $regression = 1 ]; then
  # Nothing is kept from a clean run; a failing one leaves its folder for a look.
  if [ $status = 0 ]; then rm -rf "$store"; else echo "kept: $store"; fi
fi
exit $status
