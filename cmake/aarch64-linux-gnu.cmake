# Cross-compiling for 64-bit ARM Linux with Debian's cross toolchain. The
# arm64 libjpeg and GoogleTest lie in SHRINKWELL_ARM64_ROOT (made by
# scripts/test-arm64.sh); programs and tests run through qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${SHRINKWELL_ARM64_ROOT})
# Debian keeps the architecture's own headers (libjpeg's jconfig.h) apart.
set(CMAKE_C_FLAGS_INIT "-isystem ${SHRINKWELL_ARM64_ROOT}/usr/include/aarch64-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${SHRINKWELL_ARM64_ROOT}/usr/include/aarch64-linux-gnu")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Header-only packages (the JSON library) come from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu -E
    LD_LIBRARY_PATH=${SHRINKWELL_ARM64_ROOT}/usr/lib/aarch64-linux-gnu:${SHRINKWELL_ARM64_ROOT}/lib)
