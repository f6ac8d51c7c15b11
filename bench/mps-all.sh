#!/bin/sh
# Solves every .mps/.qps problem of a folder with orva-mps (default settings) and compares
# the objective with the folder's MANIFEST.csv (name,rows,cols,nonzeros,optimal_objective,...).
#
#   bench/mps-all.sh [-t SECONDS] [--peer NAME] [--csv FILE] FOLDER [keyword=value ...]
#
# Prints one line per problem: name, status, iterations, objective, relative error
# |obj - opt| / max(1, |opt|), processor seconds and the check of the solution that
# postsolve restored (ok, FAILED when it is not within the solver's tolerances, - without
# presolve or at verbose below 2); then "solved K of N", where a problem
# counts as solved with "OPTIMAL SOLUTION FOUND" and a relative error of at most 1e-6;
# then "seconds total: T", the sum of the processor seconds of all problems that ended.
# Each run is limited to SECONDS of wall time (default 600; status TIMEOUT).
# --peer NAME also runs a peer of ../shared/peers on each problem (`peer NAME FILE`: hipo,
# piqp, ipx, simplex, osqp) and adds its status, objective, wall seconds and the ratio of
# the wall times orva-mps/peer.  --csv FILE writes problem,solver,status,objective,seconds
# (wall seconds of the whole process, reading included, for orva-mps and the peer alike;
# status "optimal" or the solver's own) for bench/profile.py.
# The program is build/orva-mps next to this script, or $ORVA_MPS; the peer script is
# ../shared/peers/peer next to the project, or $ORVA_PEER.
set -u

limit=600
peer=""
csvout=""
while [ $# -gt 0 ]; do
    case "$1" in
        -t) limit=$2; shift 2 ;;
        --peer) peer=$2; shift 2 ;;
        --csv) csvout=$2; shift 2 ;;
        *) break ;;
    esac
done
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [-t SECONDS] [--peer NAME] [--csv FILE] FOLDER [keyword=value ...]" >&2
    exit 2
fi
folder=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
prog=${ORVA_MPS:-$here/../build/orva-mps}
if [ ! -x "$prog" ]; then
    echo "$0: $prog not found (build it first)" >&2
    exit 2
fi
peerprog=${ORVA_PEER:-$here/../../shared/peers/peer}
if [ -n "$peer" ] && [ ! -x "$peerprog" ]; then
    echo "$0: $peerprog not found (set ORVA_PEER)" >&2
    exit 2
fi
manifest=$folder/MANIFEST.csv
out=$(mktemp)
trap 'rm -f "$out"' EXIT
trap 'exit 130' INT TERM
[ -n "$csvout" ] && echo "problem,solver,status,objective,seconds" >"$csvout"
now() { date +%s.%N; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.3f", a - b }'; }

printf '%-12s %-40s %5s %20s %9s %9s %6s' problem status iter objective rel_err seconds check
[ -n "$peer" ] && printf ' | %-14s %20s %8s %7s' "$peer" objective wall ratio
printf '\n'
total=0
solved=0
seconds=0
for file in "$folder"/*.mps "$folder"/*.qps; do
    [ -f "$file" ] || continue
    base=$(basename "$file")
    name=${base%.*}
    total=$((total + 1))
    t0=$(now)
    timeout "$limit" "$prog" "$file" "$@" >"$out" 2>&1
    rc=$?
    wall=$(since "$t0")
    if [ $rc -eq 124 ]; then
        status=TIMEOUT
    elif [ $rc -ne 0 ]; then
        status="EXIT $rc: $(grep -m1 'ERROR' "$out" || tail -n 1 "$out")"
    else
        # The result message is the line before "primal objective:".
        status=$(awk '/^primal objective:/ { print prev; exit } { prev = $0 }' "$out")
    fi
    iter=$(sed -n 's/^iterations: //p' "$out" | tail -n 1)
    obj=$(sed -n 's/^primal objective: //p' "$out" | tail -n 1)
    secs=$(sed -n 's/^seconds: //p' "$out" | tail -n 1)
    check=-
    if grep -q '^postsolve: .*(within the tolerances)' "$out"; then
        check=ok
    elif grep -q '^postsolve: ' "$out"; then
        check=FAILED
    fi
    opt=""
    [ -f "$manifest" ] && opt=$(awk -F, -v n="$name" '$1 == n { print $5; exit }' "$manifest")
    err=$(awk -v o="${obj:-}" -v p="${opt:-}" 'BEGIN {
        if (o == "" || p == "") { print "-"; exit }
        d = o - p; if (d < 0) d = -d; s = p < 0 ? -p : p; if (s < 1) s = 1
        printf "%.2e", d / s }')
    ok=$(awk -v e="$err" 'BEGIN { print (e != "-" && e + 0 <= 1e-6) ? 1 : 0 }')
    if [ "$status" = "OPTIMAL SOLUTION FOUND" ] && [ "$ok" = 1 ]; then
        solved=$((solved + 1))
    fi
    printf '%-12s %-40s %5s %20s %9s %9s %6s' "$name" "$status" "${iter:--}" "${obj:--}" "$err" "${secs:--}" \
        "$check"
    [ -n "$secs" ] && seconds=$(awk -v a="$seconds" -v b="$secs" 'BEGIN { printf "%.3f", a + b }')
    st=$status
    [ "$status" = "OPTIMAL SOLUTION FOUND" ] && st=optimal
    [ -n "$csvout" ] && printf '%s,orva-mps,%s,%s,%s\n' "$name" "$(echo "$st" | tr ',' ' ')" "${obj:-}" "$wall" >>"$csvout"
    if [ -n "$peer" ]; then
        timeout "$limit" "$peerprog" "$peer" "$file" >"$out" 2>&1
        prc=$?
        line=$(grep '^RESULT ' "$out" | tail -n 1)
        pst=$(echo "$line" | sed -n 's/.* status=\([^ ]*\).*/\1/p')
        pobj=$(echo "$line" | sed -n 's/.* obj=\([^ ]*\).*/\1/p')
        psecs=$(echo "$line" | sed -n 's/.* secs=\([^ ]*\).*/\1/p')
        [ $prc -eq 124 ] && pst=TIMEOUT psecs=""
        ratio=$(awk -v a="$wall" -v b="${psecs:-}" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "-" }')
        printf ' | %-14s %20s %8s %7s' "${pst:-none}" "${pobj:--}" "${psecs:--}" "$ratio"
        [ -n "$csvout" ] && printf '%s,%s,%s,%s,%s\n' "$name" "$peer" "${pst:-none}" "${pobj:-}" "${psecs:-}" >>"$csvout"
    fi
    printf '\n'
done
echo "solved $solved of $total"
echo "seconds total: $seconds"
