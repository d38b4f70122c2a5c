#!/usr/bin/env bash
# Fixture: the one base Wine prefix of this test run (Windows 10), which the scenarios
# copy when they need a clean machine.
source "$(dirname "$0")/lib.sh"

step "base Wine prefix in $BASE_PREFIX"
if make_base_prefix; then
  pass
  note "made in ${SECONDS} s"
else
  fail "wineboot did not make a prefix in $BASE_PREFIX"
fi
finish
