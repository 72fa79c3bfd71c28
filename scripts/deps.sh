# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the project needs, when any is missing.
# Sourced by ./run and ./test; works as root, through sudo, or says why not.

VORTA_PACKAGES="g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libdeflate-dev libpng-dev libpixman-1-dev
  libspng-dev libstb-dev libxcb-damage0-dev libfontconfig-dev
  xvfb xauth fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
  desktop-file-utils appstream groff-base dpkg-dev file lintian
  libmosquitto-dev mosquitto ser2net openssl clang-format
  influxdb curl systemd dbus-daemon"

vorta_install_deps() {
    local missing=""
    for p in $VORTA_PACKAGES; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && return 0
    echo "Installing missing packages:$missing"
    local sudo=""
    if [ "$(id -u)" != 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo="sudo -n"
        else
            echo "error: packages missing ($missing) and neither root nor password-less sudo is available;" >&2
            echo "       install them as root: apt-get install$missing" >&2
            return 1
        fi
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq </dev/null || return 1
    $sudo apt-get install -y -qq --no-install-recommends $missing </dev/null || return 1
}

# vorta_build_programs PRESET TARGET...: configures the build folder of PRESET
# and builds only the named targets (and what they need), so that starting
# the program does not wait for the tests and benchmarks.
vorta_build_programs() {
    local preset="$1"; shift
    local root targets=()
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    for t in "$@"; do targets+=(--target "$t"); done
    (cd "$root" && cmake --preset "$preset") || return 1
    (cd "$root" && cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}")
}

# vorta_build PRESET [cmake options...]: configures the build folder of
# PRESET (CMakePresets.json) and builds it. The configure step always runs: it
# is cheap when nothing changed, and a changed option takes effect instead of
# being ignored by an existing cache.
vorta_build() {
    local preset="$1"; shift
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    (cd "$root" && cmake --preset "$preset" "$@") || return 1
    (cd "$root" && cmake --build --preset "$preset" -j "$(nproc)")
}
