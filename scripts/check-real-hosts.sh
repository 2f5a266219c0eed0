#!/usr/bin/env bash
# make check-real-hosts [ARCH=arm64]: the release packages on a real, older
# userland, as an operator installs and runs them. The .deb and .rpm of
# `make release` go into a Debian 11 root (glibc 2.31, dpkg 1.20, rpm 4.16)
# beside a really installed quorvane-jce package, and diagpack-jce runs
# there under chroot. A fresh copy of the root for each host:
#
#   ubuntu-20.04  dpkg -i both .debs, Ubuntu's os-release
#   debian-11     dpkg -i both .debs, the root's own os-release
#   rocky-8       rpm -i both .rpms into an rpm database, Rocky's os-release
#
# Each run must print the five lines and nothing on standard error; the
# archive must read the same with tarfile, GNU tar and bsdtar and hold what
# the root holds: osInfo.txt, the configuration, the rotated logs (plain,
# .1, .2.gz, not another component's) and a PackageInfo byte-equal to
# `dpkg-query -s` / `rpm -qi` run by hand (scripts/check-real-host-archive.py).
# `rpm -V` must be clean, and `dpkg -r` / `rpm -e` must leave nothing.
#
# The root is made once with debootstrap (minbase, plus rpm) from the Debian
# archive that this host's apt uses, and kept as <cache>/bullseye-<arch>.tar.zst
# (cache: DIAGPACK_ROOTS_CACHE, default /var/cache/diagpack-roots), so a
# rerun takes seconds. When it must be made and the mirror cannot be
# reached, the check says SKIPPED and exits 77; it never passes unchecked.
# arm64 roots run under qemu-aarch64-static through binfmt_misc: its
# handler is enabled (kernel-wide: any aarch64 program on the host then runs
# under qemu) for the duration and disabled again at the end, unless it was
# enabled already. (Installing qemu-user-static with binfmt-support may
# itself enable every qemu handler for good, where binfmt_misc is mounted.)
#
# Needs root. Everything runs in a private mount namespace; the root's
# /proc and /dev mounts are undone however the script ends.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
suite=bullseye

arch=${1:-amd64}
case "$arch" in
  amd64 | x86_64) arch=amd64 build=build-release sets=(real-hosts) make_release="make release" ;;
  arm64 | aarch64)
    arch=arm64 build=build-release-arm64 sets=(real-hosts real-hosts-arm64)
    make_release="make release ARCH=arm64" ;;
  *) echo "check-real-hosts: unknown ARCH '$arch' (amd64 or arm64)" >&2; exit 2 ;;
esac
fail() {
  echo "check-real-hosts: FAILED: $*" >&2
  exit 1
}
# quiet CMD...: runs CMD, showing its output only when it fails.
quiet() {
  local out
  out=$("$@" 2>&1) || { echo "$out" >&2; fail "$*"; }
}
[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, mounts, package installs)"
if [ -z "${DIAGPACK_REAL_HOSTS_NS:-}" ] && unshare -m true 2>/dev/null; then
  DIAGPACK_REAL_HOSTS_NS=1 exec unshare -m --propagation private "$self" "$@"
fi
[ -n "${DIAGPACK_REAL_HOSTS_NS:-}" ] || echo "check-real-hosts: no private mount namespace; mounting in the host's"
scripts/install-deps.sh "${sets[@]}"

shopt -s nullglob
debs=("$build"/diagpack_*.deb) rpms=("$build"/diagpack-*.rpm)
if [ ${#debs[@]} -ne 1 ] || [ ${#rpms[@]} -ne 1 ]; then
  fail "expected one .deb and one .rpm in $build/ ($make_release makes them)"
fi
shopt -u nullglob

cache=${DIAGPACK_ROOTS_CACHE:-/var/cache/diagpack-roots}/$suite-$arch.tar.zst
work=$(mktemp -d "${TMPDIR:-/var/tmp}/diagpack-real-hosts.XXXXXX")
binfmt_enabled_here=no
cleanup() {
  # Mounts first, deepest first, so that removing the work folder can never
  # reach through the bind of /dev into the host's.
  awk -v w="$work" '$2 == w || index($2, w "/") == 1 { print $2 }' /proc/self/mounts |
    sort -r | while read -r m; do umount -l "$m"; done
  rm -rf --one-file-system "$work"
  if [ $binfmt_enabled_here = yes ]; then update-binfmts --disable qemu-aarch64; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# In memory: a root unpacks in under a second there, against seconds on disk.
mount -t tmpfs -o size=4g,mode=0700 diagpack-real-hosts "$work"

# The Debian archive that this host's apt uses (one-line or deb822 sources).
mirror=${DIAGPACK_MIRROR:-$(grep -hv '^[[:space:]]*#' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
  /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -oE 'https?://[^][[:space:]]+/debian/?([[:space:]]|$)' |
  head -1 | tr -d '[:space:]' || true)}
mirror=${mirror:-http://deb.debian.org/debian}

# aarch64 executables started through binfmt_misc, with the F flag, so the
# kernel holds qemu open and it need not exist inside the root.
if [ $arch = arm64 ] && [ "$(uname -m)" != aarch64 ]; then
  binfmt=/proc/sys/fs/binfmt_misc
  mountpoint -q $binfmt || mount -t binfmt_misc binfmt_misc $binfmt
  if ! grep -qx enabled $binfmt/qemu-aarch64 2>/dev/null; then
    update-binfmts --enable qemu-aarch64
    binfmt_enabled_here=yes
  fi
fi

if [ ! -f "$cache" ]; then
  if ! wget -q --spider --timeout=20 --tries=2 "$mirror/dists/$suite/Release"; then
    echo "check-real-hosts: SKIPPED: the Debian mirror $mirror cannot be reached" \
      "($suite's Release), and there is no cached root at $cache: nothing was checked"
    exit 77
  fi
  echo "== debootstrap $suite $arch from $mirror (once: cached as $cache)"
  made=$work/debootstrap
  foreign=()
  [ $arch = arm64 ] && [ "$(uname -m)" != aarch64 ] && foreign=(--foreign)
  quiet debootstrap --variant=minbase --include=rpm --arch=$arch "${foreign[@]}" \
    $suite "$made" "$mirror"
  if [ ${#foreign[@]} -gt 0 ]; then
    quiet chroot "$made" /debootstrap/debootstrap --second-stage
  fi
  rm -f "$made"/var/cache/apt/archives/*.deb
  mkdir -p "$(dirname "$cache")"
  tar -C "$made" --numeric-owner -cf - . | zstd -q -T0 -o "$cache.part"
  mv "$cache.part" "$cache"
  rm -rf --one-file-system "$made"
fi

# Stand-in quorvane-jce packages that install one file, built once.
standin=$work/standin
install -D -m 0644 /dev/null "$standin/opt/quorvane/lib/quorvane-jce.jar"
install -d "$standin/DEBIAN"
cat >"$standin/DEBIAN/control" <<'EOF'
Package: quorvane-jce
Version: 7.4.2-1
Architecture: all
Maintainer: Quorvane <support@quorvane.invalid>
Section: misc
Priority: optional
Description: JCE component (stand-in)
 A stand-in that the package query of diagpack-jce can find installed.
EOF
dpkg-deb --root-owner-group --build "$standin/" "$work/quorvane-jce.deb" >/dev/null
cat >"$work/quorvane-jce.spec" <<'EOF'
Name: quorvane-jce
Version: 7.4.2
Release: 1
Summary: JCE component (stand-in)
License: Proprietary
BuildArch: noarch
%description
A stand-in that the package query of diagpack-jce can find installed.
%install
install -D -m 0644 /dev/null %{buildroot}/opt/quorvane/lib/quorvane-jce.jar
%files
/opt/quorvane/lib/quorvane-jce.jar
EOF
rpmbuild -bb --quiet --define "_topdir $work/rpmbuild" --define "_rpmdir $work" \
  --define "_build_name_fmt quorvane-jce.rpm" "$work/quorvane-jce.spec"

root=$work/root
in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

# A fresh copy of the cached root with /proc and /dev, the SDK's
# configuration and logs as an installation leaves them, and the packages
# to install in /var/tmp/packages.
fresh_root() {
  if [ -d "$root" ]; then
    umount "$root/proc" "$root/dev"
    rm -rf --one-file-system "$root"
  fi
  mkdir "$root"
  zstd -dc "$cache" | tar -C "$root" --numeric-owner -xpf -
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  install -d "$root/opt/quorvane/etc" "$root/var/log/quorvane"
  cat >"$root/opt/quorvane/etc/quorvane-jce.cfg" <<'EOF'
{
  "provider": {"name": "QuorvaneJCE", "slots": [0, 1]},
  "logging": {"level": "info", "log_file": "/var/log/quorvane/jce.log"}
}
EOF
  local logs=$root/var/log/quorvane
  printf '2024-05-02 10:00:01 INFO provider started\n' >"$logs/jce.log"
  printf '2024-05-01 09:00:00 INFO provider started\n' >"$logs/jce.log.1"
  printf '2024-04-30 08:00:00 WARN slot 1 busy\n' | gzip -9n >"$logs/jce.log.2.gz"
  printf 'not collected by jce\n' >"$logs/dyn.log"
  install -d "$root/var/tmp/packages"
  cp "${debs[0]}" "${rpms[0]}" "$work/quorvane-jce.deb" "$work/quorvane-jce.rpm" "$root/var/tmp/packages/"
}

# run_and_check NAME QUERY...: runs diagpack-jce in the root and checks what
# it printed and archived, against QUERY run by hand.
run_and_check() {
  local name=$1
  shift
  in_root "$@" >"$work/$name.expected"
  in_root diagpack-jce >"$work/$name.out" 2>"$work/$name.err" || fail "$name: diagpack-jce exited $?"
  python3 scripts/check-real-host-archive.py "$root" jce "$work/$name.out" \
    "$work/$name.err" "$work/$name.expected" || fail "$name: the run or its archive"
}

# leaves_nothing NAME: no file or folder of diagpack's anywhere in the root.
leaves_nothing() {
  rm -rf "$root/var/tmp/packages"
  local left
  left=$(find "$root" -xdev -name '*diagpack*' | sed "s|^$root||")
  [ -z "$left" ] || fail "$1: left behind after removal: $left"
}

deb_host() {
  local name=$1
  echo "== $name: dpkg -i, run, dpkg -r"
  quiet in_root dpkg -i /var/tmp/packages/quorvane-jce.deb "/var/tmp/packages/$(basename "${debs[0]}")"
  run_and_check "$name" dpkg-query -s quorvane-jce
  quiet in_root dpkg -r diagpack
  ! in_root dpkg-query -W diagpack >/dev/null 2>&1 || fail "$name: dpkg still knows diagpack"
  leaves_nothing "$name"
}

fresh_root
cat >"$root/etc/lsb-release" <<'EOF'
DISTRIB_ID=Ubuntu
DISTRIB_RELEASE=20.04
DISTRIB_CODENAME=focal
DISTRIB_DESCRIPTION="Ubuntu 20.04.6 LTS"
EOF
rm "$root/etc/os-release"
cat >"$root/etc/os-release" <<'EOF'
NAME="Ubuntu"
VERSION="20.04.6 LTS (Focal Fossa)"
ID=ubuntu
ID_LIKE=debian
PRETTY_NAME="Ubuntu 20.04.6 LTS"
VERSION_ID="20.04"
VERSION_CODENAME=focal
UBUNTU_CODENAME=focal
EOF
deb_host ubuntu-20.04

fresh_root
grep -qx 'VERSION_ID="11"' "$root/etc/os-release" || fail "the cached root is not Debian 11"
deb_host debian-11

name=rocky-8
echo "== $name: rpm -i, run, rpm -V, rpm -e"
fresh_root
rm "$root/etc/os-release"
cat >"$root/etc/os-release" <<'EOF'
NAME="Rocky Linux"
VERSION="8.9 (Green Obsidian)"
ID="rocky"
ID_LIKE="rhel centos fedora"
VERSION_ID="8.9"
PLATFORM_ID="platform:el8"
PRETTY_NAME="Rocky Linux 8.9 (Green Obsidian)"
EOF
echo 'Rocky Linux release 8.9 (Green Obsidian)' >"$root/etc/system-release"
# The database where an rpm host keeps it (Debian's rpm keeps its own in ~).
install -d "$root/etc/rpm"
echo '%_dbpath /var/lib/rpm' >"$root/etc/rpm/macros"
in_root rpm --initdb
quiet in_root rpm -i /var/tmp/packages/quorvane-jce.rpm "/var/tmp/packages/$(basename "${rpms[0]}")"
if ! verify=$(in_root rpm -V diagpack 2>&1) || [ -n "$verify" ]; then
  fail "$name: rpm -V diagpack: $verify"
fi
run_and_check "$name" rpm -qi quorvane-jce
quiet in_root rpm -e diagpack
! in_root rpm -q diagpack >/dev/null || fail "$name: rpm still knows diagpack"
leaves_nothing "$name"

echo "check-real-hosts: ok ($arch: ubuntu-20.04, debian-11, rocky-8 on $suite)"
