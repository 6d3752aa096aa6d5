#!/usr/bin/env bash
# Builds pimbridge and asks it every reading question on the simulated
# platform's demo world.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target pimbridge
for command in authorization reminder-lists reminders contacts; do
  echo "\$ pimbridge $command"
  status=0
  build/default/src/pimbridge "$command" || status=$?
  echo "(exit status $status)"
done
