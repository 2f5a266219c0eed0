#!/usr/bin/env bash
# Installs the Debian packages that a step needs, when any is missing.
# Usage: scripts/install-deps.sh build|test|ansible|fuzz|memcheck ...
set -euo pipefail

packages=()
for what in "$@"; do
  case "$what" in
    build) packages+=(cmake make g++ zlib1g-dev libgtest-dev python3) ;;
    test)  packages+=(python3 tar gzip libarchive-tools util-linux mount time) ;;
    # The fleet playbook's test; ansible-core's recommends would pull in the
    # whole collection bundle, which the playbook must not need.
    ansible) packages+=(ansible-core ansible-lint) ;;
    fuzz)  packages+=(clang libclang-rt-14-dev) ;;
    memcheck) packages+=(valgrind) ;;
    *) echo "install-deps: unknown set '$what'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null 2>&1 || {
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}
