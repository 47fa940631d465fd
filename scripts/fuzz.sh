#!/usr/bin/env bash
# The fuzz tier: builds the libFuzzer targets of fuzz/ with clang, ASan and
# UBSan into build-fuzz/, then runs each for a bounded time, two at a time,
# and prints its executions per second and its total executions. Any crash,
# leak, time-out or sanitizer report fails the tier; the input that caused
# it is copied into fuzz/regressions/<target>/, where the unit tier replays
# it from then on (commit it with the fix).
#   scripts/fuzz.sh                  every target, FUZZ_SECONDS (20) each
#   scripts/fuzz.sh base64 crontab   only those
#   FUZZ_SECONDS=300 scripts/fuzz.sh config_reply
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages "${FUZZ_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }

seconds=${FUZZ_SECONDS:-20}
parallel=${FUZZ_PARALLEL:-2}
out=build-fuzz

cmake -S . -B "$out" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNODE_TESTS=OFF -DNODE_FUZZ=ON >/dev/null &&
  cmake --build "$out" --target fuzz_targets -j"$(jobs)" || { echo "fuzz build failed"; exit 1; }

# Longest input per target: the dashboard's replies are read into 4 KiB and
# 5 KiB areas, a custom script into 30 KB pieces, so their inputs go beyond.
max_len() {
  case $1 in
    dashboard_reply) echo 12288 ;;
    crontab | portal_merge) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

fuzz_tmp=/dev/shm
[ -d "$fuzz_tmp" ] && [ -w "$fuzz_tmp" ] || fuzz_tmp=/tmp

targets=("$@")
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < "$out/fuzz_targets.txt"

# run_target name: one bounded run; its log and verdict go to $out/logs/.
run_target() {
  local name=$1
  local corpus=$out/corpus/$name artifacts=$out/artifacts/$name/ log=$out/logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$out/logs"
  rm -f "$artifacts"* "$log"
  # The fake host's files on a tmpfs: rewriting and syncing them on a disk
  # would cost each input milliseconds.
  TMPDIR=$fuzz_tmp ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/bin/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -max_len="$(max_len "$name")" -error_exitcode=1 -timeout_exitcode=1 -artifact_prefix="$artifacts" \
      "$corpus" "fuzz/corpus/$name" >"$log" 2>&1
  echo $? > "$out/logs/$name.rc"
}

running=0
for name in "${targets[@]}"; do
  [ -x "$out/bin/fuzz_$name" ] || { echo "no fuzz target $name"; exit 1; }
  run_target "$name" &
  running=$((running + 1))
  if [ $running -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-16s %10s %12s %7s  %s\n' target "exec/s" executions "new" verdict
for name in "${targets[@]}"; do
  log=$out/logs/$name.log
  rc=$(cat "$out/logs/$name.rc" 2>/dev/null || echo 1)
  stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
  verdict=PASS
  found=$(ls "$out/artifacts/$name/" 2>/dev/null)
  if [ "$rc" -ne 0 ] || [ -n "$found" ] || grep -q "ERROR: \(Address\|Leak\|Undefined\)Sanitizer\|runtime error:" "$log"; then
    verdict=FAIL
    failed=1
  fi
  printf '%-16s %10s %12s %7s  %s\n' "$name" "$(stat average_exec_per_sec)" "$(stat number_of_executed_units)" \
    "$(stat new_units_added)" "$verdict"
  if [ $verdict = FAIL ]; then
    mkdir -p "fuzz/regressions/$name"
    for f in $found; do
      cp "$out/artifacts/$name/$f" "fuzz/regressions/$name/$f"
      echo "  input kept as fuzz/regressions/$name/$f (reproduce: $out/bin/fuzz_$name fuzz/regressions/$name/$f)"
    done
    echo "  --- end of $log:"
    grep -v '^#[0-9]' "$log" | tail -40 | sed 's/^/  /'
  fi
done
exit $failed
