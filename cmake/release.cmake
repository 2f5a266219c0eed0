# The release build: the executables that ship to customer hosts.
#
# Static-pie: each executable carries the C library, libstdc++, libgcc and
# zlib with it, so it loads on any Linux of its architecture whatever library
# versions the host has, and it still runs at a random address. readelf -d
# shows no NEEDED entry and readelf -l no program interpreter.
#
# Hardened as distributions build their own packages: stack protector, stack
# clash probes, control-flow protection (CET on x86-64, PAC/BTI on aarch64),
# fortified libc calls outside Debug, full RELRO with BIND_NOW.
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
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
  add_compile_options(-fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  add_compile_options(-mbranch-protection=standard)
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
