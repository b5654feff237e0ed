#!/bin/sh
# Installs the build into a fresh prefix and runs the installed simulator
# from another directory on shipped models named without their path.
# Arguments: the cmake program and the build directory.
set -eu
cmake_program=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake_program" --install "$build" --prefix "$prefix" >/dev/null
for f in bin/attack_flow_sim bin/simmgr bin/attack_flow_solve \
         share/tarvex/models/attack_flow.toml share/tarvex/models/enterprise.toml \
         share/tarvex/models/industrial_control.toml \
         share/doc/tarvex/README.md share/doc/tarvex/model-format.md; do
  if [ ! -f "$prefix/$f" ]; then echo "not installed: $f"; exit 1; fi
done
mkdir "$prefix/elsewhere"
cd "$prefix/elsewhere"
"$prefix/bin/attack_flow_sim" -M enterprise -K > check.txt
grep -q "^ModelFile: $prefix/share/tarvex/models/enterprise.toml$" check.txt
grep -q "^Model enterprise (" check.txt
grep -q "^Initial decision: Reconnaissance" check.txt
# A name with its extension, and a short run with the installed program.
"$prefix/bin/attack_flow_sim" -M industrial_control.toml -N 20 -a out.txt > run.txt
grep -q "^#META_DATA,BATCHES=20$" out.txt
# A name that is neither a file nor an installed model is reported as given.
if "$prefix/bin/attack_flow_sim" -M nosuchmodel -K > /dev/null 2> err.txt; then
  echo "an unknown model was accepted"; exit 1
fi
grep -q "^ERROR: no model named nosuchmodel: the compiled models are attack_flow," err.txt
echo "installed and ran"
