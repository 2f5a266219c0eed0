# The release build: the executables that ship to customer hosts.
#
# Static-pie: each executable carries the C library, libstdc++, libgcc and
# zlib-ng with it, so it loads on any Linux of its architecture whatever
# library versions the host has, and it still runs at a random address.
# readelf -d shows no NEEDED entry and readelf -l no program interpreter.
#
# Hardened as far as a static link allows: stack protector, stack clash
# probes, fortified libc calls outside Debug, full RELRO with BIND_NOW, and
# on aarch64 signed return addresses (pac-ret: the instructions are in our
# code and take effect on every CPU that has them, whatever the ELF notes).
# Not claimed: indirect-branch tracking and shadow stacks (CET on x86-64,
# BTI on aarch64). The kernel turns them on only when the executable's
# .note.gnu.property says every object was built for them, and the linker
# keeps that property only if each input has it; Debian's libc.a and start
# files do not, so readelf -n shows no IBT, SHSTK or BTI on either
# architecture, and compiling our part for them would change nothing. The
# static check test (tools/diagpack/tests/e2e/test_static.py) holds the
# notes to exactly that.
#
# Reproducible: the only input that would differ between two checkouts of
# the same commit is where they lie, and -ffile-prefix-map removes it from
# the debug information and from __FILE__. SOURCE_DATE_EPOCH (set by
# scripts/release.sh from the last commit) fixes the packages' timestamps.
# The build-id is a hash of the contents and so is the same too.
#
# Stripped: diagpack_split_debug() moves the debug information into
# <build>/debug/<name>.debug and leaves a .gnu_debuglink in the executable,
# so gdb finds it when the file is put beside the binary or under
# /usr/lib/debug/.build-id.

# Debug information for the split-off debug files.
add_compile_options(-g)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fPIE)
add_link_options(-static-pie)

add_compile_options(-fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  add_compile_options(-mbranch-protection=pac-ret)
endif()
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
add_link_options(-Wl,-z,relro,-z,now -Wl,--build-id=sha1)

# GCC tries the map given last first: the build directory (usually inside
# the source tree) before the source tree.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

set(DIAGPACK_DEBUG_DIR ${CMAKE_BINARY_DIR}/debug)
file(MAKE_DIRECTORY ${DIAGPACK_DEBUG_DIR})

# Splits |target|'s debug information into <build>/debug/<file>.debug and
# strips the executable (symbols and the .comment compiler banner).
function(diagpack_split_debug target)
  set(debug ${DIAGPACK_DEBUG_DIR}/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${CMAKE_OBJCOPY} --strip-all --remove-section=.comment
            --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# The licences of what a static executable carries: diagpack's own (MIT,
# in the copyright file), the GNU C Library (LGPL 2.1 or later), libstdc++
# and libgcc (GPL 3 or later with the GCC Runtime Library Exception) and the
# deflate library, zlib-ng or the system's zlib (the zlib licence). Each
# text is installed under share/doc/diagpack/, the rpm's licence field is
# the SPDX expression.
set(DIAGPACK_LICENSE
  "MIT AND LGPL-2.1-or-later AND GPL-3.0-or-later WITH GCC-exception-3.1 AND Zlib")
function(diagpack_install_licences zlib_licence)
  set(dir ${CMAKE_SOURCE_DIR}/contrib/packaging)
  install(FILES ${dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${dir}/licenses/LGPL-2.1 ${dir}/licenses/GPL-3
                ${dir}/licenses/GCC-exception-3.1
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/licenses)
  install(FILES ${zlib_licence} DESTINATION ${CMAKE_INSTALL_DOCDIR}/licenses
          RENAME Zlib)
endfunction()

# Writes <build>/packaging/control and diagpack.spec from contrib/packaging/
# with the version, architecture and texts of this build.
function(diagpack_configure_packaging)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(DIAGPACK_DEB_ARCH arm64)
    set(DIAGPACK_RPM_ARCH aarch64)
  else()
    set(DIAGPACK_DEB_ARCH amd64)
    set(DIAGPACK_RPM_ARCH x86_64)
  endif()
  # Debian's extended description: each line indented by one space.
  string(REPLACE "\n" "\n " DIAGPACK_DEB_DESCRIPTION " ${DIAGPACK_DESCRIPTION}")
  set(in ${CMAKE_SOURCE_DIR}/contrib/packaging)
  set(out ${CMAKE_BINARY_DIR}/packaging)
  configure_file(${in}/control.in ${out}/control @ONLY)
  configure_file(${in}/diagpack.spec.in ${out}/diagpack.spec @ONLY)
  file(WRITE ${out}/arch "${DIAGPACK_DEB_ARCH} ${DIAGPACK_RPM_ARCH} ${PROJECT_VERSION}\n")
endfunction()
