#!/usr/bin/env bash
# Builds the Debian source and binary packages from a copy of the source with
# dpkg-buildpackage, as Debian does, and checks them: the package set, each package's fields,
# dependencies and files, hardening, the library's symbols, run paths and
# build paths, and lintian --pedantic. Then, from the unpacked packages, it
# builds the C example of docs/examples against the library through
# pkg-config and through the CMake package and runs it (and the Python
# example) against the packaged simulator, and runs the autopkgtest.
#
# Usage: debian_package.sh SOURCE_DIR
set -uo pipefail
source=$(cd "$1" && pwd)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kesmar-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
die() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in dpkg-buildpackage dh dpkg-deb readelf file cc pkg-config cmake git; do
    command -v "$tool" >/dev/null || die "$tool is missing; run scripts/deps.sh test"
done

# --- Build ------------------------------------------------------------------------------
# The source as committed plus what is new and not ignored, without build folders.
mkdir "$tmp/src"
(cd "$source" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tmp/src" 2>/dev/null) ||
    die "cannot copy the source (a git checkout is needed)"
# Through ccache where it is installed: the build folder differs on every run,
# and the flags map it away (-ffile-prefix-map), so its name is left out of the hash.
compilers=
[[ -d /usr/lib/ccache ]] && compilers=/usr/lib/ccache:
start=$SECONDS
(cd "$tmp/src" && PATH=$compilers$PATH CCACHE_BASEDIR=$tmp/src CCACHE_NOHASHDIR=1 \
    DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc) >"$tmp/build.log" 2>&1 || {
    tail -n 40 "$tmp/build.log" >&2
    die "dpkg-buildpackage failed"
}
echo "dpkg-buildpackage took $((SECONDS - start)) s"
version=$(cd "$tmp/src" && dpkg-parsechangelog -S Version)
# A native source package: the .dsc and one tarball, which unpacks again.
[[ -f $tmp/kesmarcontrol_$version.dsc && -f $tmp/kesmarcontrol_$version.tar.xz ]] || die "no source package was made"
(cd "$tmp" && dpkg-source -x "kesmarcontrol_$version.dsc" unpacked >/dev/null 2>&1) || fail "the source package does not unpack"
[[ -f $tmp/unpacked/debian/rules && ! -e $tmp/unpacked/.git ]] || fail "the source package lacks debian/rules or holds .git"
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=/usr/lib/$multiarch

# The package set, and what each must depend on besides what dpkg-shlibdeps adds.
packages=(libkesmarctl1 libkesmarctl-dev kesmarcontrol kesmarsim python3-kesmar)
# The Qt 5 library package of a module: core, widgets, dbus.
qt() { if [[ $1 == core ]]; then echo libqt5core5a; else echo "libqt5${1}5"; fi; }
declare -A needs=(
    [libkesmarctl1]="libc6 libstdc++6"
    [libkesmarctl-dev]="libkesmarctl1"
    [kesmarcontrol]="libkesmarctl1 libc6 $(qt core) $(qt widgets) $(qt dbus)"
    [kesmarsim]="libc6"
    [python3-kesmar]="python3:any python3-jeepney"
)
archof() { if [[ $1 == python3-* ]]; then echo all; else echo "$arch"; fi; }
made=$(cd "$tmp" && ls -- *.deb | sort)
wanted=$(for p in "${packages[@]}"; do
    echo "${p}_${version}_$(archof "$p").deb"
    [[ $p == *-dev || $p == python3-* ]] || echo "${p}-dbgsym_${version}_$arch.deb" # debug symbols of each package with binaries
done | sort)
[[ $made == "$wanted" ]] || die "made: $(echo $made); expected exactly: $(echo $wanted)"

deb() { echo "$tmp/${1}_${version}_$(archof "$1").deb"; }
for p in "${packages[@]}"; do
    dpkg-deb -c "$(deb "$p")" >"$tmp/$p.listing"
    awk '{ print $6 }' "$tmp/$p.listing" | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$tmp/$p.files"
    dpkg-deb -x "$(deb "$p")" "$tmp/root"
done
root=$tmp/root
has() { grep -qx -- "$2" "$tmp/$1.files" || fail "$1 lacks $2"; }
link() { grep -Eq -- "\.$2 -> $3\$" "$tmp/$1.listing" || fail "$1 lacks the link $2 -> $3"; }

# --- What each package holds ------------------------------------------------------------
has libkesmarctl1 "$libdir/libkesmarctl.so.1.0.0"
link libkesmarctl1 "$libdir/libkesmarctl.so.1" libkesmarctl.so.1.0.0
has libkesmarctl-dev /usr/include/libkesmarctl.h
link libkesmarctl-dev "$libdir/libkesmarctl.so" libkesmarctl.so.1
has libkesmarctl-dev "$libdir/pkgconfig/kesmarctl.pc"
has libkesmarctl-dev "$libdir/cmake/KesmarCtl/KesmarCtlConfig.cmake"
has kesmarcontrol /usr/bin/kesmarcontrol
has kesmarcontrol /usr/bin/kesmar
has kesmarcontrol /usr/share/applications/kesmarcontrol.desktop
has kesmarcontrol /usr/share/icons/hicolor/scalable/apps/kesmarcontrol.svg
has kesmarcontrol /usr/share/man/man1/kesmarcontrol.1.gz
has kesmarcontrol /usr/share/man/man1/kesmar.1.gz
has kesmarsim /usr/bin/kesmarsim
has kesmarsim /usr/share/man/man1/kesmarsim.1.gz
has kesmarcontrol /usr/share/icons/hicolor/48x48/apps/kesmarcontrol.png
has kesmarcontrol /usr/share/metainfo/org.quellmark.kesmarcontrol.metainfo.xml
has kesmarcontrol /usr/share/dbus-1/interfaces/org.quellmark.KesmarControl1.xml
has kesmarcontrol /usr/share/bash-completion/completions/kesmar
has kesmarsim /usr/share/bash-completion/completions/kesmarsim
# The documents where Debian puts them (dh_compress gzips the larger ones).
has kesmarcontrol /usr/share/bash-completion/completions/kesmarcontrol
has kesmarcontrol /usr/lib/udev/rules.d/70-kesmarcontrol.rules
has kesmarcontrol '/usr/share/doc/kesmarcontrol/README.md\(\.gz\)\{0,1\}'
has kesmarcontrol /usr/share/doc/kesmarcontrol/images/main-window.png
has kesmarsim '/usr/share/doc/kesmarsim/simulator.md\(\.gz\)\{0,1\}'
has libkesmarctl-dev '/usr/share/doc/libkesmarctl-dev/protocol.md\(\.gz\)\{0,1\}'
has libkesmarctl-dev '/usr/share/doc/libkesmarctl-dev/examples/position.c\(\.gz\)\{0,1\}'
has libkesmarctl-dev '/usr/share/doc/libkesmarctl-dev/examples/position.py\(\.gz\)\{0,1\}'
has python3-kesmar /usr/lib/python3/dist-packages/kesmar/__init__.py
has python3-kesmar '/usr/share/doc/python3-kesmar/examples/panel.py\(\.gz\)\{0,1\}'
# The simulator's page comes from its own --help.
zcat "$root/usr/share/man/man1/kesmarsim.1.gz" 2>/dev/null | grep -q -- 'unit\\-id' ||
    fail "the kesmarsim manual page does not list --unit-id"

# --- Every package ----------------------------------------------------------------------
for p in "${packages[@]}"; do
    field() { dpkg-deb -f "$(deb "$p")" "$1"; }
    [[ $(field Version) == "$version" && $(field Architecture) == "$(archof "$p")" ]] ||
        fail "$p: version '$(field Version)', architecture '$(field Architecture)'"
    depends=$(field Depends)
    echo "$p Depends: $depends"
    names=" $(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends" | tr -s ' ') "
    for need in ${needs[$p]}; do
        [[ $names == *" $need "* ]] || fail "$p does not depend on $need"
    done
    # The library and the simulator need no Qt.
    [[ $p == kesmarcontrol || $depends != *libqt* ]] || fail "$p depends on Qt: $depends"
    [[ $p != libkesmarctl* || $(field Multi-Arch) == same ]] || fail "$p is not Multi-Arch: same"

    outside=$(grep -v '^/usr' "$tmp/$p.files")
    [[ -z $outside ]] || fail "$p: files outside /usr: $outside"
    grep -q '^License: GPL-3+$' "$root/usr/share/doc/$p/copyright" 2>/dev/null || fail "$p: no copyright file naming the licence"

    while read -r f; do
        [[ -f $root$f && ! -L $root$f ]] || continue
        [[ $(file -b "$root$f") == ELF* ]] || continue
        [[ $(file -b "$root$f") == *", stripped"* ]] || fail "$p: $f is not stripped"
        dynamic=$(readelf -d "$root$f")
        # Hardening: full RELRO (BIND_NOW), position-independent, no run path.
        grep -Eq 'FLAGS.*(BIND_NOW|NOW)' <<<"$dynamic" || fail "$p: $f is not linked with BIND_NOW"
        readelf -lW "$root$f" | grep -q GNU_RELRO || fail "$p: $f has no RELRO segment"
        [[ $(readelf -hW "$root$f") == *"DYN ("* ]] || fail "$p: $f is not position-independent"
        ! grep -Eq 'R(UN)?PATH' <<<"$dynamic" || fail "$p: $f keeps a run path"
        # Reproducible: no path of the build folder in the binary.
        ! grep -qF "$tmp/src" "$root$f" || fail "$p: $f holds the build folder's path"
    done <"$tmp/$p.files"
done

# The library: the C and C++ runtimes only; stack protector and FORTIFY in it.
needed=$(readelf -d "$root$libdir/libkesmarctl.so.1.0.0" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
[[ $needed =~ ^((libc|libstdc\+\+|libgcc_s|libm|ld-linux[^ ]*)\.so[^ ]*\ )+$ ]] ||
    fail "libkesmarctl.so.1 needs more than the C and C++ runtimes: $needed"
symbols=$(readelf --dyn-syms -W "$root$libdir/libkesmarctl.so.1.0.0")
grep -q '__stack_chk_fail' <<<"$symbols" || fail "libkesmarctl.so.1 is built without the stack protector"
grep -Eq '__[a-z]+_chk' <<<"$symbols" || fail "libkesmarctl.so.1 is built without FORTIFY"
exported=$(awk '$5 == "GLOBAL" && $7 != "UND" { print $8 }' <<<"$symbols" | sort | tr '\n' ' ')
mkdir "$tmp/control"
dpkg-deb -e "$(deb libkesmarctl1)" "$tmp/control"
listed=$(sed -n 's/^ \(kesmarctl_[a-z_]*\)@Base .*/\1/p' "$tmp/control/symbols" 2>/dev/null | sort | tr '\n' ' ')
[[ -n $listed && $listed == "$exported" ]] || fail "the symbols file lists '$listed', the library exports '$exported'"
grep -qx 'activate-noawait ldconfig' "$tmp/control/triggers" 2>/dev/null || fail "libkesmarctl1 has no ldconfig trigger"

# --- lintian ----------------------------------------------------------------------------
# Every tag counts, informational and pedantic ones included.
if command -v lintian >/dev/null; then
    lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$tmp"/*.changes >"$tmp/lintian.log" 2>&1 || {
        cat "$tmp/lintian.log" >&2
        fail "lintian reports tags"
    }
else
    echo "note: lintian not found (scripts/deps.sh test installs it); packages not checked by it"
fi
((failures == 0)) || die "$failures check(s) of the packages failed"

# --- The unpacked packages at work --------------------------------------------------------
# Debian's Python, which has python3-jeepney, before any other on the path.
export PATH=$root/usr/bin:/usr/bin:$PATH LD_LIBRARY_PATH=$root$libdir PYTHONPATH=$root/usr/lib/python3/dist-packages
export KESMAR_PYTHON_EXAMPLES=$root/usr/share/doc/python3-kesmar/examples
sim_log=$tmp/sim.log
exec {sim_out}< <(exec kesmarsim --no-stdin 2>"$sim_log")
sim_pid=$!
IFS= read -r -t 30 -u "$sim_out" pty && [[ -c $pty ]] || {
    cat "$sim_log" >&2
    die "the packaged simulator printed no terminal"
}
# The same example built through pkg-config and through the CMake package; a
# run prints the position of device 1 and nothing on standard error.
example=$source/docs/examples/position.c
PKG_CONFIG_PATH=$root$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root \
    cc -Wall -Werror -o "$tmp/position-pc" "$example" $(PKG_CONFIG_PATH=$root$libdir/pkgconfig \
    PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs kesmarctl) || fail "the C example does not build with pkg-config"
mkdir "$tmp/consumer"
cat >"$tmp/consumer/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(consumer C)
find_package(KesmarCtl 1 REQUIRED)
add_executable(position-cmake "$example")
target_link_libraries(position-cmake PRIVATE KesmarCtl::kesmarctl)
EOF
{ cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -DCMAKE_PREFIX_PATH="$root/usr" &&
    cmake --build "$tmp/consumer/build"; } >"$tmp/consumer.log" 2>&1 || {
    cat "$tmp/consumer.log" >&2
    fail "the C example does not build with find_package(KesmarCtl)"
}
runs=("$tmp/position-pc" "$tmp/consumer/build/position-cmake")
command -v python3 >/dev/null && runs+=("python3 $source/docs/examples/position.py")
for run in "${runs[@]}"; do
    printed=$($run "$pty" 2>"$tmp/stderr")
    [[ $printed == "10250 10250 10250" && ! -s $tmp/stderr ]] ||
        fail "'$run' printed '$printed' and on standard error '$(cat "$tmp/stderr")'"
done
kill "$sim_pid"
exec {sim_out}<&-

# The autopkgtest, on the unpacked packages.
AUTOPKGTEST_TMP=$tmp/autopkgtest
mkdir "$AUTOPKGTEST_TMP"
export AUTOPKGTEST_TMP
"$tmp/src/debian/tests/client-drives-simulator" || fail "the autopkgtest client-drives-simulator failed"

((failures == 0)) || die "$failures check(s) failed"
echo "${packages[*]}: $(cat "$tmp"/*.files | wc -l) entries"
echo "PASS"
