#!/bin/sh
# Installs the Debian packages the build, the tests and the benchmark need,
# and only those that are missing.
set -eu
packages="g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libsdl2-gfx-dev libpng-dev libx11-dev xvfb x11-apps x11-utils clang-format help2man
  libxml2-utils parallel"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
