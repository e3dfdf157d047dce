#!/bin/sh
# Installs a build into a temporary prefix and checks the installed tree:
#   - exactly the expected files (programs, desktop entry, hicolor icons, gzip-compressed manual
#     pages, copyright and changelog);
#   - the desktop entry's keys, and desktop-file-validate when it is installed;
#   - the icons are PNGs of the size their folder names, and an SVG;
#   - the manual pages render without warnings (groff, man -l, when installed);
#   - the installed programs run: versions, --help, documented exit statuses, the simulator's
#     pseudo-terminal;
#   - every option that a program's --help lists has an entry (.TP tag) under OPTIONS in its manual page,
#     and every option the manual page describes there is in --help;
#   - the window ends on SIGTERM with status 143;
#   - when lintian is installed: the Debian package of this build (cpack) has no lintian error or
#     warning (information tags are listed) and no maintainer scripts.
# zeda-sim is checked only when the build has it.
#
# Usage: check_install.sh BUILD_DIR [VERSION] [CMAKE]
# Registered with ctest as install_tree (cmake/install.cmake).

set -u

BUILD=${1:?usage: check_install.sh BUILD_DIR [VERSION] [CMAKE]}
VERSION=${2:-}
CMAKE=${3:-cmake}

TMP=$(mktemp -d "${TMPDIR:-/tmp}/kalvor-install.XXXXXX") || exit 1
SIM_PID=
# shellcheck disable=SC2317  # called by the trap
cleanup() {
    if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null; fi
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

PREFIX=$TMP/prefix
passed=0 failed=0 skipped=0

pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip() { skipped=$((skipped + 1)); echo "skip: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }
# check WHAT COMMAND...: passes WHAT when the command succeeds, fails it otherwise.
check() { what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# exits CODE WHAT COMMAND...: passes WHAT when the command exits with CODE; its output is left in $TMP/out.
exits() {
    code=$1 what=$2; shift 2
    "$@" >"$TMP/out" 2>&1; rc=$?
    if [ $rc -eq "$code" ]; then pass "$what"; else fail "$what: exit $rc, expected $code: $(cat "$TMP/out")"; fi
}
# quiet WHAT COMMAND...: passes WHAT when the command succeeds and prints nothing.
quiet() {
    what=$1; shift
    if "$@" >"$TMP/quiet" 2>&1 && [ ! -s "$TMP/quiet" ]; then pass "$what"; else fail "$what: $(cat "$TMP/quiet")"; fi
}

finish() {
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
    exit $?
}

# The programs must not touch the user's profile or need a display.
export HOME="$TMP/home" XDG_CONFIG_HOME="$TMP/config" QT_QPA_PLATFORM=offscreen
unset KALVOR_COM1 KALVOR_COM2 KALVOR_COM3 KALVOR_COM4
mkdir -p "$HOME" "$XDG_CONFIG_HOME"

# ---- install ----------------------------------------------------------------------------------
if "$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$TMP/install.log" 2>&1; then
    pass "cmake --install $BUILD --prefix <tmp>"
else
    fail "cmake --install failed:"
    cat "$TMP/install.log"
    finish
fi

BIN=$PREFIX/bin
MAN1=$PREFIX/share/man/man1
ICONS=$PREFIX/share/icons/hicolor
DESKTOP=$PREFIX/share/applications/kalvor-tp.desktop

# zeda-sim is expected when the build made it or has an install rule for it.
HAVE_SIM=no
if [ -e "$BUILD/zeda-sim" ] || grep -q 'zeda-sim"' "$BUILD/cmake_install.cmake" 2>/dev/null; then
    HAVE_SIM=yes
fi

# The window module is expected when the build made it.
HAVE_WINDOW=no
[ -e "$BUILD/kalvor-tp-window.so" ] && HAVE_WINDOW=yes

# ---- the tree: exactly these files --------------------------------------------------------------
{
    echo bin/kalvor-tp
    [ "$HAVE_WINDOW" = yes ] && echo lib/kalvor-tp/kalvor-tp-window.so
    echo share/applications/kalvor-tp.desktop
    for s in 16 32 48 64 128 256; do echo "share/icons/hicolor/${s}x${s}/apps/kalvor-tp.png"; done
    echo share/icons/hicolor/scalable/apps/kalvor-tp.svg
    echo share/man/man1/kalvor-tp.1.gz
    echo share/doc/kalvor-tp/copyright
    echo share/doc/kalvor-tp/changelog.gz
    if [ "$HAVE_SIM" = yes ]; then
        echo bin/zeda-sim
        echo share/man/man1/zeda-sim.1.gz
    fi
} | sort >"$TMP/expected"
(cd "$PREFIX" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$TMP/actual"
check "all expected files installed (missing: $(comm -23 "$TMP/expected" "$TMP/actual" | tr '\n' ' '))" \
    test -z "$(comm -23 "$TMP/expected" "$TMP/actual")"
check "nothing else installed (extra: $(comm -13 "$TMP/expected" "$TMP/actual" | tr '\n' ' '))" \
    test -z "$(comm -13 "$TMP/expected" "$TMP/actual")"
[ "$HAVE_SIM" = yes ] || skip "zeda-sim is not built: its checks are skipped"
PROGRAMS=kalvor-tp
[ "$HAVE_SIM" = yes ] && PROGRAMS="kalvor-tp zeda-sim"
for p in $PROGRAMS; do check "bin/$p is an executable file" test -f "$BIN/$p" -a -x "$BIN/$p"; done

# ---- desktop entry ------------------------------------------------------------------------------
if [ -f "$DESKTOP" ]; then
    for line in '[Desktop Entry]' 'Type=Application' 'Name=KALVOR TP' 'Exec=kalvor-tp' 'Icon=kalvor-tp' \
        'Terminal=false' 'Categories=Utility;Electronics;' ; do
        check "desktop entry has the line '$line'" grep -qxF "$line" "$DESKTOP"
    done
    check "desktop entry has a Comment" grep -q '^Comment=..' "$DESKTOP"
    exec_prog=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$DESKTOP" | head -n 1)
    check "desktop entry's Exec '$exec_prog' is an installed program" test -x "$BIN/${exec_prog:-none}"
    icon=$(sed -n 's/^Icon=//p' "$DESKTOP" | head -n 1)
    check "desktop entry's icon '$icon' is in the hicolor theme" \
        test -f "$ICONS/scalable/apps/${icon:-none}.svg" -a -f "$ICONS/48x48/apps/${icon:-none}.png"
    if have desktop-file-validate; then
        quiet "desktop-file-validate" desktop-file-validate "$DESKTOP"
    else
        skip "desktop-file-validate is not installed"
    fi
fi

# ---- icons ----------------------------------------------------------------------------------------
be32() {  # big-endian 32-bit number at byte offset $2 of file $1
    od -An -tu1 -j "$2" -N 4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'
}
for s in 16 32 48 64 128 256; do
    png=$ICONS/${s}x${s}/apps/kalvor-tp.png
    [ -f "$png" ] || continue
    found="$(od -An -tx1 -N 8 "$png" | tr -d ' \n') $(be32 "$png" 16)x$(be32 "$png" 20)"
    check "icon ${s}x${s} is a PNG of that size (signature, size: $found)" test "$found" = "89504e470d0a1a0a ${s}x${s}"
done
svg=$ICONS/scalable/apps/kalvor-tp.svg
if [ -f "$svg" ]; then
    check "scalable icon is an SVG" grep -q '</svg>' "$svg"
    if have xmllint; then check "SVG is well-formed XML" xmllint --noout "$svg"; fi
fi

# ---- copyright and changelog --------------------------------------------------------------------
DOC=$PREFIX/share/doc/kalvor-tp
if [ -f "$DOC/copyright" ]; then
    check "copyright is in the machine-readable format" grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$DOC/copyright"
    check "copyright: MIT, The KALVOR TP developers" sh -c 'grep -q "^License: MIT" "$1" && grep -q "The KALVOR TP developers" "$1"' sh "$DOC/copyright"
fi
if [ -f "$DOC/changelog.gz" ]; then
    check "changelog.gz names this version" sh -c 'gzip -dc "$1" | head -n 1 | grep -q "^kalvor-tp ($2) "' sh "$DOC/changelog.gz" "${VERSION:-[0-9.]*}"
fi

# ---- manual pages -------------------------------------------------------------------------------
for p in $PROGRAMS; do
    [ -f "$MAN1/$p.1.gz" ] || continue
    check "$p.1.gz is gzip data" gzip -t "$MAN1/$p.1.gz"
    page=$TMP/$p.1
    gzip -dc "$MAN1/$p.1.gz" >"$page"
    upper=$(echo "$p" | tr '[:lower:]' '[:upper:]')
    check "$p.1: title $upper(1)" grep -q "^\.TH $upper 1 " "$page"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' 'SEE ALSO'; do
        check "$p.1: section $section" grep -q "^\.SH \"\{0,1\}$section\"\{0,1\}\$" "$page"
    done
    if have groff; then
        quiet "$p.1 renders with groff without warnings" groff -man -Tutf8 -ww -z "$page"
    else
        skip "groff is not installed: $p.1 not rendered"
    fi
    if have man; then
        check "man -l $p.1 shows its NAME" sh -c 'MANWIDTH=80 man -l "$1" | grep -q "^NAME"' sh "$page"
    else
        skip "man is not installed"
    fi
done

# ---- the installed programs run -----------------------------------------------------------------
KTP=$BIN/kalvor-tp
if [ -x "$KTP" ]; then
    out=$("$KTP" --version 2>&1); rc=$?
    case "$rc $out" in
        "0 kalvor-tp "${VERSION:-?*}) pass "kalvor-tp --version: $out" ;;
        *) fail "kalvor-tp --version: exit $rc, '$out' (package version ${VERSION:-?})" ;;
    esac
    exits 0 "kalvor-tp --help" "$KTP" --help
    cp "$TMP/out" "$TMP/kalvor-tp.help"
    check "kalvor-tp --help starts with its usage" grep -q '^Usage: kalvor-tp' "$TMP/kalvor-tp.help"
    exits 2 "kalvor-tp: bad option exits 2" "$KTP" --no-such-option
    exits 0 "kalvor-tp --headless --simulate: quit exits 0" sh -c 'echo quit | "$0" --headless --simulate zeda1000' "$KTP"
    exits 1 "kalvor-tp: script error exits 1" sh -c 'echo no-such-command | "$0" --headless --simulate zeda1000' "$KTP"
    # The headless host does not map Qt; the window loads it from the installed module.
    if ! ldd "$KTP" >"$TMP/ldd" 2>&1; then
        fail "ldd $KTP: $(cat "$TMP/ldd")"
    elif grep -q 'libQt6' "$TMP/ldd"; then
        fail "kalvor-tp links Qt itself: $(grep libQt6 "$TMP/ldd" | head -n 1)"
    else
        pass "kalvor-tp does not link Qt"
    fi
    if [ "$HAVE_WINDOW" = yes ]; then
        "$KTP" --simulate zeda1000 >"$TMP/window.out" 2>&1 &
        SIM_PID=$!  # killed by cleanup too
        n=0
        while kill -0 "$SIM_PID" 2>/dev/null && [ $n -lt 30 ]; do sleep 0.1; n=$((n + 1)); done
        if kill -0 "$SIM_PID" 2>/dev/null && grep -q 'lib/kalvor-tp/kalvor-tp-window.so' "/proc/$SIM_PID/maps" &&
            grep -q 'libQt6Widgets' "/proc/$SIM_PID/maps"; then
            pass "kalvor-tp opens its window from lib/kalvor-tp"
        else
            fail "kalvor-tp did not open its window: $(cat "$TMP/window.out")"
        fi
        kill -TERM "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null; rc=$?
        SIM_PID=
        check "kalvor-tp's window ends on SIGTERM with status 143 (exit $rc)" test "$rc" -eq 143
        # Without its module the program says so and exits 2 instead of failing to start.
        rm -f "$PREFIX/lib/kalvor-tp/kalvor-tp-window.so"
        "$KTP" --simulate zeda1000 >"$TMP/window.out" 2>&1; rc=$?
        if [ $rc -eq 2 ] && grep -q 'cannot start the window' "$TMP/window.out"; then
            pass "kalvor-tp without its window module exits 2 with a message"
        else
            fail "kalvor-tp without its window module: exit $rc, $(cat "$TMP/window.out")"
        fi
    fi
fi

ZSIM=$BIN/zeda-sim
if [ "$HAVE_SIM" = yes ] && [ -x "$ZSIM" ]; then
    exits 0 "zeda-sim --help" "$ZSIM" --help
    cp "$TMP/out" "$TMP/zeda-sim.help"
    check "zeda-sim --help shows its usage" grep -q 'Usage: .*zeda-sim' "$TMP/zeda-sim.help"
    out=$("$ZSIM" --version 2>&1); rc=$?
    case "$rc $out" in  # "zeda-sim VERSION (...)"
        "0 zeda-sim "${VERSION:-[!\ ]*} | "0 zeda-sim "${VERSION:-[!\ ]*}" "*) pass "zeda-sim --version: $out" ;;
        *) fail "zeda-sim --version: exit $rc, '$out' (package version ${VERSION:-?})" ;;
    esac
    exits 2 "zeda-sim: bad option exits 2" "$ZSIM" --no-such-option

    # Serves a pseudo-terminal whose path is the first line; SIGTERM ends it with status 0.
    "$ZSIM" --time-scale 0 >"$TMP/sim.out" 2>"$TMP/sim.err" &
    SIM_PID=$!
    n=0
    while [ ! -s "$TMP/sim.out" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    pty=$(head -n 1 "$TMP/sim.out")
    check "zeda-sim serves the pseudo-terminal '$pty' it printed" test -c "${pty:-/none}"
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID"; rc=$?
    SIM_PID=
    check "zeda-sim ends on SIGTERM with status 0 (exit $rc) and prints its counters" grep -q 'bytes received' "$TMP/sim.err"
    [ $rc -eq 0 ] || fail "zeda-sim on SIGTERM: exit $rc, stderr: $(cat "$TMP/sim.err")"
fi

# ---- --help and the manual pages agree ----------------------------------------------------------
# Long options in a text: --name, without a trailing '=...' or '[=...]'.
long_options() { grep -o -e '--[a-z][a-z0-9-]*' "$1" | sort -u; }
# The OPTIONS section of a manual page, roff escapes and fonts removed.
options_section() {
    awk '/^\.SH / { on = ($0 ~ /^\.SH "?OPTIONS"?$/) } on' "$1" |
        sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\f([A-Z][A-Z]//g' -e 's/\\&//g'
}
for p in $PROGRAMS; do
    help=$TMP/$p.help
    page=$TMP/$p.1
    if [ ! -s "$help" ] || [ ! -f "$page" ]; then continue; fi
    options_section "$page" >"$TMP/$p.options"
    long_options "$help" >"$TMP/$p.help-options"
    if [ ! -s "$TMP/$p.help-options" ]; then
        fail "$p --help lists no option"
        continue
    fi
    # The tags of the option list (the line after each .TP) name the options described.
    awk 'tp { print; tp = 0 } /^\.TP/ { tp = 1 }' "$TMP/$p.options" >"$TMP/$p.tags"
    long_options "$TMP/$p.tags" >"$TMP/$p.man-options"
    undocumented=$(comm -23 "$TMP/$p.help-options" "$TMP/$p.man-options" | tr '\n' ' ')
    check "$p.1 describes all $(wc -l <"$TMP/$p.help-options") options of --help (missing: $undocumented)" test -z "$undocumented"
    stale=$(comm -23 "$TMP/$p.man-options" "$TMP/$p.help-options" | tr '\n' ' ')
    check "$p.1 describes no option that $p --help lacks ($stale)" test -z "$stale"
done

# ---- the Debian package and lintian -------------------------------------------------------------
CPACK=$(dirname "$CMAKE")/cpack
[ -x "$CPACK" ] || CPACK=cpack
if ! have lintian; then
    skip "lintian is not installed: the package is not checked"
elif ! have "$CPACK"; then
    skip "cpack is not installed: the package is not checked"
elif "$CPACK" -G DEB -B "$TMP/package" --config "$BUILD/CPackConfig.cmake" >"$TMP/cpack.log" 2>&1; then
    deb=$(ls "$TMP"/package/kalvor-tp_*.deb 2>/dev/null | head -n 1)
    lintian -i -I --pedantic "$deb" >"$TMP/lintian.log" 2>&1
    grep '^I: ' "$TMP/lintian.log" | sed 's/^/  info: /'
    if grep -q '^[EW]: ' "$TMP/lintian.log"; then
        fail "lintian reports errors or warnings on $(basename "$deb"): $(grep '^[EW]: ' "$TMP/lintian.log")"
    else
        pass "lintian: no error and no warning on $(basename "$deb")"
    fi
    dpkg-deb -I "$deb" >"$TMP/deb-info"
    check "the package has no maintainer scripts" sh -c '! grep -Eq " (preinst|postinst|prerm|postrm)( |$)" "$1"' sh "$TMP/deb-info"
else
    fail "cpack -G DEB: $(tail -n 5 "$TMP/cpack.log")"
fi

finish
