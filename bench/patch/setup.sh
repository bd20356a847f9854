#!/usr/bin/env bash
# Installs the baseline of the patch benchmark, GRASS GIS (r.clump), from
# Debian when it is missing. Run as root (or through sudo) before
# bench_patch; the tests never need it.
set -euo pipefail
if command -v grass >/dev/null 2>&1; then
    echo "GRASS is installed: $(grass --version 2>/dev/null | head -n1)"
    exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends grass-core
grass --version | head -n1
