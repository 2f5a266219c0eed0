# Cross-compiling for arm64 with Debian's cross compilers
# (gcc- and g++-aarch64-linux-gnu); with -DDIAGPACK_SYSTEM_ZLIB=ON, zlib
# from Debian's arm64 architecture (zlib1g-dev:arm64 after
# `dpkg --add-architecture arm64`). The test executables run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
