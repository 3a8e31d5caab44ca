#!/usr/bin/env bash
# The bash completion against the built command: each case is the words typed so far and the
# candidates the completion must offer (in the program's order).
#
#   completion_test.sh COMPLETION_SCRIPT VELLUM
set -uo pipefail
# shellcheck disable=SC1090
source "$1"
vellum=$2
scratch=$(mktemp -d "${VELLUM_TEST_TMP:-${TMPDIR:-/tmp}}/completion.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/pay.txt" "$scratch/pay_DSignature.txt"
failures=0
check() {
  local expected=$1 why=$2
  shift 2
  COMP_WORDS=("$vellum" "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _vellum
  if [[ "${COMPREPLY[*]}" != "$expected" ]]; then
    echo "FAILED ($why): [$*] gave [${COMPREPLY[*]}], expected [$expected]"
    failures=$((failures + 1))
  fi
}
check "register unregister open store encrypt decrypt sign timestamp verify verify-nse zip unzip" \
  "every command" ""
check "verify verify-nse" "a command by its start" ve
check "list tokens import new-certificate" "store's commands, after a global flag" -q store ""
check "--thumbprint" "an option of sign" sign --th
check "--tsa" "the authority of timestamp" timestamp --ts
check "--system" "register --system" register --sy
check "--help --store --pin-file --json --quiet" "the options of store list" store list --
check "" "a NAME value is not a file" sign --store ""
check "$scratch/pay.txt $scratch/pay_DSignature.txt" "a FILE value" verify --crl "$scratch/pay"
check "$scratch/pay.txt $scratch/pay_DSignature.txt" "an operand is a file" verify "$scratch/pay"
((failures == 0)) && echo "completion: passed"
exit $((failures != 0))
