#!/usr/bin/env bash
# Fails when a tracked C++ file is not as .clang-format has it.
# Usage: scripts/check-format.sh        (from anywhere in the checkout)
set -u
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
