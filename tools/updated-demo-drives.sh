#!/usr/bin/env bash
# Writes the README's demo drives (emulator/drives/demo.json) into FOLDER as
# demo-updated.json, with the first drive running an image it accepts at
# once as revision 1.07 (the sample package's), so the screenshots can show
# the dialog after an update; prints the file's path.
#   tools/updated-demo-drives.sh FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:?usage: tools/updated-demo-drives.sh FOLDER}
output="$folder/demo-updated.json"
python3 - emulator/drives/demo.json "$output" <<'PYTHON'
import json
import sys
with open(sys.argv[1]) as demo:
    drives = json.load(demo)
drives["drives"][0].update({"activatesAs": "1.07", "activation": "atOnce"})
with open(sys.argv[2], "w") as updated:
    json.dump(drives, updated, indent=2)
PYTHON
echo "$output"
