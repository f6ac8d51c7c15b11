#!/usr/bin/env bash
# Runs orva (STUB -AMPL, default options) on every .nl problem of a folder and compares the
# result with the folder's MANIFEST.csv; with the Ipopt peer built (build/peers/ipopt_asl, see
# ../shared/peers) it runs the peer on the same problems in the same run.
#
#   bench/nl-all.sh [--timeout SEC] [--max-kb KB] [--no-peer] [--min-solved K] [--csv FILE] FOLDER
#
# Per problem: orva's result message, iterations, objective, relative error against the
# published optimum (relative to max(1,|optimum|)), seconds; then the peer's status,
# iterations, seconds and the time ratio orva/peer.  Last line: "solved K of N" (solved =
# "optimal solution" and a relative error of at most 1e-6; problems without a published
# optimum count as solved on "optimal solution").  --min-solved K makes the script fail
# when fewer than K are solved (for CI).  --csv FILE writes problem,solver,status,objective,
# seconds rows for orva and the peer (wall seconds of the whole process; status "optimal" for
# orva's "optimal solution" and Ipopt's Solve_Succeeded, else the solver's own) for
# bench/profile.py.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
timeout_s=${NL_TIMEOUT:-600}
max_kb=0
peer=1
min_solved=-1
csvout=""
while [ $# -gt 1 ]; do
  case "$1" in
    --timeout) timeout_s=$2; shift 2 ;;
    --max-kb) max_kb=$2; shift 2 ;;
    --no-peer) peer=0; shift ;;
    --min-solved) min_solved=$2; shift 2 ;;
    --csv) csvout=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
folder=${1:?usage: bench/nl-all.sh [options] FOLDER}
orva=${ORVA:-$here/build/orva}
ipopt=${IPOPT_ASL:-$here/build/peers/ipopt_asl}
[ -x "$orva" ] || { echo "no $orva: build first" >&2; exit 2; }
[ -x "$ipopt" ] || peer=0
manifest="$folder/MANIFEST.csv"
work=$(mktemp -d /tmp/orva-nl-all.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Published optimum of a problem from the manifest (column optimal_objective or expected_optimum).
optimum() {
  [ -f "$manifest" ] || return 0
  awk -F, -v name="$1" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == "optimal_objective" || $i == "expected_optimum") col = i; next }
    $1 == name && col { print $col; exit }' "$manifest"
}

now() { date +%s.%N; }

printf '%-16s %-34s %6s %22s %9s %8s' problem result iters objective relerr secs
[ $peer = 1 ] && printf ' | %-22s %6s %8s %7s' peer_status iters secs ratio
printf '\n'

solved=0; total=0
[ -n "$csvout" ] && echo "problem,solver,status,objective,seconds" > "$csvout"
# A CSV field: "optimal" for a solved run, else the status without commas.
csvstatus() { case "$1" in "optimal solution"|Solve_Succeeded) echo optimal ;; *) printf '%s\n' "${1:-none}" | tr ',' ' ' ;; esac; }
for nl in "$folder"/*.nl; do
  [ -e "$nl" ] || continue
  name=$(basename "$nl" .nl)
  if [ "$max_kb" -gt 0 ] && [ $(( $(stat -c %s "$nl") / 1024 )) -gt "$max_kb" ]; then continue; fi
  total=$((total + 1))
  ln -sf "$(cd "$(dirname "$nl")" && pwd)/$name.nl" "$work/$name.nl"
  rm -f "$work/$name.sol"
  t0=$(now)
  out=$(cd "$work" && timeout "$timeout_s" "$orva" "$name" -AMPL 2>&1); rc=$?
  secs=$(awk -v a="$(now)" -v b="$t0" 'BEGIN { printf "%.3f", a - b }')
  # Under -AMPL the ASL leaves the message to AMPL: it heads the .sol file (up to a blank line;
  # in the binary form of the file, non-printing record marks end it).
  sol="$work/$name.sol"
  msg=""
  [ -f "$sol" ] && msg=$(tr -c '\11\12\15\40-\176' '\n' < "$sol" | awk '/ORVA 7.03: / { seen = 1 } seen && NF == 0 { exit } seen { print }' | tr '\n' '\v' | sed 's/.*ORVA 7.03: //' | tr '\v' '\n')
  if [ $rc = 124 ]; then result="TIMEOUT"; elif [ -z "$msg" ]; then result="CRASH/ERROR(rc=$rc)"; else result=$(printf '%s\n' "$msg" | head -1); result=${result%% (*}; fi
  iters=$(printf '%s\n' "$msg" | head -1 | sed -n 's/.*(\([0-9]*\) \(QP \)\{0,1\}iterations.*/\1/p')
  obj=$(printf '%s\n' "$msg" | sed -n 's/^primal objective //p' | head -1)
  opt=$(optimum "$name")
  relerr=""
  if [ -n "$obj" ] && [ -n "$opt" ]; then
    relerr=$(awk -v a="$obj" -v b="$opt" 'BEGIN { d = a - b; if (d < 0) d = -d; s = b < 0 ? -b : b; if (s < 1) s = 1; printf "%.1e", d / s }')
  fi
  ok=0
  if [ "$result" = "optimal solution" ]; then
    if [ -z "$opt" ]; then ok=1
    elif [ -n "$relerr" ] && awk -v r="$relerr" 'BEGIN { exit !(r <= 1e-6) }'; then ok=1; fi
  fi
  solved=$((solved + ok))
  printf '%-16s %-34.34s %6s %22s %9s %8.2f' "$name" "$result" "${iters:--}" "${obj:--}" "${relerr:--}" "$secs"
  [ -n "$csvout" ] && echo "$name,orva,$(csvstatus "$result"),${obj:-},$secs" >> "$csvout"
  if [ $peer = 1 ]; then
    t0=$(now)
    pout=$(cd "$work" && timeout "$timeout_s" "$ipopt" "$name" -AMPL 2>&1)
    psecs=$(awk -v a="$(now)" -v b="$t0" 'BEGIN { printf "%.3f", a - b }')
    pstatus=$(printf '%s\n' "$pout" | sed -n 's/^RESULT status=\([^ ]*\).*/\1/p')
    pobj=$(printf '%s\n' "$pout" | sed -n 's/^RESULT .*obj=\([^ ]*\).*/\1/p')
    piters=$(printf '%s\n' "$pout" | sed -n 's/^RESULT .*iters=\([0-9]*\).*/\1/p')
    ratio=$(awk -v a="$secs" -v b="$psecs" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
    printf ' | %-22s %6s %8.2f %7s' "${pstatus:-none}" "${piters:--}" "$psecs" "$ratio"
    [ -n "$csvout" ] && echo "$name,ipopt,$(csvstatus "$pstatus"),${pobj:-},$psecs" >> "$csvout"
  fi
  printf '\n'
  rm -f "$work/$name.sol" "$work/$name.nl"
done
echo "solved $solved of $total"
if [ "$min_solved" -ge 0 ] && [ "$solved" -lt "$min_solved" ]; then exit 1; fi
exit 0
