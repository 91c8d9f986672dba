#!/usr/bin/env bash
# Makes the README's screenshots in docs/images/: the main window connected to
# the simulator after a Goto, the Settings and Limits dialogs, the pad window
# and the journal window.
#
#   scripts/screenshots.sh [OUTPUT_DIR]
#
# Always runs on a virtual display (Xvfb) with a settings store of its own, so
# the pictures come out the same on every machine with the same fonts.
# BUILD_DIR picks the build folder (default: build, as scripts/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

out=${1:-docs/images}
build=${BUILD_DIR:-build}

scripts/deps.sh shots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target kesmarshots kesmarsim >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/kesmar-shots.XXXXXX")
cleanup() {
    sim_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The port name shows in the Settings dialog, so it is a fixed one.
link=/tmp/kesmarsim
sim_start "$build/sim/kesmarsim" "$work/sim.log" --link "$link"

mkdir -p "$work/config/quellmark"
cat >"$work/config/quellmark/orvex.conf" <<EOF
[settings]
port=$link
dev=1
update=1000
timeout=100
pcmode=false

[positions]
1\\name=Home
1\\x=10250
1\\y=10250
1\\z=10250
2\\name=Slice centre
2\\x=12400
2\\y=8300
2\\z=15600
3\\name=Parked
3\\x=2000
3\\y=2000
3\\z=20500
size=3
EOF

mkdir -p "$out"
# Without a window manager the X server refuses some focus requests; that is harmless.
XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="qt.qpa.xcb=false" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$build/tools/screenshots/kesmarshots" "$out"
