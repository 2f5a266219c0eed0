#!/usr/bin/env bash
# make release [ARCH=amd64|arm64]: the static, hardened, stripped executables
# and the packages that ship, tested as they ship. Hardened means what
# readelf shows (printed at the end): static-pie, full RELRO and BIND_NOW,
# with no IBT/SHSTK or BTI property (Debian's libc.a lacks it, so the linker
# drops it; cmake/release.cmake says more).
#
#   amd64: build-release/        (this host's compiler)
#   arm64: build-release-arm64/  (g++-aarch64-linux-gnu; the tests run
#                                 under qemu-aarch64)
# Each holds bin/ (the executables), debug/ (their split debug information),
# diagpack_<version>_<arch>.deb and diagpack-<version>-1.<arch>.rpm.
#
# Steps: install what is missing (as root; otherwise name it and stop),
# build with SOURCE_DATE_EPOCH from the last commit, run the tests against
# the release executables, make both packages from one staged tree, then
# check them: lintian, rpmlint, install and remove each into an empty root.
#
# Environment: RELEASE_TESTS=0 skips the tests (scripts/reproducible.sh);
# RELEASE_BUILD names the build directory; WERROR=ON turns warnings into
# errors; SYSTEM_ZLIB=ON links the system's libz.a instead of the bundled
# zlib-ng; RELEASE_ARM64_SKIP is the ctest -E regex of the tests left out
# under qemu (default: those named below).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

arch=${1:-amd64}
case "$arch" in
  amd64 | x86_64)
    arch=amd64
    build=${RELEASE_BUILD:-build-release}
    deps=(build test release)
    [ "${SYSTEM_ZLIB:-OFF}" = ON ] && deps+=(system-zlib system-zlib-release)
    scripts/install-deps.sh "${deps[@]}"
    toolchain=()
    ;;
  arm64 | aarch64)
    arch=arm64
    build=${RELEASE_BUILD:-build-release-arm64}
    deps=(build test release release-arm64)
    [ "${SYSTEM_ZLIB:-OFF}" = ON ] && deps+=(system-zlib system-zlib-release-arm64)
    scripts/install-deps.sh "${deps[@]}"
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake")
    ;;
  *)
    echo "release: unknown ARCH '$arch' (amd64 or arm64)" >&2
    exit 2
    ;;
esac
build=$(realpath -m "$build")
qemu_skip='^(ChildProcess\.(MissingProgramIsOsError|StartsTheSameWhereSpawnIsRefused)'
qemu_skip+='|e2e_test_command_line'
qemu_skip+='|ParallelGzTest\.(WorkersRun|OneUsableCpu|WriteFailureIn|FullDisk|DestroyedWith).*)$'

# Every timestamp in the packages is the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDIAGPACK_RELEASE=ON \
  -DDIAGPACK_WERROR="${WERROR:-OFF}" -DDIAGPACK_SYSTEM_ZLIB="${SYSTEM_ZLIB:-OFF}" \
  "${toolchain[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
read -r deb_arch rpm_arch version <"$build/packaging/arch"

if [ "${RELEASE_TESTS:-1}" != 0 ]; then
  if [ $arch = amd64 ]; then
    (cd "$build" && ctest -j"$(nproc)" --output-on-failure)
  else
    # The unit tests go through the toolchain's emulator, the end-to-end
    # runs through the harness's wrapper. Left out, as artefacts of user-mode
    # emulation: qemu runs posix_spawn's child as a fork, which cannot report
    # a failed exec; qemu has threads of its own, which the encoder tests
    # that count threads see;
    # and test_command_line starts the executable itself, without a wrapper.
    (cd "$build" && DIAGPACK_E2E_WRAPPER=qemu-aarch64 ctest -j"$(nproc)" \
      --output-on-failure -E "${RELEASE_ARM64_SKIP:-$qemu_skip}")
  fi
fi

# One staged tree for both packages, with modes that do not depend on umask.
stage=$build/stage
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
doc=$stage/usr/share/doc/diagpack
install -d "$doc"
gzip -9n <contrib/packaging/changelog >"$doc/changelog.gz"
chmod -R u=rwX,go=rX "$stage"
chmod 0755 "$stage"/usr/bin/*

# The .deb: dpkg-deb takes its timestamps from SOURCE_DATE_EPOCH and sorts
# the entries; owner and group are root.
deb=$build/diagpack_${version}_${deb_arch}.deb
debroot=$build/stage-deb
rm -rf "$debroot"
cp -a "$stage" "$debroot"
install -D -m 0644 contrib/packaging/lintian-overrides "$debroot/usr/share/lintian/overrides/diagpack"
install -d -m 0755 "$debroot/DEBIAN"
size=$(du -sk --apparent-size "$debroot/usr" | cut -f1)
sed "s/^Architecture: .*/&\nInstalled-Size: $size/" "$build/packaging/control" >"$debroot/DEBIAN/control"
(cd "$debroot" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$debroot/DEBIAN/md5sums"
chmod 0644 "$debroot/DEBIAN/control" "$debroot/DEBIAN/md5sums"
dpkg-deb --root-owner-group -Zxz --build "$debroot" "$deb" >/dev/null

# The .rpm: xz payload and SHA-256 digests, which every supported rpm reads
# (zstd payloads are too new for some); build time, host and file times are
# fixed so that two builds give the same bytes.
rpm=$build/diagpack-${version}-1.${rpm_arch}.rpm
rm -rf "$build/rpmbuild"
rpmbuild -bb --quiet --target "$rpm_arch-linux" \
  --define "_topdir $build/rpmbuild" \
  --define "_rpmdir $build" \
  --define "_build_name_fmt %{NAME}-%{VERSION}-%{RELEASE}.%{ARCH}.rpm" \
  --define "stage $stage" \
  --define "_binary_payload w6.xzdio" \
  --define "_binary_filedigest_algorithm 8" \
  --define "_buildhost reproducible" \
  --define "use_source_date_epoch_as_buildtime 1" \
  --define "clamp_mtime_to_source_date_epoch 1" \
  "$build/packaging/diagpack.spec"

scripts/check-packages.sh "$deb" "$rpm"

echo "release: $arch, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
readelf -dW "$build/bin/diagpack-jce" | grep -E '\((FLAGS|FLAGS_1|NEEDED)\)' || true
readelf -nW "$build/bin/diagpack-jce" | grep 'Properties:' || echo "no .note.gnu.property"
(cd "$build" && ls -l bin debug "$(basename "$deb")" "$(basename "$rpm")" &&
  sha256sum bin/* debug/* "$(basename "$deb")" "$(basename "$rpm")")
