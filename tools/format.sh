#!/usr/bin/env bash
# Formats every C and C++ file of the checkout the way the test command checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i
