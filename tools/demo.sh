#!/usr/bin/env bash
# The main job: boots the hosted target and shows what it does.
set -euo pipefail
build=${1:-build}
if [ -x "$build/bin/qio5162" ]; then
  exec "$build/bin/qio5162" tour
fi
exec "$build/bin/qio5162-boot"
