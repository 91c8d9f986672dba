#!/usr/bin/env bash
# Builds the program and starts it.
#
#   scripts/run.sh              demo without hardware: starts the control unit
#                               simulator and the program connected to it
#   scripts/run.sh --hardware   the program alone, on the port set in your own
#                               settings (File > Settings)
#
# The demo keeps a settings store of its own under build/demo, so your real
# store (~/.config/quellmark/orvex.conf) is never touched by it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

mode=demo
case "${1:-}" in
"") ;;
--hardware) mode=hardware ;;
-h | --help) header_help scripts/run.sh; exit 0 ;;
*) echo "usage: $0 [--hardware]" >&2; exit 2 ;;
esac

# Installs Xvfb too, so the hint below can be followed at once.
scripts/deps.sh run
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && "${QT_QPA_PLATFORM:-}" != offscreen ]]; then
    echo "No display found; to run on a virtual one: xvfb-run -a $0 $*" >&2
    exit 1
fi

build=build
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target kesmarcontrol kesmarsim kesmar >/dev/null

if [[ $mode == hardware ]]; then
    exec "$build/app/kesmarcontrol"
fi

demo=$(pwd)/$build/demo
link=$demo/kesmarsim.pty
store=$demo/config/quellmark/orvex.conf
mkdir -p "$(dirname "$store")"

trap sim_stop EXIT
sim_start "$build/sim/kesmarsim" "$demo/kesmarsim.log" --link "$link"
echo "Simulator on $SIM_PTY, linked as $link"

# Point the demo's store at the simulator. A failed open saves the default
# port at exit, so the port is set again on every start; named positions and
# other settings are kept.
[[ -f "$store" ]] || printf '[settings]\n' >"$store"
grep -q '^\[settings\]' "$store" || printf '\n[settings]\n' >>"$store"
sed -i '/^\[settings\]/,/^\[/{/^port=/d}' "$store"
sed -i "/^\[settings\]/a port=$link" "$store"

XDG_CONFIG_HOME=$demo/config "$build/app/kesmarcontrol"
