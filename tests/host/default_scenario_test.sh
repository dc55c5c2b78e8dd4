#!/usr/bin/env bash
# quenzel-host on Quenzel.fmu with the default scenario: the output is inputSwitch.alternative
# (1500) until the ramp passes its threshold, and u after it; the time event at 2 and the state
# event near 3 are reported.
# usage: default_scenario_test.sh HOST FMU SCENARIO_ARGS
set -euo pipefail
host=$1 fmu=$2 scenario_file=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t scenario < <(grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$scenario_file")
"$host" "${scenario[@]}" "$fmu" >"$work/out.csv" 2>"$work/err.txt" || { cat "$work/err.txt" >&2; fail "quenzel-host failed"; }

header=$(head -n 1 "$work/out.csv")
[[ $header == "time,u,y,filter.y,limitedFilter.y" ]] || fail "header: $header"
grep -q '^quenzel-host: initialisation at t = 0, .*next time event at t = 2$' "$work/err.txt" ||
  fail "no next time event at 2 after initialisation:"$'\n'"$(cat "$work/err.txt")"
grep -q '^quenzel-host: time event at t = 2,' "$work/err.txt" || fail "no time event at 2"
grep -q '^quenzel-host: state event (event indicators .*) at t = 3[.,]' "$work/err.txt" ||
  grep -q '^quenzel-host: state event (event indicators .*) at t = 2\.9999' "$work/err.txt" ||
  fail "no state event near 3:"$'\n'"$(cat "$work/err.txt")"

# y is 1500 up to the state event and u from the event on; the switch happens at one time, in a
# pair of rows (before and after the event iteration) near 3.
awk -F, 'NR > 1 {
    t = $1 + 0; u = $2 + 0; y = $3 + 0
    if (!switched && y == 1500) { before++; last = t; next }
    if (!switched) { switched = 1; at = t }
    if (y != u) { printf "y = %s, not u = %s at t = %s\n", $3, $2, $1; bad = 1 }
    after++
  }
  END {
    if (bad) exit 1
    if (before < 20 || after < 5) { printf "%d rows at 1500, %d rows at u\n", before, after; exit 1 }
    if (at != last || at < 2.999 || at > 3.001) { printf "switch from t = %s to t = %s\n", last, at; exit 1 }
  }' "$work/out.csv" || fail "the output does not change from 1500 to u at the state event"
echo "1 passed, 0 failed"
