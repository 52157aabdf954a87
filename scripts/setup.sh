#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests, the demo and the release need and the machine
# lacks.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in wine wine64 g++-mingw-w64-x86-64 cmake ninja-build googletest wixl msitools clang libclang-rt-14-dev \
    nlohmann-json3-dev zip unzip osslsigncode openssl; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
