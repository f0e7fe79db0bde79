#!/usr/bin/env bash
# The programs import only DLLs that Windows always takes from System32 (its known DLLs) and the
# side-by-side common controls: any other name would be looked for in the program's folder first,
# where a download may have planted one, before the program's first line could stop it.
#   imports_test.sh EXE...
set -uo pipefail
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
command -v "$objdump" >/dev/null || { echo "SKIP: no $objdump"; exit 77; }
allowed=" advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll ws2_32.dll "
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$dlls" ] || { echo "FAIL: no import table read from $exe"; status=1; continue; }
  for dll in $dlls; do
    [[ $allowed == *" $dll "* ]] || { echo "FAIL: $(basename "$exe") imports $dll"; status=1; }
  done
  echo "$(basename "$exe"): $(echo $dlls)"
done
exit $status
