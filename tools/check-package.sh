#!/usr/bin/env bash
# Builds iopanel in a temporary directory, installs it into a staging tree and
# checks the tree, then makes the Debian packages iopanel, iopanel-tools and
# iomodule-sim with cpack and checks their control fields (iopanel-tools, for
# machines without a display, depends on no Qt GUI module and no X or GL
# library) and contents, runs lintian (-I --pedantic: not one tag may show)
# on them and appstreamcli on the panel's AppStream metadata. As root (or
# with password-less sudo) it also installs the packages with apt-get, checks
# dpkg -L, runs the programs' --version from /usr/bin, renders the manual
# pages, checks the bridge's service unit with systemd-analyze verify and
# security --offline=true (an exposure of 2.0 or less) and removes the
# packages again, unless IOPANEL_CHECK_INSTALL=0 or a package of one of those
# names is installed already. Exits non-zero at the first failure.
#
# IOPANEL_QT_MAJOR=5 (default) or 6 picks the Qt the packages are built against.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$(pwd)"

qt_major="${IOPANEL_QT_MAJOR:-5}"
case "$qt_major" in
    5)
        panel_runtime=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libc6 libstdc++6)
        tools_runtime=(libqt5core5a libqt5serialport5 libmosquitto1 libacl1 libc6 libstdc++6)
        sim_runtime=(libqt5core5a libqt5serialport5 libc6 libstdc++6)
        ;;
    6)
        panel_runtime=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libc6 libstdc++6)
        tools_runtime=(libqt6core6 libqt6serialport6 libmosquitto1 libacl1 libc6 libstdc++6)
        sim_runtime=(libqt6core6 libqt6serialport6 libc6 libstdc++6)
        ;;
    *) echo "check-package.sh: IOPANEL_QT_MAJOR must be 5 or 6, not '$qt_major'" >&2; exit 2 ;;
esac

packages=(iopanel iopanel-tools iomodule-sim)
app_id=io.github.iopanel.iopanel
bin_path=usr/bin/iopanel
sim_path=usr/bin/iomodule-sim
ctl_path=usr/bin/iopanelctl
mqtt_path=usr/bin/iopanel-mqtt
desktop_path=usr/share/applications/$app_id.desktop
icon_path=usr/share/icons/hicolor/scalable/apps/iopanel.svg
metainfo_path=usr/share/metainfo/$app_id.metainfo.xml
unit_path=usr/lib/systemd/system/iopanel-mqtt@.service
example_path=usr/share/doc/iopanel-tools/examples/module1.conf
panel_files=("$bin_path" "$desktop_path" "$icon_path" "$metainfo_path"
    usr/share/man/man1/iopanel.1.gz usr/share/doc/iopanel/copyright usr/share/doc/iopanel/changelog.gz)
tools_files=("$ctl_path" "$mqtt_path" "$unit_path" "$example_path"
    usr/share/man/man1/iopanelctl.1.gz usr/share/man/man1/iopanel-mqtt.1.gz
    usr/share/doc/iopanel-tools/copyright usr/share/doc/iopanel-tools/changelog.gz)
sim_files=("$sim_path"
    usr/share/man/man1/iomodule-sim.1.gz usr/share/doc/iomodule-sim/copyright usr/share/doc/iomodule-sim/changelog.gz)

fail() {
    echo "check-package.sh: FAILED: $*" >&2
    exit 1
}
# shellcheck source=tools/lib/package.sh
source tools/lib/package.sh
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
    for f in "${panel_files[@]}" "${tools_files[@]}" "${sim_files[@]}"; do
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
        usr/share/doc/iopanel/changelog.gz usr/share/doc/iopanel-tools/changelog.gz usr/share/doc/iomodule-sim/changelog.gz; do
        gzip -t "$root/${f#usr/}" || fail "$root/${f#usr/} is not a valid gzip file"
    done
    # /etc beside the prefix /usr, PREFIX/etc beside any other.
    local etc="$root/etc"
    [[ "$root" != */usr ]] || etc="${root%/usr}/etc"
    [ -d "$etc/iopanel-mqtt" ] || fail "$etc/iopanel-mqtt is missing"
    check_starts "$root/${bin_path#usr/}"
    check_version "$root/${bin_path#usr/}" iopanel
    check_version "$root/${sim_path#usr/}" iomodule-sim
    check_version "$root/${ctl_path#usr/}" iopanelctl
    check_version "$root/${mqtt_path#usr/}" iopanel-mqtt
    ! grep -Eiq '^[[:space:]]*password[[:space:]]*=' "$root/${example_path#usr/}" || fail "$root/${example_path#usr/} holds a password"
    echo "ok: $root holds the programs, their manual pages, copyright and changelog, a valid desktop entry, an SVG icon," \
        "the AppStream metadata, the bridge's service unit, an example configuration without a password and the folder etc/iopanel-mqtt"
}

step "Configure and build (Qt $qt_major) in $work/build"
# IOPANEL_CMAKE_ARGS adds arguments to the configuration, as for the tests.
read -r -a extra <<<"${IOPANEL_CMAKE_ARGS:-}"
cmake -S "$src" -B "$work/build" -DIOPANEL_QT_MAJOR="$qt_major" -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr "${extra[@]}" >"$work/configure.log" 2>&1 \
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
tools_deb="${debs[1]}"
sim_deb="${debs[2]}"

step "dpkg-deb -I"
for deb in "${debs[@]}"; do
    dpkg-deb -I "$deb" || fail "dpkg-deb -I cannot read $deb"
done
version="$(dpkg-deb -f "$panel_deb" Version)"
check_control iopanel "$panel_deb" "${panel_runtime[@]}" iopanel-tools
grep -qF "iopanel-tools (= $version)" <<<"$(dpkg-deb -f "$panel_deb" Depends)" ||
    fail "iopanel does not depend on iopanel-tools (= $version)"
check_control iopanel-tools "$tools_deb" "${tools_runtime[@]}"
# A machine beside the module may have no display at all.
check_depends_lack iopanel-tools "$tools_deb" 'libqt[56](gui|widgets|opengl|xcb)[^ ,]*|libx[a-z0-9-]*|lib(gl|egl|opengl|glx)[0-9a-z-]*'
check_control iomodule-sim "$sim_deb" "${sim_runtime[@]}"

step "dpkg-deb -c"
check_contents iopanel "$panel_deb" "${panel_files[@]}"
check_contents iopanel-tools "$tools_deb" "${tools_files[@]}"
grep -Eq '^drwxr-xr-x .*[[:space:]]\./etc/iopanel-mqtt/$' <<<"$(dpkg-deb -c "$tools_deb")" ||
    fail "iopanel-tools does not make /etc/iopanel-mqtt, mode 755"
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
    echo "skipped: a package named ${packages[*]} is installed already; leaving it alone"
else
    # Everything they depend on came with the build packages, so apt-get has
    # nothing to download.
    installed_here=1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${debs[@]}" \
        || fail "apt-get install ${debs[*]}"
    installed="$(dpkg -L "${packages[@]}")" || fail "dpkg -L ${packages[*]}"
    for f in "${panel_files[@]}" "${tools_files[@]}" "${sim_files[@]}"; do
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
    check_unit "/$unit_path" 2.0
    [ -d /etc/iopanel-mqtt ] || fail "installing iopanel-tools made no /etc/iopanel-mqtt"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -q "${packages[@]}" \
        || fail "apt-get remove ${packages[*]}"
    installed_here=0
    while read -r f; do
        [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is still there after apt-get remove"
    done <<<"$installed"
    echo "ok: installs with apt-get, dpkg -L lists every file, the programs answer --version," \
        "the manual pages render, the unit verifies, removes cleanly"
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
