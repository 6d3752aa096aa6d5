#!/usr/bin/env bash
# Builds pimbridge as a user would, with nothing but what the tool needs, and
# asks it every reading question on the simulated platform's demo world.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/demo --target pimbridge
for command in authorization reminder-lists reminders contacts; do
  echo "\$ pimbridge $command"
  status=0
  build/demo/src/pimbridge "$command" || status=$?
  echo "(exit status $status)"
done
