#!/usr/bin/env bash
# Runs each fuzz target of build/fuzz for SECONDS (default 300), one after
# the other on one core, and reports executions per second, coverage and
# findings. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Everything stays under build/fuzz/: the growing corpus in corpus/<target>
# (seeded from tests/fuzz/corpus/<target>), crash inputs in
# findings/<target>/ and libFuzzer's output in logs/<target>.log.
# The invariants of the faults listed as open in tests/fuzz/regressions/
# <target>/OPEN are tolerated (QUOVAN_FUZZ_TOLERATE), and a run that stops
# on a failed invariant is restarted for the time left with that one
# tolerated too, so one fault does not end the search for others.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(monitor platform blt format)

declare -A max_len=([monitor]=32780 [platform]=4096 [blt]=512 [format]=2048)
out=build/fuzz
summary=()

for t in "${targets[@]}"; do
  bin=$out/bin/fuzz_$t
  [ -x "$bin" ] || { echo "fuzz: $bin is missing (cmake --build --preset fuzz)" >&2; exit 1; }
  mkdir -p "$out/corpus/$t" "$out/findings/$t" "$out/logs"
  log=$out/logs/$t.log
  : >"$log"
  # Faults already open (tests/fuzz/regressions/<target>/OPEN) are not
  # found again; the search goes on past them.
  open=$(sed -n 's/^[^#]*#[[:space:]]*\([a-z0-9,-]*\):.*/\1/p' "tests/fuzz/regressions/$t/OPEN" 2>/dev/null |
         tr , '\n' | sort -u | paste -sd, -)
  tolerate=${QUOVAN_FUZZ_TOLERATE:-}${QUOVAN_FUZZ_TOLERATE:+${open:+,}}$open
  start=$(date +%s)
  found=()
  runs=0
  restarts=0
  echo "fuzz: $t for ${seconds}s${tolerate:+ (past the open findings: $tolerate)}"
  while :; do
    left=$((seconds - ($(date +%s) - start)))
    [ "$left" -gt 0 ] || break
    segment=$out/logs/$t.segment
    QUOVAN_FUZZ_TOLERATE=$tolerate "$bin" "$out/corpus/$t" "tests/fuzz/corpus/$t" \
      -max_total_time="$left" -max_len="${max_len[$t]}" -timeout=60 -rss_limit_mb=4096 \
      -artifact_prefix="$out/findings/$t/" -print_final_stats=1 -print_pcs=0 >"$segment" 2>&1
    cat "$segment" >>"$log"
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$segment" | tail -1)
    runs=$((runs + ${n:-0}))
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$segment" | tail -1)
    [ -n "$artifact" ] || break
    why=$(grep -m1 -h '^fuzz invariant .* failed\|^SUMMARY:' "$segment" | cut -c1-150)
    # The same sanitizer report again would only repeat itself.
    for f in "${found[@]}"; do [ "${f#*: }" != "${why:-see $log}" ] || break 2; done
    found+=("$artifact: ${why:-see $log}")
    # Found something: tolerate that invariant for the rest of the run.
    id=$(sed -n 's/^fuzz invariant \([^ ]*\) failed.*/\1/p' "$segment" | tail -1)
    [ -n "$id" ] && tolerate=${tolerate:+$tolerate,}$id
    restarts=$((restarts + 1))
    [ "$restarts" -lt 12 ] || break
  done
  elapsed=$(( $(date +%s) - start ))
  [ "$elapsed" -gt 0 ] || elapsed=1
  cov=$(grep -o 'cov: [0-9]*' "$log" | awk '{ if ($2 > m) m = $2 } END { print m + 0 }')
  ft=$(grep -o 'ft: [0-9]*' "$log" | awk '{ if ($2 > m) m = $2 } END { print m + 0 }')
  corpus=$(find "$out/corpus/$t" -type f | wc -l)
  summary+=("$(printf '%-9s %8d execs %6d execs/s  cov %5d  ft %6d  corpus %5d  findings %d' \
    "$t" "$runs" $((runs / elapsed)) "$cov" "$ft" "$corpus" "${#found[@]}")")
  for f in "${found[@]}"; do summary+=("          $f"); done
done

echo
echo "fuzz summary (${seconds}s each; logs in $out/logs, findings in $out/findings)"
printf '%s\n' "${summary[@]}"
