#!/usr/bin/env bash
# hvt eval on a host of version 16: a 1,000,000-row column through the
# worksheet functions prints what the cores print, line for line; the same
# file is more than an 8.0 sheet holds. HVT_BIG_ROWS sets another row count
# (the emulated 32-bit build takes 200,000: still past 65,536 rows and 17
# bits, the whole column still 1,048,576 rows).
# Usage: bash big_grid.sh <path-to-hvt> <source-dir>
set -u
HVT=$1
ROWS=${HVT_BIG_ROWS:-1000000}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# A deterministic random walk of $ROWS prices, three decimals.
awk -v rows="$ROWS" 'BEGIN { srand(17); v = 1000; for (i = 0; i < rows; i++) {
       v += rand() - 0.5; printf "%.3f\n", v } }' > "$WORK/big.csv"

same() {  # NAME FILE_A FILE_B
  if ! cmp -s "$2" "$3"; then
    echo "FAIL $1: outputs differ"
    diff "$2" "$3" | head -5
    failures=$((failures + 1))
  fi
}
run() {  # NAME OUTPUT command...
  local name=$1 out=$2
  shift 2
  "$@" > "$out" 2> "$WORK/err"
  local rc=$?
  if [[ $rc -ne 0 ]]; then
    echo "FAIL $name: exit $rc; $(cat "$WORK/err")"
    failures=$((failures + 1))
  fi
}

run klx_eval "$WORK/klx.eval" "$HVT" eval --host-version 16.0 "=KLX_Update(A1:A$ROWS,7,30)" "$WORK/big.csv"
run klx_core "$WORK/klx.core" "$HVT" core klx --smoothness 7 --phase 30 "$WORK/big.csv"
same klx "$WORK/klx.eval" "$WORK/klx.core"
[[ $(wc -l < "$WORK/klx.eval") -eq $ROWS ]] || { echo "FAIL klx: not $ROWS rows"; failures=$((failures + 1)); }

run spd_eval "$WORK/spd.eval" "$HVT" eval --host-version 16.0 "=Spd_Update(A1:A$ROWS,10)" "$WORK/big.csv"
run spd_core "$WORK/spd.core" "$HVT" core spd --depth 10 "$WORK/big.csv"
same spd "$WORK/spd.eval" "$WORK/spd.core"

# The core prints from row span + 6; the worksheet's rows above hold the
# warm-up value.
run gtn_eval "$WORK/gtn.eval" "$HVT" eval --host-version 16.0 "=GTN_Update(A1:A$ROWS,10,24)" "$WORK/big.csv"
run gtn_core "$WORK/gtn.core" "$HVT" core gtn --span 24 --smoothness 10 --order worksheet "$WORK/big.csv"
tail -n +31 "$WORK/gtn.eval" > "$WORK/gtn.tail"
same gtn "$WORK/gtn.tail" "$WORK/gtn.core"

# A whole column: the column's numbers, then empty text to row 1,048,576.
run whole "$WORK/whole.eval" "$HVT" eval --host-version 16.0 '=KLX_Update(A:A,7,30)' "$WORK/big.csv"
head -n "$ROWS" "$WORK/whole.eval" > "$WORK/whole.head"
same whole "$WORK/whole.head" "$WORK/klx.core"
[[ $(wc -l < "$WORK/whole.eval") -eq 1048576 && -z $(tail -n +$((ROWS + 1)) "$WORK/whole.eval" | tr -d '\n') ]] ||
  { echo "FAIL whole: not $((1048576 - ROWS)) empty rows after the numbers"; failures=$((failures + 1)); }

# The default host (8.0) has a sheet of 65,536 rows.
if "$HVT" eval '=KLX_Update(A1:A1000,7,30)' "$WORK/big.csv" > /dev/null 2> "$WORK/err"; then
  echo "FAIL old sheet: a 1,000,000-row file opened on an 8.0 host"
  failures=$((failures + 1))
fi

[[ $failures -eq 0 ]] && echo "big_grid: all passed"
exit $((failures > 0))
