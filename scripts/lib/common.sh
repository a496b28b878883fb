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
    # apt's output is kept out of the way unless the install fails.
    local log
    log=$(mktemp)
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
        if ! { "${sudo[@]}" apt-get update &&
               "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; } >>"$log" 2>&1; then
            cat "$log" >&2
            rm -f "$log"
            echo "could not install: ${missing[*]}" >&2
            return 1
        fi
    fi
    rm -f "$log"
}

BUILD_PACKAGES=(g++ meson ninja-build pkg-config libgsf-1-dev libglib2.0-dev libdeflate-dev libmsnumpress-dev libcli11-dev nettle-dev scdoc python3-dev python3-mesonpy python3-pip)
DEV_PACKAGES=(libgtest-dev zlib1g-dev libbenchmark-dev python3-pytest python3-olefile libxml2-utils openms-common topp python3-pymzml strace chromium)
# the workflow's tests
WORKFLOW_PACKAGES=(snakemake)

# Configures the build tree $1 with the meson setup options that follow. A
# tree set up before with other options is set up afresh, so that it ends
# with exactly these, options left out included (meson --reconfigure and
# --wipe keep those); ninja still reuses the objects whose commands match.
configure_tree() {
    local dir="$REPO/$1"
    shift
    local stamp="$dir/tarvok-setup-options"
    local wanted
    wanted=$(printf '%s\n' "$@")
    [ -f "$dir/build.ninja" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && return 0
    rm -rf "$dir/meson-private" "$dir/meson-info" "$stamp"
    local log
    log=$(mktemp)
    if ! meson setup "$dir" "$REPO" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
    printf '%s\n' "$wanted" >"$stamp"
}

# Configures and builds the development tree in $1.
build_dev_tree() {
    local dir="$1"
    shift
    configure_tree "$dir" -Ddev=true "$@" || return 1
    ninja --quiet -C "$REPO/$dir" -j2
}
