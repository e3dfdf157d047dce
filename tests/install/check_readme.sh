#!/bin/sh
# The README's "Options" section against kalvor-tp --help: every option the help lists is in the
# synopsis (the first code block of the section) and has a row in the options table (a row that
# starts with "| `--name"), and the section names no option that the help lacks. The option list
# is taken from --help, so options added later are checked without changing this script.
#
# Usage: check_readme.sh KALVOR_TP README.md
# Registered with ctest as readme_options (cmake/install.cmake).
set -u

PROG=${1:?usage: check_readme.sh KALVOR_TP README.md}
README=${2:?usage: check_readme.sh KALVOR_TP README.md}
TMP=$(mktemp -d "${TMPDIR:-/tmp}/kalvor-readme.XXXXXX") || exit 1
trap 'rm -rf "$TMP"' EXIT
failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

if ! "$PROG" --help >"$TMP/help" 2>&1; then
    fail "$PROG --help: $(cat "$TMP/help")"
    exit 1
fi
# The option list of --help: lines that start with blanks and a long option.
sed -n 's/^ \{1,\}\(--[a-z][a-z0-9-]*\).*/\1/p' "$TMP/help" | sort -u >"$TMP/help-options"
[ -s "$TMP/help-options" ] || fail "$PROG --help lists no option"

# The "## Options" section, up to the next section of the same level.
awk '/^## / { on = ($0 ~ /^## Options *$/) } on' "$README" >"$TMP/section"
[ -s "$TMP/section" ] || fail "$README has no section '## Options'"
awk '/^```/ { if (block) exit; block = 1; next } block' "$TMP/section" >"$TMP/synopsis"
grep -o -e '--[a-z][a-z0-9-]*' "$TMP/synopsis" | sort -u >"$TMP/synopsis-options"
sed -n 's/^| *`\(--[a-z][a-z0-9-]*\).*/\1/p' "$TMP/section" | sort -u >"$TMP/table-options"

for what in synopsis table; do
    missing=$(comm -23 "$TMP/help-options" "$TMP/$what-options" | tr '\n' ' ')
    [ -z "$missing" ] || fail "the README's $what lacks: $missing"
    stale=$(comm -13 "$TMP/help-options" "$TMP/$what-options" | tr '\n' ' ')
    [ -z "$stale" ] || fail "the README's $what names options that --help lacks: $stale"
done
if [ "$failed" -eq 0 ]; then
    echo "ok: the README's synopsis and options table name the $(wc -l <"$TMP/help-options") options of --help"
fi
[ "$failed" -eq 0 ]
