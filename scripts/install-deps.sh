#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing pimbridge need,
# skipping the package index update when everything is already there.
#   install-deps.sh        everything the test command needs
#   install-deps.sh demo   only what a plain build of the tool needs
set -euo pipefail

# The tool on the simulated platform.
packages=(cmake ninja-build g++ nlohmann-json3-dev)
# Its tests, sanitizers, fuzzing, benchmarks, the check of the macOS layer
# and the macOS tool cross-built and inspected, the schemas and the Node
# client, the EDS backend with a real EDS, and the vdir backend with a real
# CalDAV/CardDAV server, sync tool and peers.
[ "${1:-}" = demo ] || packages+=(
  clang clang-format cmake-format libc++-14-dev libc++abi-14-dev libclang-rt-14-dev
  libc6-dev-arm64-cross libc6-dev-amd64-cross lld-14 llvm-14
  libgtest-dev libbenchmark-dev rapidjson-dev valgrind time
  python3-jsonschema nodejs node-typescript
  pkg-config libecal2.0-dev libebook1.2-dev libedataserver1.2-dev evolution-data-server dbus tzdata
  libical-dev libebook-contacts1.2-dev libjson-glib-dev libglib2.0-dev radicale vdirsyncer todoman khard
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
