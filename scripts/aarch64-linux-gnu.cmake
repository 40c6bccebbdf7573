# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM (arm64 gateways): clang for the target
# aarch64-linux-gnu with the arm64 libraries of the multiarch tree
# (libstdc++-12-dev:arm64, libncurses-dev:arm64) and the arm64 binutils;
# qemu-user runs what is built here, so that CTest can run the tests.
# (Debian's g++-aarch64-linux-gnu conflicts with g++-multilib, which the
# 32-bit build needs.)
#
#     cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=scripts/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
# The arm64 libraries lie in the multiarch folders of this machine.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
