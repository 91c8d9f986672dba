#!/usr/bin/env bash
# Builds the Debian package from the built tree with CPack and checks its file
# list, its control fields and that its dependencies are Debian package names.
#
# Usage: debian_package.sh BUILD_DIR VERSION
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

for tool in dpkg-deb dpkg-shlibdeps file; do
    command -v "$tool" >/dev/null || {
        echo "FAIL: $tool is missing; run scripts/deps.sh test" >&2
        exit 1
    }
done

# -B keeps CPack's staging folder and the package out of the build tree.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
}
debs=("$tmp"/kesmarcontrol_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || {
    ls -l "$tmp" >&2
    echo "FAIL: expected one kesmarcontrol_*.deb" >&2
    exit 1
}
deb=${debs[0]}

# --- Control fields ----------------------------------------------------------
[[ $(dpkg-deb -f "$deb" Package) == kesmarcontrol ]] || fail "package name is '$(dpkg-deb -f "$deb" Package)'"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "version is '$(dpkg-deb -f "$deb" Version)', expected $version"
[[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture is '$(dpkg-deb -f "$deb" Architecture)'"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ -n $depends ]] || fail "the package declares no dependencies"
# Each alternative is a Debian package name with an optional version bound,
# never a file or library name.
IFS=',|' read -r -a alternatives <<<"$depends"
for alt in "${alternatives[@]}"; do
    alt=$(sed 's/^ *//; s/ *$//' <<<"$alt")
    [[ $alt =~ ^[a-z0-9][a-z0-9+.-]+(\ \((<<|<=|=|>=|>>)\ [0-9A-Za-z.+~:-]+\))?$ ]] || fail "'$alt' is not a Debian package dependency"
    [[ $alt != *.so* && $alt != kesmarcontrol* ]] || fail "'$alt' should not be a dependency"
done
for pkg in libc6 libqt5core5a libqt5widgets5 libqt5serialport5; do
    [[ ,$depends, =~ [,\ ]$pkg[\ ,] ]] || fail "$pkg is not among the dependencies"
done

# --- File list ----------------------------------------------------------------
dpkg-deb -c "$deb" >"$tmp/listing"
awk '{ print $6 }' "$tmp/listing" | sed 's|^\./|/|' >"$tmp/files"
has() { grep -qx -- "$1" "$tmp/files" || fail "the package lacks $1"; }
has /usr/bin/kesmarcontrol
has /usr/bin/kesmarsim
has /usr/share/applications/kesmarcontrol.desktop
has /usr/share/icons/hicolor/scalable/apps/kesmarcontrol.svg
libfile=$(grep -E '^/usr/lib[^/]*(/[^/]+-linux-gnu[^/]*)?/libkesmarctl\.so\.1\.0\.0$' "$tmp/files")
[[ -n $libfile ]] || fail "the package lacks /usr/lib.../libkesmarctl.so.1.0.0"
grep -Eq "\./usr/lib.*/libkesmarctl\.so\.1 -> libkesmarctl\.so\.1\.0\.0$" "$tmp/listing" ||
    fail "the package lacks the libkesmarctl.so.1 link"
outside=$(grep -v -e '^/usr/' -e '^/$' "$tmp/files")
[[ -z $outside ]] || fail "files outside /usr: $outside"

# The packaged program finds the packaged library through its run path.
dpkg-deb -x "$deb" "$tmp/root"
runpath=$(readelf -d "$tmp/root/usr/bin/kesmarcontrol" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
[[ $runpath != *"$build"* ]] || fail "the packaged program keeps a build tree run path: $runpath"
resolved=$(env -u LD_LIBRARY_PATH ldd "$tmp/root/usr/bin/kesmarcontrol" | awk '$1 == "libkesmarctl.so.1" && $3 != "not" { print $3 }')
[[ $(readlink -f "$resolved") == "$tmp/root/usr/lib"* ]] ||
    fail "the packaged program loads libkesmarctl.so.1 from '$resolved', not from the package"

if ((failures > 0)); then
    echo "--- package contents" >&2
    cat "$tmp/listing" >&2
    echo "FAIL: $failures check(s) of the package failed" >&2
    exit 1
fi
echo "$(basename "$deb"): $(wc -l <"$tmp/files") entries"
echo "PASS"
