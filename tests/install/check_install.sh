#!/bin/sh
# Installs a build into a temporary prefix and checks the installed tree:
#   - exactly the expected files (programs, desktop entry, hicolor icons, manual pages);
#   - the desktop entry's keys, and desktop-file-validate when it is installed;
#   - the icons are PNGs of the size their folder names, and an SVG;
#   - the manual pages render without warnings (groff, man -l, when installed);
#   - the installed programs run: versions, --help, documented exit statuses, the simulator's
#     pseudo-terminal;
#   - every option that a program's --help lists has an entry (.TP tag) under OPTIONS in its manual page,
#     and every option the manual page describes there is in --help.
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
passed=0
failed=0
skipped=0

pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip() { skipped=$((skipped + 1)); echo "skip: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

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
    echo share/man/man1/kalvor-tp.1
    if [ "$HAVE_SIM" = yes ]; then
        echo bin/zeda-sim
        echo share/man/man1/zeda-sim.1
    fi
} | sort >"$TMP/expected"
(cd "$PREFIX" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$TMP/actual"
missing=$(comm -23 "$TMP/expected" "$TMP/actual")
extra=$(comm -13 "$TMP/expected" "$TMP/actual")
if [ -z "$missing" ]; then pass "all expected files installed"; else fail "not installed: $missing"; fi
if [ -z "$extra" ]; then pass "nothing else installed"; else fail "unexpected files installed: $extra"; fi
[ "$HAVE_SIM" = yes ] || skip "zeda-sim is not built: its checks are skipped"

for p in kalvor-tp zeda-sim; do
    [ "$p" = zeda-sim ] && [ "$HAVE_SIM" = no ] && continue
    if [ -f "$BIN/$p" ] && [ -x "$BIN/$p" ]; then pass "bin/$p is executable"; else fail "bin/$p is not an executable file"; fi
done

# ---- desktop entry ------------------------------------------------------------------------------
if [ -f "$DESKTOP" ]; then
    for line in '[Desktop Entry]' 'Type=Application' 'Name=KALVOR TP' 'Exec=kalvor-tp' 'Icon=kalvor-tp' \
        'Terminal=false' 'Categories=Utility;Electronics;'; do
        if grep -qxF "$line" "$DESKTOP"; then pass "desktop entry: $line"; else fail "desktop entry lacks the line '$line'"; fi
    done
    if grep -q '^Comment=..' "$DESKTOP"; then pass "desktop entry: Comment"; else fail "desktop entry has no Comment"; fi
    exec_prog=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$DESKTOP" | head -n 1)
    if [ -n "$exec_prog" ] && [ -x "$BIN/$exec_prog" ]; then
        pass "desktop entry runs an installed program ($exec_prog)"
    else
        fail "desktop entry's Exec '$exec_prog' is not in bin/"
    fi
    icon=$(sed -n 's/^Icon=//p' "$DESKTOP" | head -n 1)
    if [ -n "$icon" ] && [ -f "$ICONS/scalable/apps/$icon.svg" ] && [ -f "$ICONS/48x48/apps/$icon.png" ]; then
        pass "desktop entry's icon '$icon' is installed"
    else
        fail "desktop entry's icon '$icon' is not in the hicolor theme"
    fi
    if have desktop-file-validate; then
        if desktop-file-validate "$DESKTOP" >"$TMP/dfv" 2>&1 && [ ! -s "$TMP/dfv" ]; then
            pass "desktop-file-validate"
        else
            fail "desktop-file-validate: $(cat "$TMP/dfv")"
        fi
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
    sig=$(od -An -tx1 -N 8 "$png" | tr -d ' \n')
    w=$(be32 "$png" 16)
    h=$(be32 "$png" 20)
    if [ "$sig" = 89504e470d0a1a0a ] && [ "$w" = "$s" ] && [ "$h" = "$s" ]; then
        pass "icon ${s}x${s} is a ${w}x${h} PNG"
    else
        fail "icon ${s}x${s}: signature $sig, size ${w}x${h}"
    fi
done
svg=$ICONS/scalable/apps/kalvor-tp.svg
if [ -f "$svg" ]; then
    if grep -q '<svg' "$svg" && grep -q '</svg>' "$svg"; then pass "scalable icon is an SVG"; else fail "scalable icon is not an SVG"; fi
    if have xmllint; then
        if xmllint --noout "$svg" 2>"$TMP/xml"; then pass "SVG is well-formed XML"; else fail "SVG: $(cat "$TMP/xml")"; fi
    fi
fi

# ---- manual pages -------------------------------------------------------------------------------
PROGRAMS=kalvor-tp
[ "$HAVE_SIM" = yes ] && PROGRAMS="kalvor-tp zeda-sim"
for p in $PROGRAMS; do
    page=$MAN1/$p.1
    [ -f "$page" ] || continue
    upper=$(echo "$p" | tr '[:lower:]' '[:upper:]')
    if grep -q "^\.TH $upper 1 " "$page"; then pass "$p.1: title $upper(1)"; else fail "$p.1: no '.TH $upper 1' line"; fi
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' 'SEE ALSO'; do
        if grep -q "^\.SH \"\{0,1\}$section\"\{0,1\}\$" "$page"; then pass "$p.1: section $section"; else fail "$p.1: no section $section"; fi
    done
    if have groff; then
        if groff -man -Tutf8 -ww -z "$page" >"$TMP/groff" 2>&1 && [ ! -s "$TMP/groff" ]; then
            pass "$p.1 renders with groff without warnings"
        else
            fail "$p.1: groff: $(cat "$TMP/groff")"
        fi
    else
        skip "groff is not installed: $p.1 not rendered"
    fi
    if have man; then
        if MANWIDTH=80 man -l "$page" >"$TMP/man.out" 2>"$TMP/man.err" && grep -q "^NAME" "$TMP/man.out"; then
            pass "man -l $p.1"
        else
            fail "man -l $p.1: $(cat "$TMP/man.err")"
        fi
    else
        skip "man is not installed"
    fi
done

# ---- the installed programs run -----------------------------------------------------------------
KTP=$BIN/kalvor-tp
if [ -x "$KTP" ]; then
    out=$("$KTP" --version 2>&1); rc=$?
    version_ok=no
    if [ -n "$VERSION" ]; then
        [ "$out" = "kalvor-tp $VERSION" ] && version_ok=yes
    else
        case "$out" in "kalvor-tp "?*) version_ok=yes ;; esac
    fi
    if [ $rc -eq 0 ] && [ $version_ok = yes ]; then
        pass "kalvor-tp --version: $out"
    else
        fail "kalvor-tp --version: exit $rc, '$out' (package version ${VERSION:-?})"
    fi
    "$KTP" --help >"$TMP/kalvor-tp.help" 2>&1; rc=$?
    if [ $rc -eq 0 ] && grep -q '^Usage: kalvor-tp' "$TMP/kalvor-tp.help"; then pass "kalvor-tp --help"; else fail "kalvor-tp --help: exit $rc"; fi
    "$KTP" --no-such-option >/dev/null 2>&1; rc=$?
    if [ $rc -eq 2 ]; then pass "kalvor-tp: bad option exits 2"; else fail "kalvor-tp: bad option exits $rc, the manual says 2"; fi
    printf 'quit\n' | "$KTP" --headless --simulate zeda1000 >"$TMP/headless.out" 2>&1; rc=$?
    if [ $rc -eq 0 ]; then pass "kalvor-tp --headless --simulate: quit exits 0"; else fail "kalvor-tp headless quit exits $rc: $(cat "$TMP/headless.out")"; fi
    printf 'no-such-command\n' | "$KTP" --headless --simulate zeda1000 >"$TMP/headless.out" 2>&1; rc=$?
    if [ $rc -eq 1 ]; then pass "kalvor-tp: script error exits 1"; else fail "kalvor-tp: script error exits $rc, the manual says 1"; fi
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
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
        SIM_PID=
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
    "$ZSIM" --help >"$TMP/zeda-sim.help" 2>&1; rc=$?
    if [ $rc -eq 0 ] && grep -q 'Usage: .*zeda-sim' "$TMP/zeda-sim.help"; then pass "zeda-sim --help"; else fail "zeda-sim --help: exit $rc"; fi
    out=$("$ZSIM" --version 2>&1); rc=$?
    # "zeda-sim VERSION (...)"
    set -f
    # shellcheck disable=SC2086  # split into words on purpose
    set -- $out
    set +f
    if [ $rc -eq 0 ] && [ "${1:-}" = zeda-sim ] && [ -n "${2:-}" ] && [ "${2:-}" = "${VERSION:-${2:-}}" ]; then
        pass "zeda-sim --version: $out"
    else
        fail "zeda-sim --version: exit $rc, '$out' (package version ${VERSION:-?})"
    fi
    "$ZSIM" --no-such-option >/dev/null 2>&1; rc=$?
    if [ $rc -eq 2 ]; then pass "zeda-sim: bad option exits 2"; else fail "zeda-sim: bad option exits $rc, the manual says 2"; fi

    # Serves a pseudo-terminal whose path is the first line; SIGTERM ends it with status 0.
    "$ZSIM" --time-scale 0 >"$TMP/sim.out" 2>"$TMP/sim.err" &
    SIM_PID=$!
    n=0
    while [ ! -s "$TMP/sim.out" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    pty=$(head -n 1 "$TMP/sim.out")
    if [ -n "$pty" ] && [ -c "$pty" ]; then pass "zeda-sim serves the pseudo-terminal $pty"; else fail "zeda-sim printed no pseudo-terminal ('$pty')"; fi
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID"; rc=$?
    SIM_PID=
    if [ $rc -eq 0 ] && grep -q 'bytes received' "$TMP/sim.err"; then
        pass "zeda-sim ends on SIGTERM with status 0 and prints its counters"
    else
        fail "zeda-sim on SIGTERM: exit $rc, stderr: $(cat "$TMP/sim.err")"
    fi
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
    page=$MAN1/$p.1
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
    if [ -z "$undocumented" ]; then
        pass "$p.1 describes all $(wc -l <"$TMP/$p.help-options") options of --help"
    else
        fail "$p.1 has no OPTIONS entry for: $undocumented"
    fi
    stale=$(comm -23 "$TMP/$p.man-options" "$TMP/$p.help-options" | tr '\n' ' ')
    if [ -z "$stale" ]; then pass "$p.1 describes no option that --help lacks"; else fail "$p.1 describes options that $p --help does not list: $stale"; fi
done

finish
