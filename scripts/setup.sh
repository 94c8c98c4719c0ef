#!/usr/bin/env bash
# Installs the Debian packages the build, the tests (xz for the golden copies)
# and the tools (gnuplot for the charts, GNU parallel, Python 3 and SQLite for
# sweeps, Slurm and munge for the sweep's cluster test) need, when
# missing, and the web page's packages from the npm registry.
# Needs root (apt-get) only on a machine that lacks one of them.
set -euo pipefail

need=()
for pkg in g++ cmake make libgtest-dev libcsv-dev gnuplot-nox parallel xz-utils "$@"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
# Sweeps: the tool is Python 3 with its standard library's sqlite3; the
# sqlite3 shell for queries; a one-node Slurm cluster (slurm-wlm, munge) for
# the test that runs a sweep through Slurm.
for pkg in python3 sqlite3 libsqlite3-dev slurm-wlm munge; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
# The web workbench (morvenda serve): the HTTP and JSON libraries, Chromium
# for its browser test, and Node.js with npm for the page's packages.
for pkg in pkg-config libcpp-httplib-dev nlohmann-json3-dev chromium; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
command -v npm >/dev/null 2>&1 || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" </dev/null
fi

# The page's chart library and the browser test's driver, as locked in
# web/package-lock.json.  No browser is downloaded: the test drives
# Debian's Chromium.
web="$(cd "$(dirname "$0")/.." && pwd)/web"
if [ ! -f "$web/node_modules/.package-lock.json" ] ||
   [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
  echo "setup: installing the page's packages in web/"
  (cd "$web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund </dev/null)
fi
