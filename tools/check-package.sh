#!/usr/bin/env bash
# Builds iopanel in a temporary directory, installs it into a staging tree and
# checks the tree, then makes the Debian packages iopanel and iomodule-sim with
# cpack and checks their control fields and contents, runs lintian (-I
# --pedantic: not one tag may show) on them and appstreamcli on the panel's
# AppStream metadata. As root (or with password-less sudo) it also installs the
# packages with apt-get, checks dpkg -L, runs both programs' --version from
# /usr/bin, renders both manual pages and removes the packages again, unless
# IOPANEL_CHECK_INSTALL=0 or a package of either name is installed already.
# Exits non-zero at the first failure.
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt the packages are built against.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$(pwd)"

qt_major="${IOPANEL_QT_MAJOR:-5}"
case "$qt_major" in
    5)
        panel_runtime=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libmosquitto1 libc6 libstdc++6)
        sim_runtime=(libqt5core5a libqt5serialport5 libc6 libstdc++6)
        ;;
    6)
        panel_runtime=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libmosquitto1 libc6 libstdc++6)
        sim_runtime=(libqt6core6 libqt6serialport6 libc6 libstdc++6)
        ;;
    *) echo "check-package.sh: IOPANEL_QT_MAJOR must be 5 or 6, not '$qt_major'" >&2; exit 2 ;;
esac

packages=(iopanel iomodule-sim)
app_id=io.github.iopanel.iopanel
bin_path=usr/bin/iopanel
sim_path=usr/bin/iomodule-sim
ctl_path=usr/bin/iopanelctl
mqtt_path=usr/bin/iopanel-mqtt
desktop_path=usr/share/applications/$app_id.desktop
icon_path=usr/share/icons/hicolor/scalable/apps/iopanel.svg
metainfo_path=usr/share/metainfo/$app_id.metainfo.xml
panel_files=("$bin_path" "$ctl_path" "$mqtt_path" "$desktop_path" "$icon_path" "$metainfo_path"
    usr/share/man/man1/iopanel.1.gz usr/share/man/man1/iopanelctl.1.gz usr/share/man/man1/iopanel-mqtt.1.gz
    usr/share/doc/iopanel/copyright usr/share/doc/iopanel/changelog.gz)
sim_files=("$sim_path"
    usr/share/man/man1/iomodule-sim.1.gz usr/share/doc/iomodule-sim/copyright usr/share/doc/iomodule-sim/changelog.gz)

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
        echo "Removing the test installation of ${packages[*]}"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y "${packages[@]}" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# apt's download user must be able to read the package files.
chmod 755 "$work"

# Checks an installed tree whose prefix is $1.
check_tree() {
    local root="$1" f
    for f in "${panel_files[@]}" "${sim_files[@]}"; do
        [ -f "$root/${f#usr/}" ] || fail "$root/${f#usr/} is missing"
    done
    for f in "$bin_path" "$ctl_path" "$mqtt_path" "$sim_path"; do
        [ -x "$root/${f#usr/}" ] || fail "$root/${f#usr/} is not executable"
        file -b "$root/${f#usr/}" | grep -q '^ELF' || fail "$root/${f#usr/} is not an ELF program"
    done
    desktop-file-validate "$root/${desktop_path#usr/}" || fail "$root/${desktop_path#usr/} does not validate"
    file -b "$root/${icon_path#usr/}" | grep -q 'SVG' || fail "$root/${icon_path#usr/} is not an SVG image"
    grep -q '<svg[^>]*xmlns="http://www.w3.org/2000/svg"' "$root/${icon_path#usr/}" \
        || fail "$root/${icon_path#usr/} has no SVG root element"
    for f in usr/share/man/man1/iopanel.1.gz usr/share/man/man1/iopanelctl.1.gz usr/share/man/man1/iopanel-mqtt.1.gz \
        usr/share/man/man1/iomodule-sim.1.gz \
        usr/share/doc/iopanel/changelog.gz usr/share/doc/iomodule-sim/changelog.gz; do
        gzip -t "$root/${f#usr/}" || fail "$root/${f#usr/} is not a valid gzip file"
    done
    check_starts "$root/${bin_path#usr/}"
    check_version "$root/${bin_path#usr/}" iopanel
    check_version "$root/${sim_path#usr/}" iomodule-sim
    check_version "$root/${ctl_path#usr/}" iopanelctl
    check_version "$root/${mqtt_path#usr/}" iopanel-mqtt
    echo "ok: $root holds the programs, their manual pages, copyright and changelog, a valid desktop entry, an SVG icon and the AppStream metadata"
}

# The program must load its libraries and, with no display, stop before it
# opens a window or any serial port, saying what is missing. --no-remember:
# should it ever get further, it leaves the user's saved port alone.
check_starts() {
    local out rc=0
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --no-remember 2>&1)" || rc=$?
    [ "$rc" = 1 ] && grep -q 'no display found' <<<"$out" \
        || fail "$1 did not start cleanly without a display (exit $rc): $out"
}

# "$1 --version" answers "$2 <version>" and exits 0, with no display.
check_version() {
    local out rc=0
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --version 2>&1)" || rc=$?
    [ "$rc" = 0 ] && grep -Eqx "$2 [0-9]+\.[0-9]+\.[0-9]+" <<<"$out" \
        || fail "$1 --version (exit $rc) printed: $out"
    echo "ok: $1 --version: $out"
}

# Control fields of package $1 (file $2); $3... the runtime packages its
# Depends must list.
check_control() {
    local name="$1" deb="$2" depends p field
    shift 2
    [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "Package field of $deb is not $name"
    depends="$(dpkg-deb -f "$deb" Depends)"
    [ -n "$depends" ] || fail "$name has no Depends field"
    for p in "$@"; do
        grep -Eq "(^|[ ,|])${p//+/\\+}( |,|$)" <<<"$depends" || fail "Depends of $name lacks $p: $depends"
    done
    for field in Maintainer Section Description Version Architecture; do
        [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$name has no $field field"
    done
    echo "ok: Depends of $name lists $*"
}

# Contents of package $1 (file $2); $3 its program, $3... the files it must hold.
check_contents() {
    local name="$1" deb="$2" program="$3" listing f extra expected=()
    shift 2
    listing="$(dpkg-deb -c "$deb")" || fail "dpkg-deb -c cannot list $deb"
    echo "$listing"
    for f in "$@"; do
        grep -Eq "[[:space:]]\./$f\$" <<<"$listing" || fail "$name lacks /$f"
        expected+=(-e "./$f")
    done
    grep -Eq "^-rwxr-xr-x .*[[:space:]]\./$program\$" <<<"$listing" || fail "/$program is not mode 755 in $name"
    extra="$(grep '^-' <<<"$listing" | awk '{print $NF}' | grep -vxF "${expected[@]}" || true)"
    [ -z "$extra" ] || echo "note: $name also holds: $extra"
    echo "ok: $name holds $*"
}

# Renders the installed manual page of $1 with man -l: no warning from groff,
# it shows the program's options, and every character as written: no "?"
# where help2man could not encode one (a page made in the C locale), and the
# texts given after $1 appear as they stand.
check_manpage() {
    local name="$1" page="/usr/share/man/man1/$1.1.gz" out err text
    shift
    out="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>"$work/man.err")" || fail "man -l $page: $(cat "$work/man.err")"
    zcat "$page" | iconv -f UTF-8 -t UTF-8 >/dev/null || fail "$page is not UTF-8"
    ! zcat "$page" | grep -q '??' || fail "$page has question marks for characters: $(zcat "$page" | grep -m 1 '??')"
    for text in "$@"; do
        grep -qF -- "$text" <<<"$out" || fail "man -l $page does not show '$text'"
    done
    err="$(cat "$work/man.err")"
    [ -z "$err" ] || fail "man -l $page warns: $err"
    grep -q -- '--version' <<<"$out" || fail "man -l $page shows no --version option"
    grep -q -- '--port' <<<"$out" || fail "man -l $page shows no --port option"
    [ "$(man -w "$name")" = "$page" ] || fail "man -w $name does not find $page"
    echo "ok: man -l $page renders $(wc -l <<<"$out") lines"
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
debs=()
for name in "${packages[@]}"; do
    found=("$work/build/${name}"_*.deb)
    [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] \
        || fail "expected one ${name}_*.deb in $work/build, found: ${found[*]}"
    chmod 644 "${found[0]}"
    debs+=("${found[0]}")
    echo "package: $(basename "${found[0]}")"
done
panel_deb="${debs[0]}"
sim_deb="${debs[1]}"

step "dpkg-deb -I"
dpkg-deb -I "$panel_deb" || fail "dpkg-deb -I cannot read $panel_deb"
dpkg-deb -I "$sim_deb" || fail "dpkg-deb -I cannot read $sim_deb"
check_control iopanel "$panel_deb" "${panel_runtime[@]}"
check_control iomodule-sim "$sim_deb" "${sim_runtime[@]}"

step "dpkg-deb -c"
check_contents iopanel "$panel_deb" "${panel_files[@]}"
check_contents iomodule-sim "$sim_deb" "${sim_files[@]}"

step "lintian -I --pedantic"
lintian_root=()
[ "$(id -u)" -eq 0 ] && lintian_root=(--allow-root)
tags="$(lintian "${lintian_root[@]}" -I --pedantic "${debs[@]}" 2>&1)" \
    || fail "lintian failed or found errors: $tags"
[ -z "$tags" ] || fail "lintian reports: $tags"
echo "ok: lintian reports nothing for ${packages[*]}"

step "appstreamcli validate --pedantic --no-net"
dpkg-deb -x "$panel_deb" "$work/panel-deb"
report="$(appstreamcli validate --pedantic --no-net "$work/panel-deb/$metainfo_path" 2>&1)" \
    || fail "appstreamcli validate: $report"
echo "$report"
! grep -Eq '^[EWIP]: ' <<<"$report" || fail "appstreamcli validate reports issues"
echo "ok: /$metainfo_path validates with no issue"

step "apt-get install of the packages"
if [ "${IOPANEL_CHECK_INSTALL:-1}" = 0 ]; then
    echo "skipped: IOPANEL_CHECK_INSTALL=0"
elif [ -n "$sudo" ] && ! sudo -n true 2>/dev/null; then
    echo "skipped: needs root or password-less sudo"
elif dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null | grep -q "install ok installed"; then
    echo "skipped: a package named iopanel or iomodule-sim is installed already; leaving it alone"
else
    # Everything they depend on came with the build packages, so apt-get has
    # nothing to download.
    installed_here=1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${debs[@]}" \
        || fail "apt-get install ${debs[*]}"
    installed="$(dpkg -L "${packages[@]}")" || fail "dpkg -L ${packages[*]}"
    for f in "${panel_files[@]}" "${sim_files[@]}"; do
        grep -qxF "/$f" <<<"$installed" || fail "dpkg -L ${packages[*]} lacks /$f"
    done
    check_starts "/$bin_path"
    check_version "/$bin_path" iopanel
    check_version "/$sim_path" iomodule-sim
    check_version "/$ctl_path" iopanelctl
    check_version "/$mqtt_path" iopanel-mqtt
    check_manpage iopanel "Скан."
    check_manpage iopanelctl
    check_manpage iopanel-mqtt
    check_manpage iomodule-sim
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -q "${packages[@]}" \
        || fail "apt-get remove ${packages[*]}"
    installed_here=0
    while read -r f; do
        [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is still there after apt-get remove"
    done <<<"$installed"
    echo "ok: installs with apt-get, dpkg -L lists every file, the programs answer --version," \
        "the manual pages render, removes cleanly"
fi

step "cpack on a machine without help2man"
# -DIOPANEL_HELP2MAN=/nonexistent acts as a machine without help2man: the
# build goes on without manual pages, and cpack must refuse to pack.
cmake -DIOPANEL_HELP2MAN=/nonexistent/help2man "$work/build" >"$work/configure-nohelp2man.log" 2>&1 \
    || { cat "$work/configure-nohelp2man.log"; fail "cmake configure without help2man"; }
rm -rf "$work/build/packaging/man"
cmake --build "$work/build" -j"$(nproc)" >/dev/null || fail "build without help2man"
out="$(cd "$work/build" && cpack -G DEB -B "$work/nohelp2man" 2>&1)" \
    && fail "cpack made packages without the manual pages: $out"
grep -q 'apt-get install help2man' <<<"$out" || fail "cpack without help2man does not say how to get it: $out"
! ls "$work"/nohelp2man/*.deb >/dev/null 2>&1 || fail "cpack without help2man left packages behind"
echo "ok: without help2man the build works and cpack refuses: $(grep -m1 'manual page' <<<"$out" | sed 's/^ *//')"

echo
echo "check-package.sh: all package checks passed"
