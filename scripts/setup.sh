#!/usr/bin/env bash
# Installs the Debian packages that are not installed yet:
#   setup.sh build   those of scripts/packages-build.txt (building and running nvmail)
#   setup.sh         those and the ones of scripts/packages.txt (tests, benchmarks, fuzzing)
# Silent and quick when everything is there; runs `apt-get update` once otherwise.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$here/packages-build.txt")
case "${1:-all}" in
  build) ;;
  all) lists+=("$here/packages.txt") ;;
  *) echo "usage: setup.sh [build]" >&2; exit 2 ;;
esac
mapfile -t pkgs < <(cat "${lists[@]}" | grep -v -E '^\s*(#|$)' | awk '{print $1}')

missing=()
for p in "${pkgs[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ "$(id -u)" == 0 ]] || sudo="sudo"
echo "setup: installing ${missing[*]}" >&2

# Package scripts of mail servers would start system-wide daemons; the tests start their own
# instances on loopback, so service starts are denied while installing.
added_policy=""
if [[ ! -e /usr/sbin/policy-rc.d ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
  $sudo chmod 755 /usr/sbin/policy-rc.d
  added_policy=1
fi
cleanup() { [[ -z "$added_policy" ]] || $sudo rm -f /usr/sbin/policy-rc.d; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
