# Shared by the entry points: the interpreter, the packages, the build.
PYTHON="${PYTHON:-/usr/bin/python3}"
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Installs whichever of the given Debian packages are missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; then
        "${sudo[@]}" apt-get update >/dev/null
        "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

BUILD_PACKAGES=(g++ meson ninja-build pkg-config libgsf-1-dev libglib2.0-dev libdeflate-dev libcli11-dev scdoc python3-dev python3-mesonpy python3-pip)
DEV_PACKAGES=(libgtest-dev libbenchmark-dev python3-pytest python3-olefile libxml2-utils openms-common topp python3-pymzml)
# the workflow's tests
WORKFLOW_PACKAGES=(snakemake)

# Configures (once) and builds the development tree in $1.
build_dev_tree() {
    local dir="$1"
    shift
    if [ ! -f "$REPO/$dir/build.ninja" ]; then
        meson setup "$REPO/$dir" "$REPO" -Ddev=true "$@" >/dev/null
    fi
    ninja --quiet -C "$REPO/$dir"
}
