# Cross build for 64-bit ARM Linux on a Debian x86-64 host.
#
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DNORVA_STATIC_TESTS=ON
#
# Needs crossbuild-essential-arm64 (compilers and the target C library in
# /usr/aarch64-linux-gnu), qemu-user (to run the tests), and the multiarch
# packages libmpfr-dev:arm64 and libgmp-dev:arm64 for the test oracle.  Those
# install into the host's multiarch tree: libraries in
# /usr/lib/aarch64-linux-gnu, mpfr.h in /usr/include (it is the same for every
# architecture) and gmp.h in /usr/include/aarch64-linux-gnu.  The cross
# compiler searches both of those by itself.
#
# Tests run through qemu-aarch64.  Under this qemu a dynamically linked
# program hangs as soon as it starts a second thread, so test programs that
# use OpenMP must be linked statically (NORVA_STATIC_TESTS=ON).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(NORVA_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${NORVA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${NORVA_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${NORVA_CROSS_TRIPLE})

# The target's C library lives under /usr/aarch64-linux-gnu; its other
# libraries (MPFR, GMP) are multiarch packages rooted at /, found through
# CMAKE_LIBRARY_ARCHITECTURE in /usr/lib/aarch64-linux-gnu.  Host programs
# (cmake, sh) come from the host; libraries and headers only from the target
# roots.  Host x86-64 libraries are never picked up: they live in
# /usr/lib/x86_64-linux-gnu, which is not searched for this architecture.
set(CMAKE_FIND_ROOT_PATH /usr/${NORVA_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (FindPkgConfig) reads only the target's .pc files: the host's
# (OpenBLAS for x86-64, say) would put x86-64 libraries on the link line.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${NORVA_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})

# ctest runs every test program through the emulator; -L points the
# emulated dynamic loader at the target's shared libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/${NORVA_CROSS_TRIPLE})

# FindOpenMP would record the full path of libgomp.so, which a static link
# of the test programs cannot use.  Naming the runtime libraries instead
# (-lgomp -lpthread) lets the linker pick libgomp.so.1 for the shared library
# and libgomp.a for the static test programs.
set(OpenMP_gomp_LIBRARY gomp CACHE FILEPATH "OpenMP runtime (linked by name)")
set(OpenMP_pthread_LIBRARY pthread CACHE FILEPATH "threads library (linked by name)")
