# Builds for arm64 on an amd64 Debian with its cross compilers and the arm64 libraries installed
# beside the machine's own (dpkg --add-architecture arm64; scripts/test-arm64 installs them). Qt's
# tools (moc, uic, rcc) stay the host's. Programs built here run under qemu-aarch64, with the
# processor TONVALER_QEMU_CPU (default "max": NEON, SVE and SVE2).
#
#     cmake -S . -B build-arm64 --toolchain cmake/arm64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The multiarch folders: /usr/lib/aarch64-linux-gnu for libraries and their CMake and pkg-config
# files, /usr/include for headers.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

set(TONVALER_QEMU_CPU "max" CACHE STRING "the processor qemu-aarch64 emulates for the tests")
# The arm64 loader and libraries are where dpkg put them: qemu needs no sysroot of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -cpu ${TONVALER_QEMU_CPU})
