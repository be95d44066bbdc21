#!/bin/sh
# Installs what is needed, builds, and opens the viewer on FILE (default: the
# bundled welcome message).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
file="${1:-samples/welcome.eml}"
exec ./build/viewer/corvanta-viewer "$file"
