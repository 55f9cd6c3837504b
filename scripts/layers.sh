#!/usr/bin/env bash
# Fails, naming each line, when a source under src/ includes a module of its
# own layer or of a layer above it (cmake/layers.txt gives the layers).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
git ls-files 'src/*.cpp' 'src/*.h' | xargs grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]*/' |
  awk -v layers="cmake/layers.txt" '
    BEGIN { while ((getline line < layers) > 0) if (line !~ /^#/ && split(line, f, " ") == 2) level[f[1]] = f[2] }
    {
      split($0, at, ":"); split(at[1], path, "/"); from = path[2]
      match($0, /"[a-z]*\//); to = substr($0, RSTART + 1, RLENGTH - 2)
      if (from != to && (!(to in level) || !(from in level) || level[to] >= level[from])) {
        print "layers: " at[1] ":" at[2] " (" from ") includes " to ", which is not below it" > "/dev/stderr"
        bad = 1
      }
    }
    END { exit bad }'
