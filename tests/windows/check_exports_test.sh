#!/usr/bin/env bash
# Feeds win/check-exports small modules built here with known faults, and a
# sound one, and checks that it passes only the sound one.
# Usage: tests/windows/check_exports_test.sh [SOURCE_DIR]
set -euo pipefail
src="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
check="$src/win/check-exports"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cc64=x86_64-w64-mingw32-gcc
cc32=i686-w64-mingw32-gcc
for tool in $cc64 $cc32 x86_64-w64-mingw32-dlltool i686-w64-mingw32-dlltool; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
x86_64-w64-mingw32-dlltool --kill-at --input-def "$src/win/XLCALL32-x64.def" \
  --output-lib "$work/xlcall64.a"
i686-w64-mingw32-dlltool --kill-at --input-def "$src/win/XLCALL32-x86.def" \
  --output-lib "$work/xlcall32.a"

passed=0
failed=0
record() {  # name, expected (pass|fail), actual exit code, output, wanted text
  local ok=1
  if [ "$2" = pass ] && [ "$3" -ne 0 ]; then ok=0; fi
  if [ "$2" = fail ] && [ "$3" -eq 0 ]; then ok=0; fi
  if [ -n "${5:-}" ] && ! grep -qF -- "$5" <<<"$4"; then ok=0; fi
  if [ "$ok" -eq 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1 (wanted $2${5:+ with '$5'}, exit $3)" >&2
    printf '%s\n' "$4" | sed 's/^/    /' >&2
  fi
}

# A source tree: the shell's entry points and one tool with one registered
# worksheet function. $1: tree, $2: extra tool source text.
make_tree() {
  mkdir -p "$1/shell" "$1/host" "$1/tools/fake" "$1/win"
  cp "$src/win/entry-points.txt" "$src/win/xp-imports.txt" "$1/win/"
  {
    echo '#include "sdk/xlcall.h"'
    echo 'RegistrationRow g_shellRows[] = {'
    echo '    {{" fExit", " J", " Quit_HVT", " ", " 2", " HVT", " "}},'
    echo '    {{" rAbout", " J", " AboutHVT", " ", " 2", " HVT", " "}},'
    echo '};'
    for entry in xlAutoOpen xlAutoClose xlAutoAdd xlAutoRemove fExit rAbout; do
      echo "extern \"C\" HVT_EXPORT int WINAPI $entry(void) { return 1; }"
    done
    echo 'extern "C" HVT_EXPORT LPXLOPER WINAPI xlAutoRegister(LPXLOPER x) { return x; }'
    echo 'extern "C" HVT_EXPORT LPXLOPER WINAPI xlAddInManagerInfo(LPXLOPER x) { return x; }'
    echo 'extern "C" HVT_EXPORT void WINAPI xlAutoFree(LPXLOPER x) { (void)x; }'
    echo 'extern "C" HVT_EXPORT void* WINAPI xlAutoRegister12(void* x) { return x; }'
    echo 'extern "C" HVT_EXPORT void* WINAPI xlAddInManagerInfo12(void* x) { return x; }'
    echo 'extern "C" HVT_EXPORT void WINAPI xlAutoFree12(void* x) { (void)x; }'
  } >"$1/shell/shell.cpp"
  {
    echo 'RegistrationRow g_fakeRows[] = {'
    echo '    {{" FAKEUP", " RR", " Fake_Update", " data", " 1", " HVT", " "}},'
    echo '};'
    echo 'extern "C" HVT_EXPORT LPXLOPER WINAPI FAKEUP(LPXLOPER x) {'
    echo '  XLOPER r; Excel4(16384, &r, 0); Excel4v(16384, &r, 0, 0); return x; }'
    printf '%s\n' "${2:-}"
  } >"$1/tools/fake/fake_tool.cpp"
}

# Builds the exports a tree declares into a module. $1 tree, $2 bits,
# $3 extra linker arguments.
build_module() {
  local tree="$1" bits="$2" cc lib kill=""
  if [ "$bits" = 64 ]; then cc=$cc64; lib="$work/xlcall64.a"; else
    cc=$cc32; lib="$work/xlcall32.a"; kill="-Wl,--kill-at"; fi
  # The same declarations as C: RegistrationRow becomes a plain table.
  {
    echo '#include <windows.h>'
    echo 'typedef struct { WORD t; } XLOPER, *LPXLOPER;'
    echo 'int __cdecl Excel4(int, LPXLOPER, int, ...);'
    echo 'int __stdcall Excel4v(int, LPXLOPER, int, LPXLOPER*);'
    echo 'typedef struct { const char* text[7]; } RegistrationRow;'
    echo '#define HVT_EXPORT __declspec(dllexport)'
    cat "$tree/shell/shell.cpp" "$tree/tools/fake/fake_tool.cpp" |
      grep -v '#include' | sed 's/extern "C" //'
  } >"$tree/module.c"
  "$cc" -shared -O1 -o "$tree/HVT_TEST.xll" "$tree/module.c" "$lib" ${kill} ${3:-}
}

run_case() {  # name, expected, tree, bits, extra linker args, wanted text
  local output code=0
  build_module "$3" "$4" "${5:-}"
  output="$("$check" "$3/HVT_TEST.xll" "$3" 2>&1)" || code=$?
  record "$1" "$2" "$code" "$output" "${6:-}"
}

make_tree "$work/sound64"
run_case "sound 64-bit module" pass "$work/sound64" 64 "-static-libgcc" \
  "HVT_TEST.xll: 13 exports"

make_tree "$work/sound32"
run_case "sound 32-bit module, --kill-at" pass "$work/sound32" 32 "-static-libgcc"

make_tree "$work/vista32" \
  'unsigned long long uptime(void) { return GetTickCount64(); }'
run_case "32-bit module importing what Windows XP lacks" fail "$work/vista32" 32 \
  "-static-libgcc" "imports GetTickCount64 from kernel32.dll"

make_tree "$work/decorated"
build_module "$work/decorated" 32 "-static-libgcc"
# Built again without --kill-at: stdcall names keep their @n.
i686-w64-mingw32-gcc -shared -O1 -o "$work/decorated/HVT_TEST.xll" \
  "$work/decorated/module.c" "$work/xlcall32.a" -static-libgcc
code=0
output="$("$check" "$work/decorated/HVT_TEST.xll" "$work/decorated" 2>&1)" || code=$?
record "32-bit module without --kill-at" fail "$code" "$output" \
  "decorated export 'FAKEUP@4'"

make_tree "$work/unexported" \
  'RegistrationRow g_moreRows[] = {
    {{" MISSINGUP", " RR", " Missing_Update", " data", " 1", " HVT", " "}},
};'
run_case "registered procedure not exported" fail "$work/unexported" 64 "" \
  "registered procedure 'MISSINGUP' is not exported"

make_tree "$work/stray" \
  'extern "C" HVT_EXPORT int WINAPI HelperLeak(void) { return 2; }'
run_case "export that is neither entry point nor registered" fail \
  "$work/stray" 64 "" "exports 'HelperLeak', neither an entry point"

make_tree "$work/unmarked"
build_module "$work/unmarked" 64 ""
sed -i 's/^extern "C" HVT_EXPORT LPXLOPER WINAPI FAKEUP/extern "C" LPXLOPER WINAPI FAKEUP/' \
  "$work/unmarked/tools/fake/fake_tool.cpp"
code=0
output="$("$check" "$work/unmarked/HVT_TEST.xll" "$work/unmarked" 2>&1)" || code=$?
record "export the sources do not mark" fail "$code" "$output" \
  "exports 'FAKEUP', which no source marks HVT_EXPORT"

make_tree "$work/runtime"
cat >"$work/runtime/extra.c" <<'C'
__declspec(dllimport) int __cdecl hvt_runtime_helper(void);
int use_helper(void) { return hvt_runtime_helper(); }
C
printf 'LIBRARY libstdc++-6.dll\nEXPORTS\nhvt_runtime_helper\n' >"$work/runtime/rt.def"
x86_64-w64-mingw32-dlltool --input-def "$work/runtime/rt.def" \
  --output-lib "$work/runtime/librt.a"
run_case "imports a compiler runtime DLL" fail "$work/runtime" 64 \
  "$work/runtime/extra.c $work/runtime/librt.a" \
  "imports libstdc++-6.dll, which is not a Windows system DLL"

make_tree "$work/noentry"
sed -i '/WINAPI xlAutoFree/d' "$work/noentry/shell/shell.cpp"
run_case "an Excel entry point missing" fail "$work/noentry" 64 "" \
  "Excel entry points not exported: xlAutoFree"

make_tree "$work/noregs"
sed -i '/RegistrationRow/,/^};/d' "$work/noregs/shell/shell.cpp" \
  "$work/noregs/tools/fake/fake_tool.cpp"
run_case "no registration tables found" fail "$work/noregs" 64 "" \
  "no registration rows found"

echo "check-exports: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
