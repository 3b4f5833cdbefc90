# shellcheck shell=sh disable=SC2034 # STEP and FINISHED are for the scripts that source this
# Shared by Svodar's shell scripts; sourced, not run. POSIX sh (bash sources it too).
#
#   say TEXT...               "== TEXT" on stderr
#   die TEXT...               "PROGRAM: TEXT" on stderr, exit 1
#   as_root COMMAND...        COMMAND as root: directly when root, else through sudo
#   install_packages PKG...   installs those of the Debian packages PKG that are missing
#
# Checks: a script that tries things sets CHECK_LOG to a scratch file, runs
#   check DESCRIPTION COMMAND...   one line for the outcome of COMMAND: "ok     DESCRIPTION"
#                                  or "FAILED DESCRIPTION" and below it what COMMAND printed,
#                                  indented
#   pass DESCRIPTION / fail DESCRIPTION   the same lines for an outcome found otherwise
# and ends with
#   finish                    "N passed, M failed"; exits 0, or 1 when a check failed.
# check sets STEP to the check it runs (a script may set it to other steps too, to
# say where it ended early); FINISHED is 1 once finish ran.
#
# The functions keep their own variables in lib_*, so as not to change a caller's.

say() { printf '== %s\n' "$*" >&2; }
die() { printf '%s: %s\n' "$0" "$*" >&2; exit 1; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
    lib_missing=
    for lib_package in "$@"; do
        case $(dpkg-query -W -f='${Status}' "$lib_package" 2>/dev/null) in
        *" ok installed") ;;
        *) lib_missing="$lib_missing $lib_package" ;;
        esac
    done
    [ -n "$lib_missing" ] || return 0
    say "Installing:$lib_missing"
    as_root apt-get update
    # shellcheck disable=SC2086 # a list of package names
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $lib_missing
}

PASSED=0
FAILED=0
STEP=
FINISHED=0
pass() { PASSED=$((PASSED + 1)); echo "ok     $*"; }
fail() { FAILED=$((FAILED + 1)); echo "FAILED $*"; }
check() {
    lib_what=$1
    shift
    STEP="the check \"$lib_what\""
    if "$@" > "${CHECK_LOG:?CHECK_LOG names no scratch file}" 2>&1; then
        pass "$lib_what"
    else
        fail "$lib_what"
        sed 's/^/       /' "$CHECK_LOG"
    fi
}
finish() {
    FINISHED=1
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ] || exit 1
    exit 0
}
