#!/usr/bin/env bash
# The main job of ./vexa run: Kestrol beamforms the raw photoacoustic sample
# that the build generated (128 elements x 1024 samples at 40 MHz, a few point
# absorbers and a vessel-like row of them) and writes the B-mode image.
#
#   tools/run-main-job.sh <build dir> [extra Kestrol options, e.g. -alg sDMAS]
set -euo pipefail
build=$(cd "${1:?usage: $0 <build dir> [Kestrol options]}" && pwd)
shift
kestrol="$build/bin/Kestrol"
sample="$build/share/Kestrol/raw-photoacoustic-sample.nrrd"
outdir="$build/main-job"
out="$outdir/beamformed.nrrd"

for f in "$kestrol" "$sample"; do
  if [ ! -e "$f" ]; then
    echo "Missing $f: build the tree first (./vexa run does)." >&2
    exit 1
  fi
done
mkdir -p "$outdir"
echo "Beamforming $sample with Kestrol..."
"$kestrol" -i "$sample" -o "$out" "$@"
echo "Beamformed image written to $out"
# ./vexa, which starts the workbench, sits in the folder above tools/
root=$(cd "$(dirname "$0")/.." && pwd)
printf 'To look at it:\n  %q workbench --load %q\n' "$root/vexa" "$out"
