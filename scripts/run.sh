#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it.
#   bash scripts/run.sh          start it on this machine's network
#   bash scripts/run.sh --netns  start it inside a private network namespace
#                                with emulated devices (touches no real LAN)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

if [ ! -x build/ui/netvane ]; then
  echo "The window is not built yet: core and pe libraries and their tests are ready." >&2
  exit 1
fi

if [ "${1:-}" = "--netns" ]; then
  exec bash scripts/netns-demo.sh build
fi
exec build/ui/netvane
