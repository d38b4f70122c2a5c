#!/usr/bin/env bash
# Fixture: ends the Wine servers of this test run and removes its prefixes, except
# those of failed scenarios (marked .e2e-failed), which stay for a look.
source "$(dirname "$0")/lib.sh"

step "stopping Wine and removing the prefixes in $WORK"
for prefix in "$WORK"/*/; do
  [ -f "$prefix/system.reg" ] || continue
  WINEPREFIX=${prefix%/} "$WINESERVER" -k 2>/dev/null
  if [ -f "$prefix/.e2e-failed" ]; then
    note "kept (failed): ${prefix%/}"
  else
    rm -rf "$prefix"
  fi
done
# The programs' console output and other loose files of the run.
find "$WORK" -maxdepth 1 -type f -delete
pass
finish
