#!/usr/bin/env bash
# Configures, builds and runs the tests in one build folder.
#   scripts/test.sh [BUILD_DIR] [asan]
# The normal build uses g++; the asan build uses clang with AddressSanitizer,
# UndefinedBehaviorSanitizer and the libFuzzer targets (run over their
# corpora). Machine-wide paths live under BUILD_DIR/sysroot.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
flavour=${2:-normal}
werror=${TOLVAN_WERROR:-ON}

args=(-G Ninja -DTOLVAN_WERROR="$werror" -DTOLVAN_SYSTEM_ROOT="$PWD/$build/sysroot")
if [ "$flavour" = asan ]; then
  args+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTOLVAN_SANITIZE=ON)
else
  args+=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++)
fi
cmake -S . -B "$build" "${args[@]}" >/dev/null
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2
