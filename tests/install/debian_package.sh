#!/usr/bin/env bash
# Builds the Debian packages from the built tree with CPack and checks the
# package set, each package's control fields, dependencies and files, and runs
# lintian on them when it is installed.
#
# Usage: debian_package.sh BUILD_DIR VERSION [QT_MAJOR]   (QT_MAJOR 5 or 6, default 5)
set -uo pipefail
build=$(cd "$1" && pwd)
version=$2

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kesmar-deb.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for tool in dpkg-deb dpkg-shlibdeps file readelf; do
    command -v "$tool" >/dev/null || {
        echo "FAIL: $tool is missing; run scripts/deps.sh test" >&2
        exit 1
    }
done

# The package set, and the packages each must depend on (besides what
# dpkg-shlibdeps adds).
# Debian names Qt 5's libraries libqt5<module>5 (core: libqt5core5a), Qt 6's libqt6<module>6.
if [[ ${3:-5} == 6 ]]; then
    qt() { echo "libqt6$1""6"; }
else
    qt() { [[ $1 == core ]] && echo libqt5core5a || echo "libqt5$1""5"; }
fi
packages=(libkesmarctl1 libkesmarctl-dev kesmarcontrol kesmarsim)
declare -A needs=(
    [libkesmarctl1]="libc6 $(qt core) $(qt serialport)"
    [libkesmarctl-dev]="libkesmarctl1"
    [kesmarcontrol]="libkesmarctl1 libc6 $(qt core) $(qt widgets) $(qt dbus)"
    [kesmarsim]="libc6"
)

# -B keeps CPack's staging folder and the packages out of the build tree.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
}
arch=$(dpkg --print-architecture)
made=$(cd "$tmp/out" && ls -- *.deb | sort)
wanted=$(for p in "${packages[@]}"; do echo "${p}_${version}_$arch.deb"; done | sort)
[[ $made == "$wanted" ]] || {
    echo "made:" $made >&2
    echo "FAIL: expected exactly:" $wanted >&2
    exit 1
}

# Files of each package, with /usr/... paths; ELF files are unpacked into one
# root as they would be installed.
for p in "${packages[@]}"; do
    deb=$tmp/out/${p}_${version}_$arch.deb
    dpkg-deb -c "$deb" >"$tmp/$p.listing"
    awk '{ print $6 }' "$tmp/$p.listing" | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$tmp/$p.files"
    dpkg-deb -x "$deb" "$tmp/root"
done
has() { grep -qx -- "$2" "$tmp/$1.files" || fail "$1 lacks $2"; }
link() { grep -Eq -- "\.$2 -> $3\$" "$tmp/$1.listing" || fail "$1 lacks the link $2 -> $3"; }

libdir=$(sed -n 's|/libkesmarctl\.so\.1\.0\.0$||p' "$tmp/libkesmarctl1.files")
[[ $libdir =~ ^/usr/lib(/[^/]+-linux-gnu[^/]*)?$ ]] || fail "libkesmarctl1 lacks /usr/lib.../libkesmarctl.so.1.0.0"

# --- What each package holds --------------------------------------------------------
has libkesmarctl1 "$libdir/libkesmarctl.so.1.0.0"
link libkesmarctl1 "$libdir/libkesmarctl.so.1" libkesmarctl.so.1.0.0
has libkesmarctl-dev /usr/include/libkesmarctl.h
link libkesmarctl-dev "$libdir/libkesmarctl.so" libkesmarctl.so.1
has kesmarcontrol /usr/bin/kesmarcontrol
has kesmarcontrol /usr/share/applications/kesmarcontrol.desktop
has kesmarcontrol /usr/share/icons/hicolor/scalable/apps/kesmarcontrol.svg
has kesmarcontrol /usr/share/man/man1/kesmarcontrol.1.gz
has kesmarcontrol /usr/bin/kesmar
has kesmarcontrol /usr/share/man/man1/kesmar.1.gz
has kesmarsim /usr/bin/kesmarsim
has kesmarsim /usr/share/man/man1/kesmarsim.1.gz
has kesmarcontrol /usr/share/icons/hicolor/48x48/apps/kesmarcontrol.png
has kesmarcontrol /usr/share/metainfo/org.quellmark.kesmarcontrol.metainfo.xml
has kesmarcontrol /usr/share/dbus-1/interfaces/org.quellmark.KesmarControl1.xml
has kesmarcontrol /usr/share/bash-completion/completions/kesmar
has kesmarsim /usr/share/bash-completion/completions/kesmarsim
# The simulator's page comes from its own --help.
zcat "$tmp/root/usr/share/man/man1/kesmarsim.1.gz" 2>/dev/null | grep -q -- 'unit\\-id' ||
    fail "the kesmarsim manual page does not list --unit-id"

# A file belongs to one package only (directories are shared).
shared=$(for p in "${packages[@]}"; do
    while read -r f; do [[ -d $tmp/root$f && ! -L $tmp/root$f ]] || echo "$f"; done <"$tmp/$p.files"
done | sort | uniq -d)
[[ -z $shared ]] || fail "files in more than one package: $shared"

# --- Every package ------------------------------------------------------------------
for p in "${packages[@]}"; do
    deb=$tmp/out/${p}_${version}_$arch.deb
    [[ $(dpkg-deb -f "$deb" Package) == "$p" ]] || fail "$p: package name is '$(dpkg-deb -f "$deb" Package)'"
    [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$p: version is '$(dpkg-deb -f "$deb" Version)'"
    [[ $(dpkg-deb -f "$deb" Architecture) == "$arch" ]] || fail "$p: architecture is '$(dpkg-deb -f "$deb" Architecture)'"

    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$p Depends: $depends"
    # Each alternative is a Debian package name with an optional version bound,
    # never a file or library name, nor the package itself.
    IFS=',|' read -r -a alternatives <<<"$depends"
    for alt in "${alternatives[@]}"; do
        alt=$(sed 's/^ *//; s/ *$//' <<<"$alt")
        [[ $alt =~ ^[a-z0-9][a-z0-9+.-]+(\ \((<<|<=|=|>=|>>)\ [0-9A-Za-z.+~:-]+\))?$ ]] ||
            fail "$p: '$alt' is not a Debian package dependency"
        [[ $alt != *.so* && ${alt%% *} != "$p" ]] || fail "$p: '$alt' should not be a dependency"
    done
    for need in ${needs[$p]}; do
        [[ ,$depends, =~ [,\ ]$need[\ ,] ]] || fail "$p does not depend on $need"
    done

    outside=$(grep -v '^/usr' "$tmp/$p.files")
    [[ -z $outside ]] || fail "$p: files outside /usr: $outside"

    doc=$tmp/root/usr/share/doc/$p
    head -n 1 "$doc/copyright" 2>/dev/null | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "$p: no machine-readable /usr/share/doc/$p/copyright"
    grep -q '^License: GPL-3+$' "$doc/copyright" 2>/dev/null || fail "$p: the copyright file names no licence"
    latest=$(zcat "$doc/changelog.Debian.gz" 2>/dev/null | head -n 1)
    [[ $latest == "kesmarcontrol ($version) "* ]] ||
        fail "$p: changelog.Debian.gz's latest entry is '$latest', not one for $version"

    while read -r f; do
        [[ -f $tmp/root$f && ! -L $tmp/root$f ]] || continue
        info=$(file -b "$tmp/root$f")
        [[ $info != ELF* || $info == *", stripped"* ]] || fail "$p: $f is not stripped"
    done <"$tmp/$p.files"
done

# dpkg runs ldconfig through the library package's trigger; no package has
# maintainer scripts.
mkdir "$tmp/control"
dpkg-deb -e "$tmp/out/libkesmarctl1_${version}_$arch.deb" "$tmp/control/libkesmarctl1"
grep -qx 'activate-noawait ldconfig' "$tmp/control/libkesmarctl1/triggers" 2>/dev/null || fail "libkesmarctl1 has no ldconfig trigger"
grep -q '^libkesmarctl 1 libkesmarctl1 ' "$tmp/control/libkesmarctl1/shlibs" 2>/dev/null || fail "libkesmarctl1 has no shlibs entry"
for p in "${packages[@]}"; do
    scripts=$(dpkg-deb --ctrl-tarfile "$tmp/out/${p}_${version}_$arch.deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm')
    [[ -z $scripts ]] || fail "$p has maintainer scripts: $scripts"
done

# --- The packaged program loads the packaged library ---------------------------------
runpath=$(readelf -d "$tmp/root/usr/bin/kesmarcontrol" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
[[ $runpath != *"$build"* ]] || fail "the packaged program keeps a build tree run path: $runpath"
resolved=$(env -u LD_LIBRARY_PATH ldd "$tmp/root/usr/bin/kesmarcontrol" | awk '$1 == "libkesmarctl.so.1" && $3 != "not" { print $3 }')
[[ $(readlink -f "$resolved") == "$tmp/root$libdir/"* ]] ||
    fail "the packaged program loads libkesmarctl.so.1 from '$resolved', not from libkesmarctl1"

# --- lintian --------------------------------------------------------------------------
# Accepted warnings, each with its reason in the README's packaging note.
accepted=initial-upload-closes-no-bugs
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --suppress-tags "$accepted" "$tmp"/out/*.deb >"$tmp/lintian.log" 2>&1 ||
        fail "lintian reports errors or warnings"
    grep -v 'running with root privileges' "$tmp/lintian.log"
else
    echo "note: lintian not found (scripts/deps.sh test installs it); packages not checked by it"
fi

if ((failures > 0)); then
    for p in "${packages[@]}"; do
        echo "--- $p" >&2
        cat "$tmp/$p.listing" >&2
    done
    echo "FAIL: $failures check(s) of the packages failed" >&2
    exit 1
fi
echo "${packages[*]}: $(cat "$tmp"/*.files | wc -l) entries"
echo "PASS"
