#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools (gnuplot for
# the charts, GNU parallel for sweeps) need, when missing.
# Needs root (apt-get) only on a machine that lacks one of them.
set -euo pipefail

need=()
for pkg in g++ cmake make libgtest-dev gnuplot-nox parallel pkg-config \
           libcpp-httplib-dev nlohmann-json3-dev "$@"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" </dev/null
fi
