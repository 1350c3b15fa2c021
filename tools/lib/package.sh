# shellcheck shell=bash
# For tools/check-package.sh, which sources this file: the checks of one
# program, package or manual page. Uses fail and $work from that script.

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

# Depends of package $1 (file $2) names none of the packages that match the
# extended regular expression $3.
check_depends_lack() {
    local depends
    depends="$(dpkg-deb -f "$2" Depends)"
    ! grep -Eq "$3" <<<"$depends" || fail "Depends of $1 names $(grep -Eo "$3" <<<"$depends" | head -n 1): $depends"
    echo "ok: Depends of $1 names nothing that matches $3"
}

# The service unit $1, as installed: systemd-analyze verify says nothing, and
# security --offline=true rates its exposure $2 or less. This machine runs no
# systemd, so the unit is checked as a file.
check_unit() {
    local unit="$1" out exposure
    out="$(systemd-analyze verify "$unit" 2>&1)" || fail "systemd-analyze verify $unit: $out"
    [ -z "$out" ] || fail "systemd-analyze verify $unit warns: $out"
    echo "ok: systemd-analyze verify $unit says nothing"
    out="$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1)" || fail "systemd-analyze security $unit: $out"
    exposure="$(grep -o 'Overall exposure level for .*' <<<"$out")" || fail "no exposure level for $unit: $out"
    awk -v level="$(grep -Eo '[0-9]+\.[0-9]+' <<<"$exposure" | head -n 1)" -v most="$2" \
        'BEGIN { exit !(level <= most) }' || fail "$unit: $exposure (at most $2 wanted)"
    echo "ok: systemd-analyze security --offline=true: $exposure"
}
