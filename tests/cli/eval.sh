#!/usr/bin/env bash
# hvt eval: output format and exit codes.
# Usage: bash eval.sh <path-to-hvt> <source-dir>
set -u
HVT=$1
SRC=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

# check NAME EXPECTED_EXIT EXPECTED_STDOUT -- command...
check() {
  local name=$1 want_rc=$2 want_out=$3
  shift 4
  local out rc
  out=$("$@" 2>"$WORK/err")
  rc=$?
  if [[ $rc -ne $want_rc ]]; then
    echo "FAIL $name: exit $rc, expected $want_rc; stderr: $(cat "$WORK/err")"
    failures=$((failures + 1))
  elif [[ "$out" != "$want_out" ]]; then
    echo "FAIL $name: output"
    echo "--- got:"; echo "$out"; echo "--- expected:"; echo "$want_out"
    failures=$((failures + 1))
  fi
}
# one line on stderr for failures
one_line_stderr() {
  local name=$1
  local lines
  lines=$(wc -l < "$WORK/err")
  if [[ $lines -ne 1 ]]; then
    echo "FAIL $name: $lines lines on stderr"
    failures=$((failures + 1))
  fi
}

printf '1\n2.5\n3\n' > "$WORK/n.csv"
check doubles 0 $'2\n5\n6' -- "$HVT" eval '=A1:A3*2' "$WORK/n.csv"
check stdin 0 $'2\n5\n6' -- bash -c "\"$HVT\" eval '=A1:A3*2' < '$WORK/n.csv'"
check dash 0 $'2\n5\n6' -- bash -c "\"$HVT\" eval '=A1:A3*2' - < '$WORK/n.csv'"

# Shortest text that reads back to the same double.
printf '0.1\n0.2\n1e300\n-0.000123\n' > "$WORK/s.csv"
check shortest 0 '0.30000000000000004' -- "$HVT" eval '=A1+A2' "$WORK/s.csv"
check large 0 '1e+300' -- "$HVT" eval '=A3' "$WORK/s.csv"
check small 0 '-0.000123' -- "$HVT" eval '=A4' "$WORK/s.csv"

# Text quoted only where CSV needs it; empty text and blanks as empty fields.
printf '"a,b",plain,"say ""hi""",,TRUE,#N/A\n' > "$WORK/t.csv"
check quoting 0 '"a,b",plain,"say ""hi""",,TRUE,#N/A' -- "$HVT" eval '=A1:F1' "$WORK/t.csv"
check concat 0 ',x' -- bash -c "printf ',x\n' | \"$HVT\" eval '=A1:B1&\"\"'"

# Whole result an error value: printed, exit 1, one line on stderr.
check div0 1 '#DIV/0!' -- "$HVT" eval '=1/0' "$WORK/n.csv"
one_line_stderr div0
check name 1 '#NAME?' -- "$HVT" eval '=NOSUCHFUNCTION(A1)' "$WORK/n.csv"
# Errors inside a larger result are just fields.
check mixed 0 $'1\n#DIV/0!' -- bash -c "printf '1\n0\n' | \"$HVT\" eval '=1/A1:A2'"

# Bad usage and unreadable input: one line, exit 2.
check missing_file 2 '' -- "$HVT" eval '=A1' "$WORK/none.csv"
one_line_stderr missing_file
check syntax 2 '' -- "$HVT" eval '=1+' "$WORK/n.csv"
one_line_stderr syntax
check no_formula 2 '' -- "$HVT" eval
check bad_addin 2 '' -- "$HVT" eval --addin "$WORK/none.xll" '=1' "$WORK/n.csv"
one_line_stderr bad_addin
check no_verb 2 '' -- "$HVT"
check unknown_verb 2 '' -- "$HVT" evl '=1'
[[ $(cat "$WORK/err") == "hvt: unknown command 'evl' (try hvt --help)" ]] ||
  { echo "FAIL unknown verb: $(cat "$WORK/err")"; failures=$((failures + 1)); }
check unknown_core 2 '' -- "$HVT" core klxx
[[ $(cat "$WORK/err") == "hvt: unknown command 'core klxx' (try hvt --help)" ]] ||
  { echo "FAIL unknown core: $(cat "$WORK/err")"; failures=$((failures + 1)); }
# A read error is an error, not an empty sheet; a directory says so.
check read_error 2 '' -- "$HVT" eval '=A1' /proc/self/mem
grep -q "cannot read /proc/self/mem" "$WORK/err" ||
  { echo "FAIL read error: $(cat "$WORK/err")"; failures=$((failures + 1)); }
check directory 2 '' -- "$HVT" eval '=A1' "$WORK"
grep -q "$WORK: it is a directory" "$WORK/err" ||
  { echo "FAIL directory: $(cat "$WORK/err")"; failures=$((failures + 1)); }
check session_directory 2 '' -- "$HVT" session "$WORK"
one_line_stderr session_directory
check version 0 "hvt $(sed -n 's/^project(hvt VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")" -- "$HVT" --version

# Help explains itself.
if ! "$HVT" --help | grep -q 'eval'; then echo "FAIL help: no eval verb"; failures=$((failures + 1)); fi
if ! "$HVT" eval --help | grep -q -- '--addin'; then echo "FAIL eval help"; failures=$((failures + 1)); fi

# The shipped example: 5,000 numbers, no header.
rows=$("$HVT" eval '=A1:A5000' "$SRC/examples/walk.csv" | wc -l)
[[ $rows -eq 5000 ]] || { echo "FAIL walk: $rows rows"; failures=$((failures + 1)); }
# Printing round-trips the file's numbers exactly (same values, shortest form).
diff <(cat "$SRC/examples/walk.csv" | awk '{ printf "%.17g\n", $1 }') \
     <("$HVT" eval '=A1:A5000' "$SRC/examples/walk.csv" | awk '{ printf "%.17g\n", $1 }') >/dev/null ||
  { echo "FAIL walk: values differ"; failures=$((failures + 1)); }

if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all eval checks passed"
