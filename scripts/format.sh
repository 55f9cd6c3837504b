#!/usr/bin/env bash
# Formats every C++ source of the project with the root .clang-format.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format -i
