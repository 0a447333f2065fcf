#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Every source file of ours names its licence in its first lines. Prints the files that do
# not and fails; run from the tests (label licence) or by hand: scripts/check-licence.sh [DIR].
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"
missing=$(find . \( -path ./.git -o -path './build*' -o -name 'build-*' \) -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.h.in' -o -name '*.cmake' -o -name CMakeLists.txt \
     -o -name '*.sh' -o -path ./.ci/run \) -print |
  while read -r f; do head -n 3 "$f" | grep -q 'SPDX-License-Identifier: Apache-2.0' || echo "$f"; done)
if [ -n "$missing" ]; then
  echo "no SPDX-License-Identifier: Apache-2.0 line at the top of:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "licence headers: all present"
