#!/bin/sh
# Installs what is needed, builds, and runs every test: the whole program
# headless, the Debian package's contents, then the engine again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for
# a minute.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure --parallel 2)
./scripts/check-package.sh

if [ ! -f build-asan/build.ninja ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANTA_ENGINE_ONLY=ON -DCORVANTA_SANITIZE=ON
fi
cmake --build build-asan --parallel "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --parallel 2)

./scripts/fuzz.sh
