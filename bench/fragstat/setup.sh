#!/bin/sh
# Installs what the whole-program benchmark (run.sh) runs beside fragstat:
# GRASS GIS, whose r.clump -d labels the same landscapes as the baseline of
# patch labelling. Debian or Ubuntu; run as root (or through sudo).
set -eu
command -v grass >/dev/null 2>&1 && exit 0
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends grass-core
