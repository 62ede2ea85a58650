#!/usr/bin/env bash
# Builds Velmora and starts it from the repository root, so that File > Load
# Flow Data opens in dat/ with the sample data sets. Arguments go to the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_ensure_packages "${VELMORA_BUILD_PACKAGES[@]}"
# Same options as the release stage of test.sh, so both share one build tree.
velmora_configure release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON \
    -DVELMORA_BUILD_BENCH=ON -DVELMORA_BUILD_FUZZ=OFF -DVELMORA_SANITIZE= >/dev/null
cmake --build "$VELMORA_ROOT/build/release" -j "$VELMORA_JOBS" --target velmora velmora-gendata

cd "$VELMORA_ROOT"
if ! velmora_samples_present; then
    echo "== Writing the sample data sets into dat/"
    build/release/tools/velmora-gendata dat
fi

program=$(find build/release -type f -name velmora -perm -u+x | head -n 1)
if [ -z "$program" ]; then
    echo "velmora was not built" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "== No display found; starting on a virtual X server (xvfb-run)"
    velmora_ensure_packages xvfb xauth
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@"
fi
exec "$program" "$@"
