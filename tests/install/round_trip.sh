#!/usr/bin/env bash
# A sign and verify round trip through a C caller and through the command, in a scratch home
# with its own certificate store.
#
#   round_trip.sh --tree VELLUM PROGRAM LIBRARY  the build tree: LIBRARY registered in a
#                                                scratch registry
#   round_trip.sh --prefix VELLUM PROGRAM        an installed tree: the command registers the
#                                                library it finds beside it, in a scratch registry
#   round_trip.sh --system VELLUM PROGRAM        a package: nothing registered by the user, the
#                                                system registry the package wrote is read
#
# PROGRAM is sign-and-verify built against the headers under test. Exit 0 when every step
# answered as it should.
set -euo pipefail
mode=$1 vellum=$2 program=$3 library=${4:-}
scratch=$(mktemp -d "${VELLUM_TEST_TMP:-${TMPDIR:-/tmp}}/round-trip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "round trip: $*" >&2; exit 1; }

export HOME=$scratch/home VELLUM_STORE_DIR=$scratch/stores
unset XDG_CONFIG_HOME VELLUM_LIBRARY
mkdir -p "$HOME"
case $mode in
  --tree)
    export VELLUM_REGISTRY=$scratch/registry.ini
    "$vellum" register "$library" ;;
  --prefix)
    export VELLUM_REGISTRY=$scratch/registry.ini
    unset XDG_CONFIG_DIRS
    "$vellum" register
    expected=$(cd "$(dirname "$vellum")/.." && pwd)/
    grep -q "^@=${expected}lib/[^/]*/libvellum\.so\.1\$" "$VELLUM_REGISTRY" ||
      fail "the installed library is not registered: $(cat "$VELLUM_REGISTRY")"
    others=$(grep 'libvellum' "$VELLUM_REGISTRY" |
      grep -v "^@=${expected}lib/[^/]*/libvellum\.so\.1\$" || true)
    [ -z "$others" ] || fail "another library registered: $others" ;;
  --system)
    unset VELLUM_REGISTRY XDG_CONFIG_DIRS
    [ ! -e "$HOME/.config/vellum/registry.ini" ] || fail "the user has a registry" ;;
  *) fail "unknown mode $mode" ;;
esac

"$vellum" store new-certificate --subject "CN=Round Trip, O=Example Ltd, C=GB" --days 30 >/dev/null
printf 'Pay Ann 100.00\r\n' > "$scratch/pay.txt"
"$program" "$scratch/pay.txt" || fail "the C caller"

# The command on its own: two documents at once, each found by its signature beside it.
printf 'slip one\n' > "$scratch/one.txt"
printf 'slip two\n' > "$scratch/two.txt"
"$vellum" -q sign "$scratch/one.txt" || fail "vellum sign"
"$vellum" -q sign "$scratch/two.txt" || fail "vellum sign"
"$vellum" verify "$scratch/one.txt" "$scratch/two.txt" || fail "vellum verify"
printf 'changed\n' >> "$scratch/two.txt"
if "$vellum" verify "$scratch/one.txt" "$scratch/two.txt"; then fail "a changed file verified"; fi
echo "round trip: passed ($mode)"
