#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs the whole test suite under AddressSanitizer and
# UndefinedBehaviorSanitizer. Installs missing build tools first (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

# The arm64 tree is built by clang with the arm64 libraries of the
# multiarch tree and run under qemu-user (g++-aarch64-linux-gnu would
# conflict with g++-multilib).
packages=(cmake g++ make pkg-config libncurses-dev libgtest-dev g++-multilib lib32ncurses-dev tmux clang libclang-rt-dev
  lintian mandoc systemd qemu-user binutils-aarch64-linux-gnu libstdc++-12-dev:arm64 libncurses-dev:arm64)
# The Python package's tests run on the distribution's Python and pytest.
packages+=(python3 python3-pytest)
# The i386 packages take their dependencies from the i386 libraries.
if [ "$(id -u)" = 0 ]; then
  for arch in i386 arm64; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
  done
fi
packages+=(libc6:i386 libncurses6:i386 libtinfo6:i386 libstdc++6:i386 libgcc-s1:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || true
    apt-get install -y -qq "${missing[@]}"
  else
    echo "missing packages: ${missing[*]}" >&2
    echo "install them (sudo apt-get install ${missing[*]}) or run this script as root" >&2
    exit 1
  fi
fi

jobs=$(nproc)
build=${QO3964_BUILD_DIR:-$top/build}

# The Debian packages of a built tree (qo3964, libqo3964-1 and
# libqo3964-dev for the tree's architecture, python3-qo3964 for all), left
# in the tree. dpkg-shlibdeps takes the
# dependencies of a foreign tree from that architecture's libraries.
debian_packages() {
  rm -f "$1"/*.deb
  (cd "$1" && cpack -G DEB > cpack.log) || { cat "$1/cpack.log"; return 1; }
  ls "$1"/*.deb
}

echo "== 32-bit build (server, library, tools)"
cmake -S . -B "$build/m32" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQO3964_BUILD_TESTS=OFF -DQO3964_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 > /dev/null
cmake --build "$build/m32" -j "$jobs"
debian_packages "$build/m32"

echo "== arm64 cross build, unit tests under qemu-user"
arm64=$build/arm64
toolchain=$top/scripts/aarch64-linux-gnu.cmake
gtest_arm64=$build/arm64-gtest
if [ ! -f "$gtest_arm64/lib/cmake/GTest/GTestConfig.cmake" ]; then
  # GoogleTest for arm64, from the sources that libgtest-dev ships.
  cmake -S /usr/src/googletest -B "$build/arm64-gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest_arm64" > /dev/null
  cmake --build "$build/arm64-gtest-build" -j "$jobs" > /dev/null
  cmake --install "$build/arm64-gtest-build" > /dev/null
fi
cmake -S . -B "$arm64" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQO3964_BUILD_BENCH=OFF -DGTest_DIR="$gtest_arm64/lib/cmake/GTest" > /dev/null
# The server and a client program for the end-to-end test of the main run,
# and the unit tests of the timers, the job exchange and the library.
cmake --build "$arm64" -j "$jobs" --target qo3964_server width_probe timer_tests dispatcher_tests runtime_log_tests client_tests
# Tests that start programs of the tree are left out: without binfmt_misc
# the build machine cannot start an arm64 program from an arm64 one.
ctest --test-dir "$arm64" --output-on-failure -j $((jobs * 2)) --timeout 300 \
  -E '_NOT_BUILT$|^ExampleApplication\.|^Standards/CProgram\.'

echo "== arm64 packages (server, library and tools of an arm64 release tree)"
cmake -S . -B "$build/arm64-release" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQO3964_BUILD_TESTS=OFF -DQO3964_BUILD_BENCH=OFF > /dev/null
cmake --build "$build/arm64-release" -j "$jobs" > /dev/null
debian_packages "$build/arm64-release"

echo "== release build and install into $build/stage"
cmake -S . -B "$build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQO3964_BUILD_TESTS=OFF > /dev/null
cmake --build "$build/release" -j "$jobs"
rm -rf "$build/stage"
cmake --install "$build/release" --prefix "$build/stage" > /dev/null
debian_packages "$build/release"

echo "== Python package qo3964 (pytest): the installed tree against a real server and partner, the packages"
# The distribution's Python (not one found first on PATH), the package and
# the shared library of the installed tree.
stage_libdir=$(dirname "$(ls "$build"/stage/lib/*/libqo3964_client.so.1)")
PYTHONPATH="$build/stage/lib/python3/dist-packages" LD_LIBRARY_PATH="$stage_libdir" \
  QO3964_BIN_DIR="$build/stage/bin" QO3964_PACKAGE_DIR="$build/release" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -m pytest -p no:cacheprovider -q -rs tests/python

echo "== sanitizer build with tests"
cmake -S . -B "$build/asan" -DCMAKE_BUILD_TYPE=Debug -DQO3964_SANITIZE=ON \
  -DQO3964_M32_DIR="$build/m32" -DQO3964_ARM64_DIR="$arm64" -DQO3964_STAGE_DIR="$build/stage" \
  -DQO3964_PACKAGE_DIR="$build/release" > /dev/null
cmake --build "$build/asan" -j "$jobs"

echo "== running the tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
rm -f "$build"/asan/tests/soak/soak_report_*.txt
# The full soak (label soak, half an hour) only when asked for with -L soak.
exclude=(-LE soak)
for arg in "$@"; do
  if [ "$arg" = -L ]; then exclude=(); fi
done
ctest --test-dir "$build/asan" --output-on-failure -j $((jobs * 4)) --timeout 600 "${exclude[@]}" "$@"
for report in "$build"/asan/tests/soak/soak_report_*.txt; do
  if [ -f "$report" ]; then cat "$report"; fi
done

echo "== fuzzing (clang, libFuzzer, a few seconds per target)"
CC=clang CXX=clang++ cmake -S . -B "$build/fuzz" -DCMAKE_BUILD_TYPE=Debug \
  -DQO3964_FUZZ=ON -DQO3964_BUILD_TESTS=OFF -DQO3964_BUILD_BENCH=OFF > /dev/null
cmake --build "$build/fuzz" -j "$jobs"
ctest --test-dir "$build/fuzz" --output-on-failure -V
