#!/usr/bin/env bash
# The virtual mesh, live: builds what is missing (the programs, the node
# image), boots two simulated nodes (node 1 with its cable plugged in, node 2
# without) against the stand-in dashboard, and prints as it happens what the
# dashboard receives and what the nodes apply, until Ctrl-C.
#   scripts/mesh.sh                  until stopped
#   scripts/mesh.sh --for 300        for five minutes, then exit
#   scripts/mesh.sh --nodes 3        more nodes (up to 3: a radio stays free for a client)
#   scripts/mesh.sh --for 1900 --memory   the memory benchmark: each daemon's peak resident
#                                    memory after ten watchdog periods (180 s) and more of
#                                    the others' cycles
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/vm/vm-lib.sh
need_packages "${BUILD_PACKAGES[@]}" "${VM_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }
why=$(vm_can_run) || { echo "the virtual mesh cannot run here: $why"; exit 1; }
vm_stage || { echo "the x86-64 static build failed (scripts/musl_stage.sh)"; exit 1; }
scripts/vm/build-image.sh
exec /usr/bin/python3 scripts/vm/mesh.py "$@"
