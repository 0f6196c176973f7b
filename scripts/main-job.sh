#!/usr/bin/env bash
# The main job on a fresh Debian machine, as root: install the build's
# packages, build, serve real requests through the set-user-ID helper tool
# installed (root-owned, mode 04555) in a system root inside the build
# folder, then print the machine-wide preferences those requests saved.
#
# Until `tolvan-prefs write` can send a request itself, the requests come
# from the helper tool's end-to-end test: a throwaway administrator types
# their password on a terminal, the tool saves nested dictionaries, arrays,
# data, dates and non-ASCII strings, and a second request asks nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-main}

if [ "$(id -u)" != 0 ]; then
  echo "main-job.sh: run as root (the tool is installed set-user-ID root)" >&2
  exit 1
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  $(grep -v '^#' .ci/packages) >/dev/null

cmake -S . -B "$build" -G Ninja -DTOLVAN_SYSTEM_ROOT="$PWD/$build/sysroot" >/dev/null
cmake --build "$build" --target tolvan-helper tolvan-prefs tool_helper_tool_authorization_test
"$build/tests/tool_helper_tool_authorization_test" \
  --gtest_filter='*AnAdministratorWhoTypesThePassword*'
"$build/tolvan-prefs" read
