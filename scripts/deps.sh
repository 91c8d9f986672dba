#!/usr/bin/env bash
# Installs the Debian packages a task needs, when they are missing.
# Usage: scripts/deps.sh build|test|run
# As root it runs apt-get itself; otherwise it prints the one line to run.
set -euo pipefail

# help2man writes the simulator's manual page from its --help at build time;
# ccache keeps compiled objects between builds, so a second build is quick.
build=(build-essential cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools help2man ccache)
# The Debian package build; the Python module kesmar runs on python3-jeepney.
package=(dpkg-dev debhelper dh-python python3 python3-jeepney file lintian)
case "${1:-build}" in
build) wanted=("${build[@]}") ;;
# The tests build and run on Qt 6 as well; appstream validates the metainfo.
test) wanted=("${build[@]}" "${package[@]}" clang libclang-rt-14-dev desktop-file-utils dbus-daemon qt6-base-dev
    appstream) ;;
run) wanted=("${build[@]}" xvfb xauth) ;;
shots) wanted=("${build[@]}" xvfb xauth imagemagick) ;;
package) wanted=("${build[@]}" "${package[@]}") ;;
bench) wanted=("${build[@]}" xvfb xauth dbus-daemon) ;;
*) echo "usage: $0 build|test|run|shots|package|bench" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
    echo "Missing packages. Please run:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
