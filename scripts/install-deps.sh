#!/usr/bin/env bash
# Makes sure that what a step needs is there, and installs the Debian
# packages that provide what is not.
# Usage: scripts/install-deps.sh build|test|ansible|fuzz|memcheck|format|release|release-arm64|
#                                system-zlib|system-zlib-release|system-zlib-release-arm64|
#                                real-hosts|real-hosts-arm64 ...
#
# Each need is probed directly (a command on PATH, a header the compiler
# finds, a file), never through dpkg, so a host that has everything, Debian
# or not, root or not, passes silently. Only when something is missing does
# the script install it (as root, with apt-get) or name it and exit 1.
set -euo pipefail

cxx=${CXX:-c++}
host_arch=$(uname -m)

# have KIND ARG: cmd (a program on PATH), hdr (a header the C++ compiler
# finds), lib (a file the C++ compiler finds, e.g. libz.a), file (a path),
# rt (a clang runtime library).
have() {
  case "$1" in
    cmd) command -v "$2" >/dev/null 2>&1 ;;
    hdr) printf '#include <%s>\n' "$2" | "$cxx" -E -x c++ - >/dev/null 2>&1 ;;
    lib) case "$("$cxx" -print-file-name="$2" 2>/dev/null)" in /*) true ;; *) false ;; esac ;;
    file) [ -e "$2" ] ;;
    rt) command -v clang >/dev/null 2>&1 &&
        [ -e "$(clang -print-resource-dir)/lib/linux/$2-$host_arch.a" ] ;;
  esac
}

# One need per line: kind, what to probe, the Debian package providing it.
needs() {
  case "$1" in
    build) cat <<'EOF'
cmd cmake cmake
cmd make make
cmd g++ g++
cmd gcc gcc
hdr gtest/gtest.h libgtest-dev
cmd python3 python3
EOF
    ;;
    test) cat <<'EOF'
cmd python3 python3
cmd tar tar
cmd gzip gzip
cmd bsdtar libarchive-tools
cmd unshare util-linux
cmd mount mount
cmd mkfs.ext4 e2fsprogs
file /usr/bin/time time
EOF
    ;;
    ansible) cat <<'EOF'
cmd ansible-playbook ansible-core
cmd ansible-lint ansible-lint
cmd ssh openssh-client
file /usr/sbin/sshd openssh-server
cmd ssh-keygen openssh-client
file /usr/bin/sudo sudo
file /usr/sbin/useradd passwd
EOF
    ;;
    fuzz) cat <<'EOF'
cmd clang clang
rt libclang_rt.fuzzer libclang-rt-14-dev
EOF
    ;;
    memcheck) echo "cmd valgrind valgrind" ;;
    format) echo "cmd clang-format clang-format" ;;
    release) cat <<'EOF'
cmd git git
lib rcrt1.o libc6-dev
lib libstdc++.a libstdc++-12-dev
cmd readelf binutils
cmd objcopy binutils
cmd dpkg-deb dpkg
cmd rpmbuild rpm
cmd lintian lintian
cmd rpmlint rpmlint
EOF
    ;;
    release-arm64) cat <<'EOF'
cmd aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
cmd aarch64-linux-gnu-gcc gcc-aarch64-linux-gnu
file /usr/lib/aarch64-linux-gnu/libgtest.a libgtest-dev:arm64
cmd qemu-aarch64 qemu-user
EOF
    ;;
    # The build against the system's zlib (-DDIAGPACK_SYSTEM_ZLIB=ON) rather
    # than the bundled zlib-ng; the release's static executables need libz.a.
    system-zlib) echo "hdr zlib.h zlib1g-dev" ;;
    system-zlib-release) echo "lib libz.a zlib1g-dev" ;;
    system-zlib-release-arm64) echo "file /usr/lib/aarch64-linux-gnu/libz.a zlib1g-dev:arm64" ;;
    real-hosts) cat <<'EOF'
cmd debootstrap debootstrap
cmd wget wget
cmd gpgv gpgv
file /usr/share/keyrings/debian-archive-keyring.gpg debian-archive-keyring
cmd zstd zstd
cmd unshare util-linux
cmd dpkg-deb dpkg
cmd rpmbuild rpm
cmd python3 python3
cmd tar tar
cmd bsdtar libarchive-tools
EOF
    ;;
    real-hosts-arm64) cat <<'EOF'
cmd qemu-aarch64-static qemu-user-static
cmd update-binfmts binfmt-support
EOF
    ;;
    *) echo "install-deps: unknown set '$1'" >&2; exit 2 ;;
  esac
}

missing=()
for what in "$@"; do
  while read -r kind probe package; do
    if ! have "$kind" "$probe"; then
      case " ${missing[*]-} " in *" $package "*) ;; *) missing+=("$package") ;; esac
    fi
  done < <(needs "$what")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: missing: ${missing[*]} (Debian package names; run as root on Debian to install them)" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
update=no
for p in "${missing[@]}"; do
  case "$p" in
    *:*) foreign=${p#*:}
      if ! dpkg --print-foreign-architectures | grep -qx "$foreign"; then
        dpkg --add-architecture "$foreign"
        update=yes
      fi ;;
  esac
done
# Without recommends: the needs above are complete, and recommends would
# bring in what nothing here uses (ansible-core's whole collection bundle,
# qemu-user's binfmt registration).
# Another install already running (a second make, a helper's apt) is
# waited for, up to ten minutes, instead of failing on dpkg's lock.
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }
install() { apt_get install -y -q --no-install-recommends "$@"; }
if [ $update = yes ] || ! install "${missing[@]}" >/dev/null 2>&1; then
  apt_get update -q >/dev/null
  install "${missing[@]}" >/dev/null
fi
