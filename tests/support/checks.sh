# Shared by the shell checks: a work folder removed on exit, and fail(), which
# reports a failed check and counts it in $failures.
#   source checks.sh NAME    sets WORK to a fresh folder named after NAME
WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
