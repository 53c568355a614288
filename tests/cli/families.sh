#!/usr/bin/env bash
# One reader for every verb: the same two columns written in every family of
# CSV file (line ends, byte-order mark, headers, quotes, empty lines, trailing
# commas) give the same numbers through every core and through hvt eval, and
# a file holding nan, inf or infinity gives the same refusal everywhere.
# Usage: bash families.sh <path-to-hvt> <source-dir>
set -u
HVT=$1
SRC=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

ROWS=400
head -n $ROWS "$SRC/examples/walk.csv" > "$WORK/x.csv"
# A second column of long and tiny numbers: the SPD rates of the first.
"$HVT" core spd "$WORK/x.csv" > "$WORK/y.csv" || fail "second column"
paste -d, "$WORK/x.csv" "$WORK/y.csv" > "$WORK/plain.csv"

# family NAME FIRST_DATA_ROW: the file $WORK/NAME.csv, whose data starts at
# sheet row FIRST_DATA_ROW.
declare -A first_row
bom=$'\xEF\xBB\xBF'
cp "$WORK/plain.csv" "$WORK/lf.csv"; first_row[lf]=1
sed 's/$/\r/' "$WORK/plain.csv" > "$WORK/crlf.csv"; first_row[crlf]=1
tr '\n' '\r' < "$WORK/plain.csv" > "$WORK/cr.csv"; first_row[cr]=1
{ printf '%s' "$bom"; cat "$WORK/plain.csv"; } > "$WORK/bom.csv"; first_row[bom]=1
{ printf '%sprice,rate\r\n' "$bom"; sed 's/$/\r/' "$WORK/plain.csv"; } > "$WORK/bom_header.csv"
first_row[bom_header]=2
{ echo '"price, close","say ""rate"""'; sed 's/\([^,]*\),\(.*\)/"\1","\2"/' "$WORK/plain.csv"; } \
  > "$WORK/quoted.csv"; first_row[quoted]=2
{ printf '\n\n'; cat "$WORK/plain.csv"; printf '\n,\n\n'; } > "$WORK/empty_lines.csv"
first_row[empty_lines]=3
{ printf 'price,rate\r\n\r\n,\r\n'; sed 's/$/\r/' "$WORK/plain.csv"; } > "$WORK/header_gap.csv"
first_row[header_gap]=4
{ echo 'price,rate,,'; sed 's/$/,/' "$WORK/plain.csv"; } > "$WORK/trailing_commas.csv"
first_row[trailing_commas]=2
families=(lf crlf cr bom bom_header quoted empty_lines header_gap trailing_commas)

# Every core with the options the walk uses; blk and decor read both columns.
declare -A options=([klx]="--smoothness 7 --phase 30" [pqe]="--smoothness 3" [gtn]="--span 48"
                    [spd]="--depth 12" [blk]="--index 12 --method 2 --norm 2" [decor]="")
cores=(klx pqe gtn spd blk decor)
# The worksheet function computing the same as a core, over column A from
# row $1 to row $2.
worksheet_function() {
  case $3 in
    klx) echo "=KLX_Update(A$1:A$2,7,30)" ;;
    gtn) echo "=GTN_Update(A$1:A$2,10,48)" ;;
    spd) echo "=Spd_Update(A$1:A$2,12)" ;;
  esac
}

for core in "${cores[@]}"; do
  # shellcheck disable=SC2086
  "$HVT" core $core ${options[$core]} "$WORK/plain.csv" > "$WORK/$core.expected" ||
    fail "$core on the plain file"
done
"$HVT" eval "=A1:B$ROWS" "$WORK/plain.csv" > "$WORK/sheet.expected" || fail "eval on the plain file"

for family in "${families[@]}"; do
  file="$WORK/$family.csv"
  top=${first_row[$family]}
  bottom=$((top + ROWS - 1))
  "$HVT" eval "=A$top:B$bottom" "$file" > "$WORK/sheet.got" || fail "$family: eval exit"
  cmp -s "$WORK/sheet.expected" "$WORK/sheet.got" || fail "$family: eval reads other values"
  for core in "${cores[@]}"; do
    # shellcheck disable=SC2086
    "$HVT" core $core ${options[$core]} "$file" > "$WORK/core.got" 2> "$WORK/err" ||
      fail "$family $core: exit $? $(cat "$WORK/err")"
    cmp -s "$WORK/$core.expected" "$WORK/core.got" || fail "$family $core: other numbers"
    formula=$(worksheet_function "$top" "$bottom" "$core")
    if [[ -n $formula ]]; then
      "$HVT" eval "$formula" "$file" > "$WORK/eval.got" || fail "$family $core: $formula exit"
      skip=1
      [[ $core == gtn ]] && skip=$((48 + 6 + 1))  # rows before span + 6 are the function's blanks
      cmp -s "$WORK/core.got" <(tail -n +$skip "$WORK/eval.got") ||
        fail "$family $core: $formula differs from the core"
    fi
  done
done

# Text where a number should be: every core reading that column refuses with
# status 2, naming the row and column, and the sheet holds text in that very
# cell. The one-column cores read column A only.
for word in nan inf -inf infinity NaN; do
  for family in lf crlf cr bom_header; do
    top=${first_row[$family]}
    row=$((top + 99))  # data line 100
    for column in 1 2; do
      awk -F, -v OFS=, -v w="$word" -v c=$column 'NR == 100 { $c = w } { print }' \
        "$WORK/plain.csv" > "$WORK/bad_plain.csv"
      case $family in
        lf) cp "$WORK/bad_plain.csv" "$WORK/bad.csv" ;;
        crlf) sed 's/$/\r/' "$WORK/bad_plain.csv" > "$WORK/bad.csv" ;;
        cr) tr '\n' '\r' < "$WORK/bad_plain.csv" > "$WORK/bad.csv" ;;
        bom_header) { printf '%sprice,rate\r\n' "$bom"; sed 's/$/\r/' "$WORK/bad_plain.csv"; } > "$WORK/bad.csv" ;;
      esac
      cell=$([[ $column -eq 1 ]] && echo A || echo B)$row
      # COUNT counts the numbers among its cells: text counts none.
      [[ $("$HVT" eval "=COUNT($cell)" "$WORK/bad.csv") == 0 ]] ||
        fail "$word $family: the sheet reads $cell as a number"
      for core in "${cores[@]}"; do
        # shellcheck disable=SC2086
        "$HVT" core $core ${options[$core]} "$WORK/bad.csv" > "$WORK/out" 2> "$WORK/err"
        rc=$?
        if [[ $column -eq 2 && $core != blk && $core != decor ]]; then
          [[ $rc -eq 0 ]] || fail "$word $family $core: exit $rc on a good column A"
          cmp -s "$WORK/$core.expected" "$WORK/out" || fail "$word $family $core: other numbers"
          continue
        fi
        [[ $rc -eq 2 ]] || fail "$word $family $core: exit $rc, expected 2"
        [[ $(cat "$WORK/err") == "hvt: core: row $row, column $column: \"$word\" is not a number" ]] ||
          fail "$word $family $core: message $(cat "$WORK/err")"
        [[ ! -s "$WORK/out" ]] || fail "$word $family $core: printed output"
      done
    done
  done
done

if [[ $failures -eq 0 ]]; then echo "families: all checks passed"; exit 0; fi
echo "$failures failure(s)"
exit 1
