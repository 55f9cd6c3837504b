#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix (the CTest emulator).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
exec wine "$@"
