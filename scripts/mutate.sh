#!/usr/bin/env bash
# Mutation run over an already configured build folder:
#   scripts/mutate.sh BUILD_DIR [MUTATIONS_FILE] [--log FILE] [--only LINE...]
# Each mutation is applied to the source tree the build folder was configured
# from, the tests that link the mutated file are rebuilt and run with a
# deadline each, and the file is restored afterwards (also on interruption).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [MUTATIONS_FILE] [options]" >&2; exit 2; }
build=$1; shift
list="$here/mutations.txt"
if [ $# -ge 1 ] && [ "${1#--}" = "$1" ]; then list=$1; shift; fi
export QT_QPA_PLATFORM=offscreen
exec python3 "$here/mutate.py" "$build" "$list" "$@"
