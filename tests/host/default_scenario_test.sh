#!/usr/bin/env bash
# quenzel-host on Quenzel.fmu with the default scenario, in Co-Simulation (the default) and in
# Model Exchange: the output is inputSwitch.alternative (1500) until the ramp passes its
# threshold, and u after it. In Co-Simulation the FMU handles the time event at 2 and the state
# event near 3 inside its steps, so y changes between the rows at 3 and 3.1; in Model Exchange the
# host reports both events and y changes in a pair of rows (before and after the event
# iteration) near 3.
# usage: default_scenario_test.sh HOST FMU SCENARIO_ARGS
set -euo pipefail
host=$1 fmu=$2 scenario_file=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t scenario < <(grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$scenario_file")

# run NAME [OPTIONS...]: the CSV in $work/NAME.csv, standard error in $work/NAME.txt.
run() {
  local name=$1; shift
  "$host" "$@" "${scenario[@]}" "$fmu" >"$work/$name.csv" 2>"$work/$name.txt" ||
    { cat "$work/$name.txt" >&2; fail "quenzel-host $* failed"; }
  local header
  header=$(head -n 1 "$work/$name.csv")
  [[ $header == "time,u,y,filter.y,limitedFilter.y" ]] || fail "$name header: $header"
}

# switch_check CSV FIRST LAST: y is 1500 up to the switch and u from it on, the last row at 1500
# being at FIRST and the first row at u at LAST (both approximately, to 1e-3); the filters stay at 1.
switch_check() {
  awk -F, -v first="$2" -v last="$3" 'NR > 1 {
      t = $1 + 0; u = $2 + 0; y = $3 + 0
      if ($4 + 0 != 1 || $5 + 0 != 1) { printf "filters %s, %s at t = %s\n", $4, $5, $1; bad = 1 }
      if (!switched && y == 1500) { before++; at1500 = t; next }
      if (!switched) { switched = 1; atU = t }
      if (y != u) { printf "y = %s, not u = %s at t = %s\n", $3, $2, $1; bad = 1 }
      after++
    }
    END {
      if (bad) exit 1
      if (before < 20 || after < 5) { printf "%d rows at 1500, %d rows at u\n", before, after; exit 1 }
      if (at1500 < first - 1e-3 || at1500 > first + 1e-3 || atU < last - 1e-3 || atU > last + 1e-3) {
        printf "switch from t = %s to t = %s\n", at1500, atU; exit 1
      }
    }' "$1" || fail "$1: the output does not change from 1500 to u at the state event"
}

run cosimulation
grep -q 'quenzel-host: .*event' "$work/cosimulation.txt" && fail "Co-Simulation reports events of its own"
switch_check "$work/cosimulation.csv" 3 3.1
[[ $(tail -n 1 "$work/cosimulation.csv") == 4,1,1,1,1 ]] || fail "last row: $(tail -n 1 "$work/cosimulation.csv")"

run exchange --model-exchange
err="$work/exchange.txt"
grep -q '^quenzel-host: initialisation at t = 0, .*next time event at t = 2$' "$err" ||
  fail "no next time event at 2 after initialisation:"$'\n'"$(cat "$err")"
grep -q '^quenzel-host: time event at t = 2,' "$err" || fail "no time event at 2"
grep -q '^quenzel-host: state event (event indicators .*) at t = 3[.,]' "$err" ||
  grep -q '^quenzel-host: state event (event indicators .*) at t = 2\.9999' "$err" ||
  fail "no state event near 3:"$'\n'"$(cat "$err")"
switch_check "$work/exchange.csv" 3 3
echo "2 passed, 0 failed"
