# Shared by run.sh and test.sh (sourced, not run): locations and the Debian
# packages the build needs.

VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_JOBS=${VELMORA_JOBS:-2}

VELMORA_BUILD_PACKAGES=(
    cmake ninja-build make g++ git
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libbenchmark-dev fonts-dejavu-core
    help2man librsvg2-bin dpkg-dev
    pkg-config libnetcdf-dev zlib1g-dev libdeflate-dev libmatio-dev qt6-svg-dev
)
VELMORA_TEST_PACKAGES=(clang-14 libclang-rt-14-dev clang-format xvfb xauth desktop-file-utils appstream
    shared-mime-info libglib2.0-bin libxml2-utils python3-pandas python3-numpy poppler-utils)

# Installs whichever of the named packages are missing. The package lists are
# refreshed only when something has to be installed, so a repeated run does
# not touch the network.
velmora_ensure_packages()
{
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}; run as root or install them first." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "== Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# velmora_configure DIR [cmake options...]: configures DIR below build/ with
# Ninja. Options given here override what an earlier run left in the cache.
velmora_configure()
{
    local dir=$1
    shift
    cmake -S "$VELMORA_ROOT" -B "$VELMORA_ROOT/build/$dir" -G Ninja "$@"
}

# velmora_build DIR [targets...]: builds with VELMORA_JOBS jobs; "-k 0" keeps
# Ninja going past a broken target so the other tests still get built and run.
velmora_build()
{
    local dir=$1
    shift
    local targets=()
    local target
    for target in "$@"; do
        targets+=(--target "$target")
    done
    cmake --build "$VELMORA_ROOT/build/$dir" -j "$VELMORA_JOBS" "${targets[@]}" -- -k 0
}

# The samples in dat/ the Load dialog shows first; regenerated when absent.
velmora_samples_present()
{
    local name
    for name in vortex_street double_gyre channel_transposed cavity.00000; do
        [ -f "$VELMORA_ROOT/dat/$name.gri" ] || return 1
    done
    [ -f "$VELMORA_ROOT/dat/cavity.00000.dat" ] || return 1
    [ -f "$VELMORA_ROOT/dat/cylinder_ogrid.vts" ] || return 1
}
