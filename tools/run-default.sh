#!/usr/bin/env bash
# Installs what the build needs, builds Quenzel.fmu and quenzel-host, and simulates the default
# scenario (tools/default-scenario.args) in Co-Simulation; further arguments go to quenzel-host
# (--model-exchange for Model Exchange). The CSV goes to standard output; the build's progress,
# the events and the FMU's messages to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh >&2
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >&2
cmake --build build/release -j"$(nproc)" --target quenzel_fmu quenzel-host >&2
mapfile -t scenario < <(grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' tools/default-scenario.args)
exec build/release/tools/quenzel_host/quenzel-host "$@" "${scenario[@]}" build/release/Quenzel.fmu
