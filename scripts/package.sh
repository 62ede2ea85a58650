#!/usr/bin/env bash
# Builds Velmora's Debian package in the release build tree:
#   build/release/velmora_VERSION_ARCH.deb
# Install it with: sudo apt install ./build/release/velmora_*.deb
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

velmora_ensure_packages "${VELMORA_BUILD_PACKAGES[@]}"
# Same options as the release stage of test.sh, so all three share one build tree.
velmora_configure release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON \
    -DVELMORA_BUILD_BENCH=ON -DVELMORA_BUILD_FUZZ=OFF -DVELMORA_SANITIZE= >/dev/null
# The package carries the samples, and its screenshot is rendered from one.
velmora_build release velmora-gendata
cd "$VELMORA_ROOT"
if ! velmora_samples_present; then
    echo "== Writing the sample data sets into dat/"
    build/release/tools/velmora-gendata dat
fi
# Only what the package holds; the tests and benchmarks stay unbuilt.
velmora_build release velmora_install_files
cd build/release
cpack -G DEB
