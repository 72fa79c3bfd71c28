#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked C++ file is not as .clang-format has it, or when a
# source file lacks the licence identifier at its top.
# Usage: scripts/check-format.sh        (from anywhere in the checkout)
set -u
cd "$(dirname "$0")/.."
status=0
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror || status=1
for f in $(git ls-files '*.cpp' '*.h' '*.h.in' '*CMakeLists.txt' 'scripts/*' run test .ci/run); do
    if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
        echo "$f: no SPDX-License-Identifier line at the top" >&2
        status=1
    fi
done
exit $status
