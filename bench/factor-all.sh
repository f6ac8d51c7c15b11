#!/usr/bin/env bash
# Runs orva-bench-factor over every .nl problem of a folder and prints a table.
#   bench/factor-all.sh FOLDER [reps]
# With the MUMPS peer built in, the last four columns give its numeric seconds and
# orva's time over its time (below 1: orva is faster), in orva's pivot order and in its own.
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
printf '%-12s %8s %10s %14s %10s %10s %8s %7s %8s %10s %7s %10s %7s\n' problem n+m lnz flops symbolic_s numeric_s \
  gflops ratio rss_mb peer_s t/peer peer_own_s t/own
for f in "$folder"/*.nl; do
  [ -e "$f" ] || continue
  name=$(basename "$f" .nl)
  out=$("$prog" "$f" "$reps" 2>/dev/null)
  line=$(echo "$out" | grep '^factor ' | tail -1)
  if [ -z "$line" ]; then
    printf '%-12s %s\n' "$name" "failed"
    continue
  fi
  get() { echo "${2:-$line}" | tr ' ' '\n' | grep "^$1=" | cut -d= -f2; }
  peer=$(echo "$out" | grep '^peer mumps order=orva ' | tail -1)
  own=$(echo "$out" | grep '^peer mumps order=own ' | tail -1)
  n=$(get n); m=$(get m)
  printf '%-12s %8d %10s %14s %10s %10s %8s %7s %8s %10s %7s %10s %7s\n' "$name" $((n + m)) "$(get lnz)" \
    "$(get flops)" "$(get symbolic_s)" "$(get numeric_s)" "$(get gflops)" "$(get ratio)" "$(get rss_mb)" \
    "$(get numeric_s "$peer")" "$(get time_ratio "$peer")" "$(get numeric_s "$own")" "$(get time_ratio "$own")"
done
