#!/usr/bin/env bash
# The main job of ./vexa run. Its program arrives with the beamforming tool;
# until then this says what will run here.
set -euo pipefail
build=$1
echo "Built the tree in $build."
echo "The main job (beamforming a shipped raw photoacoustic sample with Kestrol) is not built yet."
