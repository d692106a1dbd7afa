#!/usr/bin/env bash
# Runs the README's command blocks marked <!-- readme-check --> (the line
# right before a ```sh fence), each as written, from the top of the source
# tree, against the build in build/ (made by `bash tools/build.sh test`, which
# CI runs first; this script builds build/ when it is missing). Fails when a
# command fails.
#
# Blocks left unmarked, and why: `tools/build.sh run` waits for a person;
# `tools/build.sh test` is CI's first step; the package's build and install
# need root and are tools/ci/package-test.sh; the machine's own drives need
# real hardware; the window needs a display; the Windows commands need wine
# (tools/ci/windows-test.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/ci/programs-built.sh

blocks=$(mktemp -d)
trap 'rm -rf "$blocks"' EXIT
python3 - README.md "$blocks" <<'PYTHON'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
count = 0
for i, line in enumerate(lines):
    if line.strip() != "<!-- readme-check -->":
        continue
    if i + 1 >= len(lines) or lines[i + 1].strip() != "```sh":
        sys.exit(f"README.md:{i + 1}: <!-- readme-check --> must come right before a ```sh block")
    end = lines.index("```", i + 2)
    count += 1
    with open(f"{sys.argv[2]}/{count:02}.sh", "w", encoding="utf-8") as out:
        out.write(f"# README.md line {i + 3}\n" + "\n".join(lines[i + 2:end]) + "\n")
if count == 0:
    sys.exit("README.md: no block is marked <!-- readme-check -->")
PYTHON

# Standard input is empty, so nothing can wait for a person.
for block in "$blocks"/*.sh; do
  echo "== $(head -1 "$block")"
  bash -euo pipefail -x "$block" </dev/null >"$blocks/out.txt" 2>&1 || {
    cat "$blocks/out.txt"
    echo "readme-commands: the block at $(head -1 "$block" | cut -c3-) failed" >&2
    exit 1
  }
done
echo "readme-commands: every marked block ran"
