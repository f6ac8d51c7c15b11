#!/usr/bin/env bash
# The largest problems against the best peers: whole-process times of orva and a peer, one
# after the other per problem.
#
#   bench/peer-table.sh [-n K] [--pool P] [-t SEC] [-r R] [--nl-opts "WORDS"] [--ref DIR]
#                       [--ref-opts "WORDS"] [FOLDER...]
#
# FOLDER (default ../shared/data/lp and ../shared/data/qp) holds .mps/.qps files; the K
# problems (default 10) with the largest peer time among the P largest files (default 20)
# are timed with
#   - orva-mps FILE (its defaults),
#   - orva STEM wantsol=1 WORDS (writing the .sol file as with -AMPL) on the same problem's
#     .nl file in FOLDER-nl (lp-nl, qp-nl), WORDS being the recommended keywords (default
#     "autoord lessfill lsqrows pred_corr=3 convex"),
#   - the peer: ../shared/peers/peer hipo FILE.mps (HiGHS interior point) for LPs,
#     peer piqp FILE.qps (PIQP) for QPs.
# Each line gives status, iterations, wall seconds and processor seconds (user + system)
# of every run and the ratios orva/peer of both; then the geometric means of the ratios.
# The load of the machine (uptime) is printed before and after: wall times taken under a
# load above the number of processors are distorted, processor seconds less so.  Without
# the peer the ranking is by file size and no ratios are printed.  -t SEC limits each run
# (default 600).  Programs: build/orva and build/orva-mps, or $ORVA and $ORVA_MPS.  --ref DIR
# also times the orva and orva-mps of another build folder (an earlier version) in the same
# pass, for a before/after table; its AMPL runs take --ref-opts (default none).  -r R runs
# every program R times in a row and keeps the least wall and the least processor time
# (default 1; the ranking by peer time always takes one run).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=10 pool=20 limit=600 nlopts="autoord lessfill lsqrows pred_corr=3 convex" ref="" refopts="" reps=1
folders=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) count=$2; shift 2 ;;
    --pool) pool=$2; shift 2 ;;
    -t) limit=$2; shift 2 ;;
    --nl-opts) nlopts=$2; shift 2 ;;
    --ref) ref=$2; shift 2 ;;
    --ref-opts) refopts=$2; shift 2 ;;
    -r) reps=$2; shift 2 ;;
    -*) sed -n '2,25p' "$0" >&2; exit 2 ;;
    *) folders+=("$1"); shift ;;
  esac
done
[ ${#folders[@]} -gt 0 ] || folders=("$here/../shared/data/lp" "$here/../shared/data/qp")
orva=${ORVA:-$here/build/orva}
mps=${ORVA_MPS:-$here/build/orva-mps}
peer=$here/../shared/peers/peer
for p in "$orva" "$mps"; do [ -x "$p" ] || { echo "no $p: build first" >&2; exit 2; }; done
have_peer=1
[ -x "$peer" ] && [ -d "$(dirname "$peer")/bin" ] || have_peer=0
work=$(mktemp -d /tmp/orva-peer-table.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# timed OUT CMD...: runs CMD with the time limit ($runs times, default 1); OUT gets the
# output of the last run, OUT.time "wall cpu", the least of each over the runs.
timed() {
  local out=$1; shift
  local rc=0 k
  : >"$out.all"
  for ((k = 0; k < ${runs:-1}; ++k)); do
    /usr/bin/time -f '%e %U %S' -o "$out.t" timeout "$limit" "$@" >"$out" 2>&1
    rc=$?
    cat "$out.t" >>"$out.all" 2>/dev/null
    [ $rc -eq 124 ] && break
  done
  awk 'NF == 3 && $1 ~ /^[0-9.]+$/ { c = $2 + $3; if (!n++ || $1 < w) w = $1; if (n == 1 || c < m) m = c }
       END { if (n) printf "%.2f %.2f\n", w, m; else print "- -" }' "$out.all" >"$out.time"
  return $rc
}

# Peer run of FILE: prints "status wall cpu".
run_peer() {
  local file=$1 solver=hipo
  case "$file" in *.qps) solver=piqp ;; esac
  runs=${2:-1} timed "$work/peer" "$peer" "$solver" "$file"
  local st
  st=$(sed -n 's/^RESULT .* status=\([^ ]*\).*/\1/p' "$work/peer" | tail -n 1)
  echo "${st:-failed} $(cat "$work/peer.time")"
}

# orva-mps on FILE: "status iterations wall cpu" (PROGRAM as a second argument).
run_mps() {
  runs=$reps timed "$work/mps" "${2:-$mps}" "$1" verbose=1
  local rc=$? st it
  st=$(awk '/^primal objective:/ { print prev; exit } { prev = $0 }' "$work/mps" | tr ' ' '_')
  [ $rc -eq 124 ] && st=TIMEOUT
  it=$(sed -n 's/^iterations: //p' "$work/mps" | tail -n 1)
  echo "${st:-failed} ${it:--} $(cat "$work/mps.time")"
}

# orva STEM wantsol=1 WORDS on the .nl file: "status iterations wall cpu" (PROGRAM and
# WORDS as further arguments).
run_ampl() {
  local nl=$1 prog=${2:-$orva} words=${3-$nlopts}
  [ -f "$nl" ] || { echo "- - - -"; return; }
  cp "$nl" "$work/p.nl"
  runs=$reps timed "$work/ampl" "$prog" "$work/p" wantsol=1 outlev=1 $words
  local rc=$? st it
  st=$(grep -m1 -o 'optimal solution\|infeasible[a-z ]*\|unbounded[a-z ]*\|iteration limit\|time limit\|cannot be improved\|suboptimal[a-z ]*' "$work/ampl" | head -n 1 | tr ' ' '_')
  [ $rc -eq 124 ] && st=TIMEOUT
  it=$(sed -n 's/.*(\([0-9]*\) \(QP \)\{0,1\}iterations.*/\1/p' "$work/ampl" | tail -n 1)
  echo "${st:-failed} ${it:--} $(cat "$work/ampl.time")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b <= 0) print "-"; else printf "%.2f", a / b }'; }

echo "load before: $(uptime | sed 's/.*load average: //')"
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || { echo "no folder $folder" >&2; continue; }
  nlfolder=${folder%/}-nl
  files=$(ls -S "$folder"/*.mps "$folder"/*.qps 2>/dev/null | head -n "$pool")
  : >"$work/rank"
  for f in $files; do
    if [ $have_peer = 1 ]; then
      r=$(run_peer "$f")
      echo "$(echo "$r" | awk '{ print $2 }') $f $r" >>"$work/rank"
    else
      echo "$(stat -c %s "$f") $f - - -" >>"$work/rank"
    fi
  done
  echo
  echo "$(basename "$folder"): the $count problems with the largest $([ $have_peer = 1 ] && echo "peer time" || echo "files (no peer installed)")"
  printf '%-10s | %-22s %6s %6s | %-22s %4s %6s %6s %5s %5s | %-18s %4s %6s %6s %5s %5s' problem \
    peer wall cpu orva-mps it wall cpu r_wall r_cpu "ampl ($nlopts)" it wall cpu r_wall r_cpu
  [ -n "$ref" ] && printf ' | %-22s %4s %6s %6s %5s %5s | %-18s %4s %6s %6s %5s %5s' "ref orva-mps" it wall cpu \
    r_wall r_cpu "ref ampl ($refopts)" it wall cpu r_wall r_cpu
  echo
  sort -k1,1 -g -r "$work/rank" | head -n "$count" | while read -r _ f pst pwall pcpu; do
    name=$(basename "${f%.*}")
    [ "$reps" -gt 1 ] && [ $have_peer = 1 ] && read -r pst pwall pcpu <<<"$(run_peer "$f" "$reps")"
    read -r mst mit mwall mcpu <<<"$(run_mps "$f")"
    read -r ast ait awall acpu <<<"$(run_ampl "$nlfolder/$name.nl")"
    printf '%-10s | %-22s %6s %6s | %-22s %4s %6s %6s %5s %5s | %-18s %4s %6s %6s %5s %5s' "$name" \
      "$pst" "$pwall" "$pcpu" "$mst" "$mit" "$mwall" "$mcpu" "$(ratio "$mwall" "$pwall")" \
      "$(ratio "$mcpu" "$pcpu")" "$ast" "$ait" "$awall" "$acpu" "$(ratio "$awall" "$pwall")" \
      "$(ratio "$acpu" "$pcpu")"
    if [ -n "$ref" ]; then
      read -r rst rit rwall rcpu <<<"$(run_mps "$f" "$ref/orva-mps")"
      read -r bst bit bwall bcpu <<<"$(run_ampl "$nlfolder/$name.nl" "$ref/orva" "$refopts")"
      printf ' | %-22s %4s %6s %6s %5s %5s | %-18s %4s %6s %6s %5s %5s' "$rst" "$rit" "$rwall" "$rcpu" \
        "$(ratio "$rwall" "$pwall")" "$(ratio "$rcpu" "$pcpu")" "$bst" "$bit" "$bwall" "$bcpu" \
        "$(ratio "$bwall" "$pwall")" "$(ratio "$bcpu" "$pcpu")"
    fi
    echo
  done | tee "$work/table"
  # Geometric means of the ratio columns (the last two numbers of each run's field), over
  # the problems where both ran.
  awk -F'|' '{ for (c = 3; c <= NF; ++c) { n = split($c, a, " "); for (k = n - 1; k <= n; ++k)
                 if (a[k] != "-" && a[k] + 0 > 0) { s[c, k - n + 1] += log(a[k]); cnt[c, k - n + 1]++ } }
               if (NF > nf) nf = NF }
       function g(c, k) { return cnt[c, k] ? sprintf("%.2f", exp(s[c, k] / cnt[c, k])) : "-" }
       END { split("orva-mps ampl ref-orva-mps ref-ampl", name, " ")
             printf "geometric mean of orva/peer (wall, cpu):"
             for (c = 3; c <= nf; ++c) printf " %s %s %s;", name[c - 2], g(c, 0), g(c, 1)
             printf "\n" }' "$work/table"
done
echo "load after: $(uptime | sed 's/.*load average: //')"
