#!/usr/bin/env bash
# The main job: a demonstration study of the attack_flow model.
set -euo pipefail
build=${1:-build}
mkdir -p results
"./$build/attack_flow_sim" -N 10000 -a results/attack_flow.txt -b results/attack_flow.bin
echo "Results: results/attack_flow.txt and results/attack_flow.bin"
