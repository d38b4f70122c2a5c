#!/usr/bin/env bash
# Setup.exe imports directly only DLLs that Windows loads from its system folder whatever
# the search order (the KnownDLLs, and the DLLs the loader itself always maps). Any other
# system DLL must be delay-loaded, so that it is looked up only after the entry point has
# restricted the DLL search: a DLL of that name planted beside Setup.exe in a Downloads
# folder would otherwise be loaded into the elevated setup before any of our code runs.
#   check_imports.sh OBJDUMP SETUP.EXE
set -u
objdump=$1 exe=$2

# HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11,
# with ntdll.dll and kernelbase.dll, which are always mapped from the system folder.
KNOWN="advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 wow64
wow64cpu wow64win ws2_32 ntdll kernelbase"

imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
if [ -z "$imports" ]; then
  echo "no import table read from $exe"
  exit 1
fi
status=0
for dll in $imports; do
  if ! grep -qw -- "$dll" <<<"$KNOWN"; then
    echo "FAIL: $exe imports $dll.dll directly; it is no KnownDLL: delay-load it (cmake/DelayImports.cmake)"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "direct imports, all KnownDLLs: $(echo $imports)"
exit "$status"
