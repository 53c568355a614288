#!/usr/bin/env bash
# hvt core: each core runs on CSV columns, agrees with the add-in where both
# exist, and fails with one line and a non-zero status on bad input.
# Usage: bash core.sh <path-to-hvt> <source-dir>
set -u
HVT=$1
SRC=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# A headerless 400-row column and the same with a header, from the example.
head -n 400 "$SRC/examples/walk.csv" > "$WORK/x.csv"
{ echo "price"; cat "$WORK/x.csv"; } > "$WORK/titled.csv"
n=$(wc -l < "$WORK/x.csv")
[[ $n -eq 400 ]] || fail "example data: $n rows"

rows() { "$HVT" core "$@" | wc -l; }

[[ $(rows klx "$WORK/x.csv") -eq 400 ]] || fail "klx rows"
[[ $(rows pqe --smoothness 3 "$WORK/x.csv") -eq 400 ]] || fail "pqe rows"
[[ $(rows spd --depth 12 "$WORK/x.csv") -eq 400 ]] || fail "spd rows"
for span in 24 48 96 192; do
  [[ $(rows gtn --span $span "$WORK/x.csv") -eq $((400 - span - 6)) ]] || fail "gtn span $span rows"
done

# A header row is recognised and changes nothing.
cmp -s <("$HVT" core klx "$WORK/x.csv") <("$HVT" core klx "$WORK/titled.csv") ||
  fail "header row changes klx output"
# Standard input when no file is named.
cmp -s <("$HVT" core spd "$WORK/x.csv") <("$HVT" core spd < "$WORK/x.csv") ||
  fail "stdin differs from file"

# The worksheet functions give the same bits as the cores they wrap.
cmp -s <("$HVT" core klx --smoothness 7 --phase 30 "$WORK/x.csv") \
       <("$HVT" eval '=KLX_Update(A1:A400,7,30)' "$WORK/x.csv") || fail "klx vs KLX_Update"
cmp -s <("$HVT" core spd --depth 15 "$WORK/x.csv") \
       <("$HVT" eval '=Spd_Update(A1:A400,15)' "$WORK/x.csv") || fail "spd vs Spd_Update"
cmp -s <("$HVT" core gtn --span 48 --smoothness 9 "$WORK/x.csv") \
       <("$HVT" eval '=GTN_Update(A1:A400,9,48)' "$WORK/x.csv" | tail -n +55) ||
  fail "gtn vs GTN_Update"

# The README's main job: 5,000 rows, rows 0..30 the input itself, the rest
# the filter's values.
"$HVT" eval '=KLX_Update(A1:A5000,7,30)' "$SRC/examples/walk.csv" > "$WORK/main.csv" || fail "main job exit"
[[ $(wc -l < "$WORK/main.csv") -eq 5000 ]] || fail "main job rows"
cmp -s <(head -n 31 "$WORK/main.csv" | awk '{ printf "%.17g\n", $1 }') \
       <(head -n 31 "$SRC/examples/walk.csv" | awk '{ printf "%.17g\n", $1 }') || fail "main job rows 0..30"
cmp -s "$WORK/main.csv" <("$HVT" core klx --smoothness 7 --phase 30 "$SRC/examples/walk.csv") ||
  fail "main job differs from the core"
! cmp -s <(sed -n 32p "$WORK/main.csv") <(sed -n 32p "$SRC/examples/walk.csv") || fail "row 31 not smoothed"

# BLK: a header of title suffixes, one column per output, rows U..N-1.
paste -d, "$WORK/x.csv" "$WORK/x.csv" > "$WORK/two.csv"
"$HVT" core blk --index 12 --method 2 --norm 2 "$WORK/two.csv" > "$WORK/blk.csv" || fail "blk exit"
header=$(head -n 1 "$WORK/blk.csv")
[[ $header == _1,_2,*,_48,_D0,*,_D48,_1,* ]] || fail "blk header: $header"
columns=$(head -n 1 "$WORK/blk.csv" | tr ',' '\n' | wc -l)
[[ $columns -eq 50 ]] || fail "blk columns: $columns (2 data columns x 25)"
# U = 48 + 16/2 = 56 blank rows, then one row per remaining data row.
[[ $(( $(wc -l < "$WORK/blk.csv") - 1 )) -eq $((400 - 56)) ]] || fail "blk rows"

# Decorrelator: five sections of the right shapes.
paste -d, "$WORK/x.csv" <("$HVT" core spd "$WORK/x.csv") <("$HVT" core klx "$WORK/x.csv") > "$WORK/three.csv"
"$HVT" core decor "$WORK/three.csv" > "$WORK/decor.txt" || fail "decor exit"
sections=$(grep -c '^#' "$WORK/decor.txt")
[[ $sections -eq 5 ]] || fail "decor sections: $sections"
scores=$(awk '/^#scores/{on=1; next} /^#/{on=0} on' "$WORK/decor.txt" | wc -l)
[[ $scores -eq 400 ]] || fail "decor score rows: $scores"
significance=$(awk '/^#significance/{getline; print}' "$WORK/decor.txt")
awk -F, -v s="$significance" 'BEGIN { split(s, v, ","); t = v[1] + v[2] + v[3];
  exit !(v[1] >= v[2] && v[2] >= v[3] && t > 0.999999 && t < 1.000001) }' ||
  fail "decor significance not descending fractions: $significance"

# Bad input: one line on stderr, non-zero status.
expect_failure() {
  local name=$1 want=$2; shift 2
  "$@" > /dev/null 2> "$WORK/err"
  local rc=$?
  [[ $rc -eq $want ]] || fail "$name: exit $rc, expected $want"
  [[ $(wc -l < "$WORK/err") -eq 1 ]] || fail "$name: stderr $(cat "$WORK/err")"
}
expect_failure "missing file" 2 "$HVT" core klx "$WORK/none.csv"
printf '1\n2\nthree\n' > "$WORK/bad.csv"
expect_failure "text in data" 2 "$HVT" core klx "$WORK/bad.csv"
printf '1,2\n3\n' > "$WORK/ragged.csv"
expect_failure "ragged rows" 2 "$HVT" core decor "$WORK/ragged.csv"
expect_failure "span 25" 2 "$HVT" core gtn --span 25 "$WORK/x.csv"
head -n 20 "$WORK/x.csv" > "$WORK/short.csv"
expect_failure "gtn too short" 2 "$HVT" core gtn "$WORK/short.csv"
expect_failure "spd too short" 2 "$HVT" core spd "$WORK/short.csv"
expect_failure "spd depth above rows" 2 "$HVT" core spd --depth 401 "$WORK/x.csv"
expect_failure "blk index" 2 "$HVT" core blk --index 19 "$WORK/x.csv"
printf '5,5\n5,5\n5,5\n' > "$WORK/flat.csv"
expect_failure "decor no variation" 1 "$HVT" core decor "$WORK/flat.csv"
: > "$WORK/empty.csv"
expect_failure "empty input" 2 "$HVT" core spd "$WORK/empty.csv"
expect_failure "no core" 2 "$HVT" core

# Settings the add-in refuses are refused with its own message, before any
# output; the bounds themselves are accepted.
refused() {
  local name=$1 message=$2; shift 2
  "$HVT" core "$@" "$WORK/x.csv" > "$WORK/out" 2> "$WORK/err"
  local rc=$?
  [[ $rc -eq 2 ]] || fail "$name: exit $rc, expected 2"
  [[ $(cat "$WORK/err") == "hvt: core: $message" ]] || fail "$name: $(cat "$WORK/err")"
  [[ ! -s "$WORK/out" ]] || fail "$name: printed output"
}
smoothness="Your data smoothness value must be between 0 and 10,000."
for s in inf -inf nan -0.001 10000.001 1e9; do
  refused "klx smoothness $s" "$smoothness" klx --smoothness $s
  refused "pqe smoothness $s" "$smoothness" pqe --smoothness $s
done
for p in -100.5 100.5 inf nan; do
  refused "klx phase $p" "Phase must be a number between -100 and +100 inclusive!" klx --phase $p
done
for s in 1 51; do
  refused "gtn smoothness $s" "Your Smoothness value must be between 2 and 50." gtn --smoothness $s
done
refused "gtn span" "Your Span value must be 24, 48, 96 or 192." gtn --span 12
for d in 1 501; do
  refused "spd depth $d" "Your Depth value must be between 2 and 500." spd --depth $d
done
refused "spd rows" "Your requested data set cannot have less than 32 rows, nor can it have more rows than the spreadsheet can contain!" spd --depth 401
refused "blk method" "Error! Your Process Method parameter must be 1,2, or 3." blk --method 4
refused "blk norm" "Error! Your Normalization parameter must be 1 or 2!" blk --method 3 --norm 3
refused "blk index 0" "Your N and M parameter must be greater than 0!" blk --index 0
refused "blk index 9" "Your N and M index parameter is too small! It must be at least 10 when you are detrending; N must be at least 26." blk --method 2 --norm 2 --index 9
for args in "klx --smoothness 0 --phase -100" "klx --smoothness 10000 --phase 100" "pqe --smoothness 0" \
            "gtn --smoothness 2" "gtn --smoothness 50 --span 192" "spd --depth 2" "blk --index 18"; do
  # shellcheck disable=SC2086
  "$HVT" core $args "$WORK/x.csv" > /dev/null 2> "$WORK/err" || fail "$args refused: $(cat "$WORK/err")"
done

# What cannot be read says why, and is never an empty file.
expect_failure "directory" 2 "$HVT" core klx "$WORK"
grep -q "is a directory" "$WORK/err" || fail "directory: $(cat "$WORK/err")"
expect_failure "read error" 2 "$HVT" core klx /proc/self/mem
grep -q "cannot read /proc/self/mem" "$WORK/err" || fail "read error: $(cat "$WORK/err")"
# A blank field, an empty line inside the data, a short row: named by row and
# column.
printf '1,2\n3\n' > "$WORK/ragged.csv"
expect_failure "short row" 2 "$HVT" core decor "$WORK/ragged.csv"
[[ $(cat "$WORK/err") == "hvt: core: row 2, column 2 is empty, not a number" ]] || fail "short row: $(cat "$WORK/err")"
{ head -n 50 "$WORK/x.csv"; echo; tail -n +51 "$WORK/x.csv"; } > "$WORK/gap.csv"
expect_failure "empty line inside" 2 "$HVT" core klx "$WORK/gap.csv"
[[ $(cat "$WORK/err") == "hvt: core: row 51, column 1 is empty, not a number" ]] || fail "gap: $(cat "$WORK/err")"
# Out of memory: one line, status 1, no exception's name. Ten million rows
# (40 MB of text, 80 MB of numbers) do not fit in 150 MB of address space:
# a ulimit for hvt itself; under qemu (HVT is then the emulator's wrapper
# script) the guest's address space as QEMU_RESERVED_VA sets it, since a
# ulimit would bind qemu's own buffers rather than hvt. Not under
# AddressSanitizer, whose shadow memory needs more than that.
limit=""
if ldd "$HVT" >/dev/null 2>&1; then
  ldd "$HVT" | grep -q libasan || limit=ulimit
elif grep -q qemu "$HVT" 2>/dev/null; then
  limit=qemu
fi
if [[ -n $limit ]]; then
  yes 1.5 | head -n 10000000 > "$WORK/big.csv"
  if [[ $limit == ulimit ]]; then
    ( ulimit -v 150000; "$HVT" core klx "$WORK/big.csv" ) > /dev/null 2> "$WORK/err"
  else
    QEMU_RESERVED_VA=150M "$HVT" core klx "$WORK/big.csv" > /dev/null 2> "$WORK/err"
  fi
  rc=$?
  [[ $rc -eq 1 && $(cat "$WORK/err") == "hvt: core: insufficient memory" ]] ||
    fail "out of memory ($limit): exit $rc, $(cat "$WORK/err")"
  rm -f "$WORK/big.csv"
fi

if [[ $failures -eq 0 ]]; then echo "core: all checks passed"; exit 0; fi
exit 1
