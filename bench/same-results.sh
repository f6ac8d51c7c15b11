#!/usr/bin/env bash
# Compares the results of two builds of orva, byte for byte, on every problem of a set of
# folders: the AMPL path (`orva STEM -AMPL`) on each .nl file and orva-mps (with a solution
# report) on each .mps and .qps file.
#
#   ORVA_REF=/path/to/ref/build bench/same-results.sh [options] [FOLDER...]
#
#   ORVA_REF   folder holding the reference build's `orva` and `orva-mps` (required)
#   ORVA_NEW   folder holding the candidate build's programs (default: build/ of this tree)
#   FOLDER     folders of problems, searched one level deep (default: ../shared/data, or
#              /work/shared/data)
#
# options:
#   -t SEC           time limit of each run in seconds (default 600)
#   --nl-opts "..."  keyword=value words after `STEM -AMPL` (default "outlev=2"; the AMPL
#                    path prints no log at its own default)
#   --mps-opts "..." keyword=value words after the file for orva-mps (default none)
#   --max-kb KB      skip problem files larger than KB kilobytes
#   --only REGEX     only problems whose file name matches the extended regular expression
#   --keep DIR       keep the outputs of the problems that differ in DIR
#   --fill           only run the reference (fill its cache), compare nothing
#
# Compared per problem: standard output, standard error, exit status and every file the
# run leaves in its own folder (the .sol file; the report of orva-mps; the iterate files
# of outlev 3 and above).  Timing figures are masked: the "seconds:" line of orva-mps, the
# seconds of its "presolve:" line and the timing report of the `timing` keyword.  The reference's outputs are kept in a cache
# keyed by the reference programs and the options (SAME_CACHE, default
# /tmp/orva-same-cache), so that a second candidate is compared without running the
# reference again.  A run that hits the time limit in either build counts as "timeout",
# not as the same.
#
# Per problem one line: "same", "DIFFER (what)" or "timeout"; last line:
#   same N of M; differ: NAME...; timeout: NAME...
# Exit status 0 when every problem is the same, 1 otherwise, 2 for bad usage.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

limit=600
nl_opts="outlev=2"
mps_opts=""
max_kb=0
only=""
keep=""
fill=0
while [ $# -gt 0 ]; do
  case "$1" in
    -t) limit=$2; shift 2 ;;
    --nl-opts) nl_opts=$2; shift 2 ;;
    --mps-opts) mps_opts=$2; shift 2 ;;
    --max-kb) max_kb=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --fill) fill=1; shift ;;
    -h|--help) sed -n '2,33p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done

ref=${ORVA_REF:-}
new=${ORVA_NEW:-$here/build}
[ -n "$ref" ] || { echo "set ORVA_REF to the reference build's folder" >&2; exit 2; }
for dir in "$ref" "$new"; do
  for prog in orva orva-mps; do
    [ -x "$dir/$prog" ] || { echo "no $dir/$prog" >&2; exit 2; }
  done
done
ref=$(cd "$ref" && pwd)
new=$(cd "$new" && pwd)

folders=("$@")
if [ ${#folders[@]} = 0 ]; then
  for d in "$here/../shared/data" /work/shared/data; do
    if [ -d "$d" ]; then folders=("$d"); break; fi
  done
  [ ${#folders[@]} -gt 0 ] || { echo "no data folder found: name one" >&2; exit 2; }
fi
for i in "${!folders[@]}"; do
  folders[$i]=$(cd "${folders[$i]}" && pwd) || exit 2
done

# The problems: .nl, .mps and .qps files in the folders and their subfolders.
mapfile -t problems < <(for f in "${folders[@]}"; do
  find "$f" -maxdepth 2 -type f \( -name '*.nl' -o -name '*.mps' -o -name '*.qps' \)
done | sort)
[ ${#problems[@]} -gt 0 ] || { echo "no problems found in ${folders[*]}" >&2; exit 2; }

# The reference outputs are cached under a key of the reference programs and the options.
key=$( { cat "$ref/orva" "$ref/orva-mps"; echo "$nl_opts|$mps_opts|$limit"; } | md5sum | cut -c1-16)
cache=${SAME_CACHE:-/tmp/orva-same-cache}/$key
mkdir -p "$cache"
work=$(mktemp -d /tmp/orva-same.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Masks the timing figures of a log.
mask() {
  sed -E -e 's/^seconds: .*/seconds: T/' \
         -e 's/^(Input|Solve|Output) = +.*/\1 = T/' \
         -e 's/s = [0-9.eE+-]+$/s = T/' \
         -e 's/^(Total nonlinear evaluation seconds = ).*/\1T/' \
         -e 's/^(presolve: .*) in [0-9.eE+-]+ seconds$/\1 in T seconds/' "$1"
}

# Runs one program on one problem in folder OUT (made empty first); leaves there out,
# err, rc and whatever files the run wrote.
run_one() {  # build-folder problem-file out-folder
  local bin=$1 file=$2 out=$3 base name rc
  rm -rf "$out"
  mkdir -p "$out/run"
  base=$(basename "$file")
  case "$base" in
    *.nl)
      name=${base%.nl}
      ln -s "$file" "$out/run/$base"
      # shellcheck disable=SC2086
      (cd "$out/run" && timeout "$limit" "$bin/orva" "$name" -AMPL $nl_opts \
        >"$out/out.raw" 2>"$out/err" </dev/null)
      rc=$?
      rm -f "$out/run/$base"
      ;;
    *)
      # shellcheck disable=SC2086
      (cd "$out/run" && timeout "$limit" "$bin/orva-mps" "$file" -o report $mps_opts \
        >"$out/out.raw" 2>"$out/err" </dev/null)
      rc=$?
      ;;
  esac
  echo "$rc" >"$out/rc"
  mask "$out/out.raw" >"$out/out"
  rm -f "$out/out.raw"
}

# What differs between two output folders ("" when nothing).
differences() {  # ref-folder new-folder
  local a=$1 b=$2 what=() f
  cmp -s "$a/rc" "$b/rc" || what+=("status $(cat "$a/rc")->$(cat "$b/rc")")
  cmp -s "$a/out" "$b/out" || what+=(log)
  cmp -s "$a/err" "$b/err" || what+=(stderr)
  for f in $( (ls "$a/run"; ls "$b/run") | sort -u); do
    cmp -s "$a/run/$f" "$b/run/$f" || what+=("$f")
  done
  echo "${what[*]}"
}

same=0
total=0
differ=()
timeouts=()
for file in "${problems[@]}"; do
  base=$(basename "$file")
  [ -n "$only" ] && ! [[ "$base" =~ $only ]] && continue
  if [ "$max_kb" -gt 0 ] && [ $(( $(stat -c %s "$file") / 1024 )) -gt "$max_kb" ]; then continue; fi
  set_name=$(basename "$(dirname "$file")")
  id="$set_name/$base"
  total=$((total + 1))
  refout="$cache/$set_name/$base"
  if [ ! -f "$refout/rc" ]; then
    run_one "$ref" "$file" "$work/ref" &&
      mkdir -p "$(dirname "$refout")" && rm -rf "$refout" && mv "$work/ref" "$refout"
  fi
  if [ $fill = 1 ]; then
    printf '%-34s status %s\n' "$id" "$(cat "$refout/rc")"
    continue
  fi
  run_one "$new" "$file" "$work/new"
  if [ "$(cat "$refout/rc")" = 124 ] || [ "$(cat "$work/new/rc")" = 124 ]; then
    verdict=timeout
    timeouts+=("$id")
  else
    what=$(differences "$refout" "$work/new")
    if [ -z "$what" ]; then
      verdict=same
      same=$((same + 1))
    else
      verdict="DIFFER ($what)"
      differ+=("$id")
      if [ -n "$keep" ]; then
        mkdir -p "$keep/$id"
        cp -r "$refout" "$keep/$id/ref"
        cp -r "$work/new" "$keep/$id/new"
      fi
    fi
  fi
  printf '%-34s %s\n' "$id" "$verdict"
done

[ $fill = 1 ] && { echo "reference outputs of $total problems in $cache"; exit 0; }
summary="same $same of $total"
[ ${#differ[@]} -gt 0 ] && summary+="; differ: ${differ[*]}"
[ ${#timeouts[@]} -gt 0 ] && summary+="; timeout: ${timeouts[*]}"
echo "$summary"
[ "$same" = "$total" ]
