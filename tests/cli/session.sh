#!/usr/bin/env bash
# hvt session: every tests/sessions/NAME.session played in a scratch copy of
# the folder; standard output must equal NAME.expected. A session whose name
# starts with "unscripted" must also fail with exit status 1.
# Usage: bash session.sh <path-to-hvt> <source-dir>
set -u
HVT=$1
SRC=$2
FAULTY=${3:-}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
cp "$SRC"/tests/sessions/* "$WORK"/
cd "$WORK" || exit 1

for script in *.session; do
  name=${script%.session}
  out=$("$HVT" session "$script" 2>"$name.err")
  rc=$?
  want_rc=0
  [[ $name == unscripted* ]] && want_rc=1
  if [[ $rc -ne $want_rc ]]; then
    echo "FAIL $name: exit $rc, expected $want_rc; stderr: $(cat "$name.err")"
    failures=$((failures + 1))
  elif [[ "$out" != "$(cat "$name.expected")" ]]; then
    echo "FAIL $name: output"
    diff <(echo "$out") "$name.expected"
    failures=$((failures + 1))
  fi
done

# The saved sheet is the same CSV the session printed.
if [[ "$(cat out.csv 2>/dev/null)" != "$(cat formula.expected)" ]]; then
  echo "FAIL formula: out.csv differs from the printed sheet"
  failures=$((failures + 1))
fi

# An unscripted question names the dialog on standard error.
if ! grep -q 'About Halvo Tools' unscripted.err; then
  echo "FAIL unscripted: stderr does not name the dialog"
  failures=$((failures + 1))
fi

# From version 12 the add-in's commands sit under Add-ins > Menu Commands,
# reached through bar 10 as before: every version from 12.0 to 16.0 shows
# the About item and the five tool items exactly as 8.0 does.
menus() {
  printf 'version %s\nbook Book1.xls Sheet1\naddin\nprint menu Help\nprint menu Data\nclose addin\n' "$1" \
    | "$HVT" session 2>&1
}
want=$(menus 8.0)
if ! grep -q 'Abou&t Halvo Tools -> AboutHVT' <<<"$want" || [[ $(grep -c ' -> ' <<<"$want") -ne 6 ]]; then
  echo "FAIL menus on 8.0: $want"
  failures=$((failures + 1))
fi
for version in 12.0 14.0 15.0 16.0; do
  if [[ "$(menus $version)" != "$want" ]]; then
    echo "FAIL menus on $version"
    diff <(menus $version) <(echo "$want")
    failures=$((failures + 1))
  fi
done

# On a host of version 16.0 every session prints what it prints on 8.0, and
# a whole column (A:A, all 1,048,576 rows of it for the 12-series KLX
# command) is narrowed to the data and filtered as on 8.0.
for script in *.session; do
  name=${script%.session}
  out=$("$HVT" session --host-version 16.0 "$script" 2>/dev/null)
  if [[ "$out" != "$(cat "$name.expected")" ]]; then
    echo "FAIL $name on 16.0: output"
    diff <(echo "$out") "$name.expected" | head -5
    failures=$((failures + 1))
  fi
done
awk 'BEGIN { print "Price"; srand(3); v = 100; for (i = 0; i < 300; i++) {
       v += rand() - 0.5; printf "%.3f\n", v } }' > whole.csv
whole_column() {
  printf 'open whole.csv\naddin\nselect A:A\nanswer dialog set 4=C1 ok\nrun KLXWrapper\nprint selection\nprint sheet\n' |
    "$HVT" session --host-version "$1" 2>&1
}
want=$(whole_column 8.0)
if [[ $(grep -c ',,' <<<"$want") -ne 301 ]] || ! grep -q '^Price,,Price_S10_P0$' <<<"$want"; then
  echo "FAIL whole column on 8.0: $(head -3 <<<"$want")"
  failures=$((failures + 1))
elif [[ "$(whole_column 16.0)" != "$want" ]]; then
  echo "FAIL whole column on 16.0"
  diff <(whole_column 16.0) <(echo "$want") | head -5
  failures=$((failures + 1))
fi
# SPD over the whole column, through the 12-series on 16.0 (the big sheet's
# A:A offered and narrowed), prints what 8.0 prints.
spd_whole_column() {
  printf 'open whole.csv\naddin\nselect A:A\nanswer dialog set 4=C1 ok\nrun SpdWrapper\nprint selection\nprint sheet\n' |
    "$HVT" session --host-version "$1" 2>&1
}
want=$(spd_whole_column 8.0)
if ! grep -q '^Price,,Price_D' <<<"$want" || [[ "$(spd_whole_column 16.0)" != "$want" ]]; then
  echo "FAIL SPD whole column on 16.0: $(spd_whole_column 16.0 | head -3)"
  failures=$((failures + 1))
fi

# The host's accounting is checked when the script ends: a module that keeps
# a host value, gives one back twice and keeps a memory block fails the
# session, each fault named on standard error.
if [[ -n $FAULTY ]]; then
  printf 'book Book1.xls Sheet1\naddin %s\n' "$FAULTY" | "$HVT" session >/dev/null 2>faulty.err
  rc=$?
  if [[ $rc -ne 1 ]] || ! grep -q 'never given to xlFree' faulty.err ||
     ! grep -qi 'free' <(grep -v 'never given' faulty.err) || [[ $(grep -c 'host accounting' faulty.err) -lt 3 ]]; then
    echo "FAIL faulty module: exit $rc, stderr $(cat faulty.err)"
    failures=$((failures + 1))
  fi
fi

# A step that cannot be played names its line and exits 2.
printf 'open nothing-here.csv\n' > bad.session
"$HVT" session bad.session 2>bad.err >/dev/null
rc=$?
if [[ $rc -ne 2 ]] || ! grep -q 'bad.session:1:' bad.err; then
  echo "FAIL bad step: exit $rc, stderr $(cat bad.err)"
  failures=$((failures + 1))
fi
printf 'frobnicate\n' | "$HVT" session 2>bad.err >/dev/null
if [[ $? -ne 2 ]]; then
  echo "FAIL unknown step from standard input"
  failures=$((failures + 1))
fi

"$HVT" session --help >/dev/null || { echo "FAIL --help"; failures=$((failures + 1)); }

if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "session: all passed"
