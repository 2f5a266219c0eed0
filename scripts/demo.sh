#!/usr/bin/env bash
# Shows a collection run on a small sample installation, without touching the
# host: diagpack-jce runs in a private mount namespace in which /opt is a
# temporary directory holding the sample component and /etc is an overlay
# that says Ubuntu 22.04; a stand-in dpkg-query answers the package query.
# Then the archive the run made is listed.
#
# Usage: scripts/demo.sh [path/to/diagpack-jce]
# Needs root and private mount namespaces (unshare -m) with overlay mounts.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$here/build/bin/diagpack-jce}

fail() { echo "demo: $*" >&2; exit 1; }

[ -x "$exe" ] || fail "$exe is not built (run 'make build' first)"
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
[ "$(id -u)" -eq 0 ] || fail "needs root to mount a private /opt and /etc (try: sudo make demo)"
command -v unshare >/dev/null || fail "unshare not found (package util-linux)"
if [ ! -d /opt ] || [ ! -d /etc ]; then
  fail "/opt and /etc must exist to be mounted over"
fi
probe_err=$(unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /mnt' 2>&1) ||
  fail "private mount namespaces are unavailable here: ${probe_err:-unshare -m failed}"

root=$(mktemp -d "${TMPDIR:-/tmp}/diagpack-demo.XXXXXX")
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"
mkdir -p "$root/opt/quorvane/etc" "$root/opt/quorvane/log" "$root/etc-upper" \
         "$root/etc-work" "$root/bin" "$root/tmp"
chmod 1777 "$root/tmp"

# The component: its configuration names its log file, under /opt so that
# the sample lives entirely in the bind-mounted directory.
cat > "$root/opt/quorvane/etc/quorvane-jce.cfg" <<'CFG'
{
  "provider": {"name": "jce", "slots": [0, 1]},
  "logging": {"log_file": "/opt/quorvane/log/jce.log", "level": "info"}
}
CFG
log=$root/opt/quorvane/log
printf '%s jce: provider started\n%s jce: slot 0 ready\n' \
  "2024-05-02T09:14:03Z" "2024-05-02T09:14:04Z" > "$log/jce.log"
printf '%s jce: session opened\n%s jce: key generated\n' \
  "2024-05-01T17:40:11Z" "2024-05-01T17:40:12Z" > "$log/jce.log.1"
printf '%s jce: provider stopped\n' "2024-04-30T23:59:58Z" | gzip -n > "$log/jce.log.2.gz"
printf 'not collected: its name does not contain jce.log\n' > "$log/pkcs11.log"

# The host as the run sees it: Ubuntu 22.04, no lsb-release or
# system-release (a 0/0 character device hides a file in an overlay).
cat > "$root/etc-upper/os-release" <<'OS'
PRETTY_NAME="Ubuntu 22.04.4 LTS"
NAME="Ubuntu"
VERSION_ID="22.04"
VERSION="22.04.4 LTS (Jammy Jellyfish)"
ID=ubuntu
ID_LIKE=debian
OS
mknod "$root/etc-upper/lsb-release" c 0 0
mknod "$root/etc-upper/system-release" c 0 0

# A stand-in for the package manager's query.
cat > "$root/bin/dpkg-query" <<'PKG'
#!/bin/sh
[ "$1" = "-s" ] && [ "$2" = "quorvane-jce" ] || {
  echo "dpkg-query: package '$2' is not installed" >&2; exit 1; }
cat <<'STATUS'
Package: quorvane-jce
Status: install ok installed
Priority: optional
Section: libs
Installed-Size: 2048
Maintainer: Quorvane SDK team <sdk@quorvane.example>
Architecture: amd64
Version: 13.4.0-1
Depends: libc6 (>= 2.34)
Conffiles:
 /opt/quorvane/etc/quorvane-jce.cfg 5d41402abc4b2a76b9719d911017c592
Description: Quorvane SDK provider for the jce component
 A sample status, printed by the demo's stand-in dpkg-query.
STATUS
PKG
chmod 755 "$root/bin/dpkg-query"

echo "Sample installation in $root (seen as /opt and /etc by the run)"
echo "\$ diagpack-jce"
status=0
# shellcheck disable=SC2016  # the script's variables expand in the namespace
unshare -m --propagation private bash -c '
  set -e
  root=$1 exe=$2
  mount --bind "$root/opt" /opt
  mount -t overlay overlay \
    -o "lowerdir=/etc,upperdir=$root/etc-upper,workdir=$root/etc-work" /etc
  cd "$root"
  exec env PATH="$root/bin:/usr/sbin:/usr/bin:/sbin:/bin" TMPDIR="$root/tmp" "$exe"
' demo "$root" "$exe" || status=$?
echo "(exit status $status)"

archive=$root/tmp/jce-data.tar.gz
[ -f "$archive" ] || fail "the run made no archive"
echo
echo "\$ tar -tvzf $archive"
tar -tvzf "$archive"
echo
echo "\$ tar -xOzf $archive jce-data/osInfo.txt"
tar -xOzf "$archive" jce-data/osInfo.txt
exit "$status"
