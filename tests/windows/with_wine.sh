#!/usr/bin/env bash
# Runs a command (the cross-built tests, the parity run) with a wine session kept up throughout:
# its server and services are started first, away from the command's output, because CTest waits
# for every process holding a test's output and wine's services outlive the program that started
# them. The session is stopped at the end: give it a prefix of its own (WINEPREFIX).
set -uo pipefail
export WINEDEBUG=-all
wineserver -p < /dev/null > /dev/null 2>&1
wine wineboot < /dev/null > /dev/null 2>&1
"$@"
status=$?
wineserver -k < /dev/null > /dev/null 2>&1
exit $status
