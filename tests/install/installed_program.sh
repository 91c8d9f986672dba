#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, checks the installed files,
# then runs the installed program against the installed simulator until the
# simulator has answered the program's position requests.
#
# Usage: installed_program.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)

source "$source/scripts/lib.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kesmar-install.XXXXXX")
prefix=$tmp/prefix
app_pid=
cleanup() {
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    sim_stop
    rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
die() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

# Nothing from the caller's environment may help the loader find the library.
unset LD_LIBRARY_PATH LD_PRELOAD

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log" >&2
    die "cmake --install failed"
}

# --- The installed files ---------------------------------------------------
for f in bin/kesmarcontrol bin/kesmar bin/kesmarsim; do
    [[ -f $prefix/$f && -x $prefix/$f ]] || fail "$f is not installed as an executable"
done

libdir=$(cd "$prefix" && ls -d lib* 2>/dev/null | head -n 1)
[[ -n $libdir ]] || die "no library folder in the prefix"
lib=$prefix/$libdir
[[ -f $lib/libkesmarctl.so.1.0.0 && ! -L $lib/libkesmarctl.so.1.0.0 ]] || fail "$libdir/libkesmarctl.so.1.0.0 missing"
[[ $(readlink "$lib/libkesmarctl.so.1") == libkesmarctl.so.1.0.0 ]] || fail "$libdir/libkesmarctl.so.1 is not a link to libkesmarctl.so.1.0.0"
[[ $(readlink "$lib/libkesmarctl.so") == libkesmarctl.so.1 ]] || fail "$libdir/libkesmarctl.so is not a link to libkesmarctl.so.1"
soname=$(readelf -d "$lib/libkesmarctl.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == libkesmarctl.so.1 ]] || fail "library SONAME is '$soname', expected libkesmarctl.so.1"

desktop=$prefix/share/applications/kesmarcontrol.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/kesmarcontrol.svg
[[ -f $desktop ]] || fail "share/applications/kesmarcontrol.desktop missing"
[[ -s $icon ]] || fail "share/icons/hicolor/scalable/apps/kesmarcontrol.svg missing"
if [[ -f $desktop ]]; then
    # The entry must start the installed program and name the installed icon.
    grep -qx 'Exec=kesmarcontrol' "$desktop" || fail "desktop entry does not run kesmarcontrol"
    grep -qx 'Icon=kesmarcontrol' "$desktop" || fail "desktop entry does not name the kesmarcontrol icon"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "note: desktop-file-validate not found (package desktop-file-utils); entry not validated"
    fi
fi
grep -q '<svg' "$icon" 2>/dev/null || fail "the icon is not an SVG file"
for size in 16 22 24 32 48 64 128 256; do
    png=share/icons/hicolor/${size}x${size}/apps/kesmarcontrol.png
    [[ $(file -b "$prefix/$png" 2>/dev/null) == "PNG image data, $size x $size,"* ]] || fail "$png is not a $size x $size PNG"
done

# AppStream metainfo for the installed desktop entry, of this version.
metainfo=share/metainfo/org.quellmark.kesmarcontrol.metainfo.xml
if [[ -f $prefix/$metainfo ]]; then
    grep -q '<launchable type="desktop-id">kesmarcontrol.desktop</launchable>' "$prefix/$metainfo" ||
        fail "$metainfo does not launch kesmarcontrol.desktop"
    version=$("$prefix/bin/kesmarcontrol" --version)
    grep -q "<release version=\"${version#kesmarcontrol }\"" "$prefix/$metainfo" ||
        fail "$metainfo has no release for '$version'"
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$prefix/$metainfo" || fail "appstreamcli validate rejects $metainfo"
    else
        echo "note: appstreamcli not found (package appstream); metainfo not validated"
    fi
else
    fail "$metainfo missing"
fi

bus=share/dbus-1/interfaces/org.quellmark.KesmarControl1.xml
grep -q '<interface name="org.quellmark.KesmarControl1">' "$prefix/$bus" 2>/dev/null || fail "$bus missing"

# The manual pages and the completions offer what --help lists.
options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
for exe in kesmarcontrol kesmar kesmarsim; do
    page=$(zcat "$prefix/share/man/man1/$exe.1.gz" 2>/dev/null | sed 's/\\-/-/g')
    missing=$(comm -23 <("$prefix/bin/$exe" --help | options) <(options <<<"$page"))
    [[ -n $page && -z $missing ]] || fail "the manual page of $exe lacks: ${missing:-the page}"
done
for exe in kesmar kesmarsim kesmarcontrol; do
    completion=$prefix/share/bash-completion/completions/$exe
    bash -c "source '$completion' && complete -p $exe" >/dev/null 2>&1 || fail "$completion completes nothing for $exe"
done
commands=$("$prefix/bin/kesmar" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\).*/\1/p')
for c in $commands; do
    grep -q "commands=\".*\b$c\b" "$prefix/share/bash-completion/completions/kesmar" ||
        fail "the kesmar completion lacks the command $c"
done
for exe in kesmarsim kesmarcontrol; do
    missing=$(comm -23 <("$prefix/bin/$exe" --help | options) <(options <"$prefix/share/bash-completion/completions/$exe"))
    [[ -z $missing ]] || fail "the $exe completion lacks: $missing"
done
[[ -f $prefix/lib/udev/rules.d/70-kesmarcontrol.rules ]] || fail "lib/udev/rules.d/70-kesmarcontrol.rules missing"

# --- The installed program loads the installed library ----------------------
for exe in bin/kesmarcontrol "$libdir/libkesmarctl.so.1.0.0"; do
    runpath=$(readelf -d "$prefix/$exe" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
    [[ $exe != bin/* || $runpath == '$ORIGIN/../lib'* ]] || fail "$exe has run path '$runpath', expected \$ORIGIN/../lib..."
    [[ $runpath != *"$build"* && $runpath != *"$source"* ]] || fail "$exe keeps a build tree run path: $runpath"
done
libs=$(ldd "$prefix/bin/kesmarcontrol")
resolved=$(awk '$1 == "libkesmarctl.so.1" && $3 != "not" { print $3 }' <<<"$libs")
[[ -n $resolved ]] || fail "ldd finds no libkesmarctl.so.1 for the installed program"
if [[ -n $resolved ]]; then
    resolved=$(readlink -f "$resolved")
    [[ $resolved == "$(readlink -f "$lib")"/* ]] ||
        fail "the installed program loads libkesmarctl.so.1 from $resolved, not from the prefix"
fi
[[ $libs != *"not found"* ]] || fail "unresolved libraries: $(grep 'not found' <<<"$libs")"

# pkg-config and CMake find the library installed, and in the build tree before any install.
pc_prefix=$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --variable=prefix kesmarctl)
[[ $pc_prefix == "$prefix" ]] || fail "the installed kesmarctl.pc names the prefix '$pc_prefix', not $prefix"
example=$source/docs/examples/position.c
for tree in build installed; do
    if [[ $tree == build ]]; then where=$build/ctllib pcdir=$build/ctllib; else where=$prefix pcdir=$lib/pkgconfig; fi
    flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs kesmarctl) &&
        cc -Wall -Werror -o "$tmp/position-pc-$tree" "$example" $flags ||
        fail "the C example does not build with the $tree tree's kesmarctl.pc"
    mkdir -p "$tmp/consumer-$tree"
    printf 'cmake_minimum_required(VERSION 3.16)\nproject(consumer C)\nfind_package(KesmarCtl 1 REQUIRED)\nadd_executable(position "%s")\ntarget_link_libraries(position PRIVATE KesmarCtl::kesmarctl)\n' \
        "$example" >"$tmp/consumer-$tree/CMakeLists.txt"
    { cmake -S "$tmp/consumer-$tree" -B "$tmp/consumer-$tree/build" -DCMAKE_PREFIX_PATH="$where" &&
        cmake --build "$tmp/consumer-$tree/build"; } >"$tmp/consumer-$tree.log" 2>&1 || {
        cat "$tmp/consumer-$tree.log" >&2
        fail "the C example does not build with the $tree tree's find_package(KesmarCtl)"
    }
done

((failures == 0)) || die "$failures check(s) of the installed files failed"

# --- The installed program against the installed simulator -----------------
sim_start "$prefix/bin/kesmarsim" "$tmp/sim.log" --verbose --link "$tmp/unit" ||
    die "the installed simulator printed no terminal path"
pty=$SIM_PTY
[[ -c $pty ]] || die "the simulator's first line '$pty' is not a terminal"

mkdir -p "$tmp/config/quellmark"
printf '[settings]\nport=%s\n' "$pty" >"$tmp/config/quellmark/orvex.conf"

XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/kesmarcontrol" >"$tmp/app.log" 2>&1 &
app_pid=$!

# The program shows what the unit answers to its position queries; two answers
# mean the port was opened and the polling timer runs.
answered() { [[ $(grep -c -- '-> addr=49 cmd=0x83 (position query)' "$tmp/sim.log") -ge 2 ]]; }
if ! wait_for 30 answered; then
    echo "--- simulator log" >&2
    tail -n 20 "$tmp/sim.log" >&2
    echo "--- program output" >&2
    cat "$tmp/app.log" >&2
    die "the installed program's position requests were not answered within 30 s"
fi
kill -0 "$app_pid" 2>/dev/null || die "the installed program exited while polling"
grep -q -- '-> addr=255 cmd=0x81 (identify)' "$tmp/sim.log" || die "the program never opened the unit"

echo "installed to $prefix ($libdir), library from $resolved, $(grep -c -- '-> addr=49 cmd=0x83' "$tmp/sim.log") position answers"
echo "PASS"
