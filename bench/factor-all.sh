#!/usr/bin/env bash
# Runs orva-bench-factor over every .nl problem of a folder and prints a table.
#   bench/factor-all.sh FOLDER [reps]
# The program is taken from $ORVA_BIN (default: build/ next to this script's folder).
set -u
folder=${1:?usage: factor-all.sh FOLDER [reps]}
reps=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
prog=${ORVA_BIN:-$here/../build}/orva-bench-factor
if [ ! -x "$prog" ]; then
  echo "no program $prog (build the project first)" >&2
  exit 1
fi
printf '%-12s %8s %10s %14s %10s %10s %8s %7s %8s\n' problem n+m lnz flops symbolic_s numeric_s gflops ratio rss_mb
for f in "$folder"/*.nl; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .nl)
  line=$("$prog" "$f" "$reps" 2>/dev/null | grep '^factor ' | tail -1)
  if [ -z "$line" ]; then
    printf '%-12s %s\n' "$name" "failed"
    continue
  fi
  get() { echo "$line" | tr ' ' '\n' | grep "^$1=" | cut -d= -f2; }
  n=$(get n); m=$(get m)
  printf '%-12s %8d %10s %14s %10s %10s %8s %7s %8s\n' "$name" $((n + m)) "$(get lnz)" "$(get flops)" \
    "$(get symbolic_s)" "$(get numeric_s)" "$(get gflops)" "$(get ratio)" "$(get rss_mb)"
done
