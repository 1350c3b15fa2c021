#!/usr/bin/env bash
# Builds iopanel in a temporary directory, installs it into a staging tree and
# checks the tree, then makes the Debian package with cpack and checks its
# control fields and contents. As root (or with password-less sudo) it also
# installs the package with apt-get, checks dpkg -L and removes it again,
# unless IOPANEL_CHECK_INSTALL=0 or a package named iopanel is installed
# already. Exits non-zero at the first failure.
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt the package is built against.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$(pwd)"

qt_major="${IOPANEL_QT_MAJOR:-5}"
case "$qt_major" in
    5) runtime=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libc6 libstdc++6) ;;
    6) runtime=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libc6 libstdc++6) ;;
    *) echo "check-package.sh: IOPANEL_QT_MAJOR must be 5 or 6, not '$qt_major'" >&2; exit 2 ;;
esac

bin_path=usr/bin/iopanel
desktop_path=usr/share/applications/iopanel.desktop
icon_path=usr/share/icons/hicolor/scalable/apps/iopanel.svg

fail() {
    echo "check-package.sh: FAILED: $*" >&2
    exit 1
}
step() {
    echo
    echo "== $*"
}

IOPANEL_QT_MAJOR="$qt_major" tools/install-deps.sh package

work="$(mktemp -d "${TMPDIR:-/tmp}/iopanel-package.XXXXXX")"
installed_here=0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
cleanup() {
    if [ "$installed_here" = 1 ]; then
        echo "Removing the test installation of iopanel"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y iopanel >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# apt's download user must be able to read the package file.
chmod 755 "$work"

# Checks an installed tree whose prefix is $1.
check_tree() {
    local root="$1"
    [ -f "$root/${bin_path#usr/}" ] || fail "$root/${bin_path#usr/} is missing"
    [ -x "$root/${bin_path#usr/}" ] || fail "$root/${bin_path#usr/} is not executable"
    file -b "$root/${bin_path#usr/}" | grep -q '^ELF' || fail "$root/${bin_path#usr/} is not an ELF program"
    [ -f "$root/${desktop_path#usr/}" ] || fail "$root/${desktop_path#usr/} is missing"
    desktop-file-validate "$root/${desktop_path#usr/}" || fail "$root/${desktop_path#usr/} does not validate"
    [ -f "$root/${icon_path#usr/}" ] || fail "$root/${icon_path#usr/} is missing"
    file -b "$root/${icon_path#usr/}" | grep -q 'SVG' || fail "$root/${icon_path#usr/} is not an SVG image"
    grep -q '<svg[^>]*xmlns="http://www.w3.org/2000/svg"' "$root/${icon_path#usr/}" \
        || fail "$root/${icon_path#usr/} has no SVG root element"
    check_starts "$root/${bin_path#usr/}"
    echo "ok: $root holds the program, a valid desktop entry and an SVG icon"
}

# The program must load its libraries and, with no display, stop before it
# opens a window or any serial port, saying what is missing.
check_starts() {
    local out rc=0
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1)" || rc=$?
    [ "$rc" = 1 ] && grep -q 'no display found' <<<"$out" \
        || fail "$1 did not start cleanly without a display (exit $rc): $out"
}

step "Configure and build (Qt $qt_major) in $work/build"
cmake -S "$src" -B "$work/build" -DIOPANEL_QT_MAJOR="$qt_major" -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >"$work/configure.log" 2>&1 \
    || { cat "$work/configure.log"; fail "cmake configure"; }
cmake --build "$work/build" -j"$(nproc)" || fail "build"

step "cmake --install into a prefix"
cmake --install "$work/build" --prefix "$work/prefix" || fail "cmake --install --prefix"
check_tree "$work/prefix"

step "cmake --install with DESTDIR"
DESTDIR="$work/destdir" cmake --install "$work/build" || fail "DESTDIR=... cmake --install"
check_tree "$work/destdir/usr"

step "cpack -G DEB"
(cd "$work/build" && cpack -G DEB) || fail "cpack -G DEB"
debs=("$work"/build/iopanel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one iopanel_*.deb in $work/build, found: ${debs[*]}"
deb="${debs[0]}"
chmod 644 "$deb"
echo "package: $(basename "$deb")"

step "dpkg-deb -I"
dpkg-deb -I "$deb" || fail "dpkg-deb -I cannot read $deb"
[ "$(dpkg-deb -f "$deb" Package)" = iopanel ] || fail "Package field is not iopanel"
depends="$(dpkg-deb -f "$deb" Depends)"
[ -n "$depends" ] || fail "the package has no Depends field"
for p in "${runtime[@]}"; do
    grep -Eq "(^|[ ,|])${p//+/\\+}( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
for field in Maintainer Section Description Version Architecture; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has no $field field"
done
echo "ok: Depends lists ${runtime[*]}"

step "dpkg-deb -c"
listing="$(dpkg-deb -c "$deb")" || fail "dpkg-deb -c cannot list $deb"
echo "$listing"
for f in "$bin_path" "$desktop_path" "$icon_path"; do
    grep -Eq "[[:space:]]\./$f\$" <<<"$listing" || fail "the package lacks /$f"
done
grep -Eq "^-rwxr-xr-x .*[[:space:]]\./$bin_path\$" <<<"$listing" || fail "/$bin_path is not mode 755 in the package"
extra="$(grep '^-' <<<"$listing" | awk '{print $NF}' \
    | grep -vxF -e "./$bin_path" -e "./$desktop_path" -e "./$icon_path" || true)"
[ -z "$extra" ] || echo "note: the package also holds: $extra"
echo "ok: the package holds the program, the desktop entry and the icon"

step "apt-get install of the package"
if [ "${IOPANEL_CHECK_INSTALL:-1}" = 0 ]; then
    echo "skipped: IOPANEL_CHECK_INSTALL=0"
elif [ -n "$sudo" ] && ! sudo -n true 2>/dev/null; then
    echo "skipped: needs root or password-less sudo"
elif dpkg-query -W -f='${Status}' iopanel 2>/dev/null | grep -q "install ok installed"; then
    echo "skipped: a package named iopanel is installed already; leaving it alone"
else
    # Everything it depends on came with the build packages, so apt-get has
    # nothing to download.
    installed_here=1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$deb" \
        || fail "apt-get install $deb"
    files="$(dpkg -L iopanel)" || fail "dpkg -L iopanel"
    for f in "$bin_path" "$desktop_path" "$icon_path"; do
        grep -qxF "/$f" <<<"$files" || fail "dpkg -L iopanel lacks /$f"
    done
    check_starts "/$bin_path"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -q iopanel || fail "apt-get remove iopanel"
    installed_here=0
    [ ! -e "/$bin_path" ] || fail "/$bin_path is still there after apt-get remove"
    echo "ok: installs with apt-get, dpkg -L lists the three files, removes cleanly"
fi

echo
echo "check-package.sh: all package checks passed"
