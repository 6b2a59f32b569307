#!/usr/bin/env bash
# Installs what is missing, builds Vaultine and starts it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh native
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DVAULTINE_TESTS=OFF >/dev/null
cmake --build build/native --target vaultine -j"$(nproc)" >/dev/null
exec build/native/cli/vaultine --help
