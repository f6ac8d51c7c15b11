#!/usr/bin/env bash
# Sets up, builds and runs orva on a Debian or Ubuntu machine.
#
#   ./build.sh example    install what is missing, build, solve examples/steel.nl as AMPL would
#   ./build.sh test       install what is missing, build, run the tests
#   ./build.sh sanitize   the tests again in a build with AddressSanitizer and UBSan (build-asan/)
#   ./build.sh fuzz [S]   fuzz the MPS reader and the settings readers for S seconds each
#                         (default 300) with libFuzzer in a Clang build (build-fuzz/), then
#                         the AMPL path with damaged .nl files in the sanitizer build
#
# Missing Debian packages are installed with apt-get (through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make libamplsolver-dev libopenblas-serial-dev libsuitesparse-dev libmetis-dev libgtest-dev
          pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest python3-matplotlib)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
build() {  # folder, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
}

case "${1:-}" in
  example)
    build build -DCMAKE_BUILD_TYPE=Release
    cp examples/steel.nl build/steel.nl
    ./build/orva build/steel -AMPL outlev=2
    echo "build/steel.sol, as AMPL reads it back:"
    awk 'NF == 0 { exit } { print "  " $0 }' build/steel.sol
    ;;
  test)
    build build -DCMAKE_BUILD_TYPE=Release
    ctest --test-dir build --output-on-failure -j"$jobs"
    ;;
  sanitize)
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DORVA_SANITIZE=ON -DORVA_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure -j"$jobs"
    ;;
  fuzz)
    command -v clang++ >/dev/null || { echo "fuzz needs clang (apt-get install clang)" >&2; exit 2; }
    CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVA_FUZZ=ON \
      -DORVA_TESTS=OFF -DORVA_BENCH=OFF
    seconds=${2:-300}
    export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0:quarantine_size_mb=32
    # Each target runs in rounds of at most a minute on a growing corpus.
    for target in mps specs; do
      corpus=build-fuzz/corpus-$target
      mkdir -p "$corpus"
      # The MPS target also solves what it reads (ORVA_FUZZ_SOLVE), with the format's words.
      extra=() solve=()
      [ "$target" = mps ] && extra=(-dict=tests/fuzz/mps.dict) solve=(ORVA_FUZZ_SOLVE=1)
      end=$((SECONDS + seconds))
      while ((SECONDS < end)); do
        left=$((end - SECONDS)); ((left > 60)) && left=60
        env "${solve[@]}" build-fuzz/orva-fuzz-$target "${extra[@]}" -max_len=4096 -timeout=20 \
          -rss_limit_mb=4096 -max_total_time=$left -artifact_prefix=build-fuzz/ \
          "$corpus" tests/fuzz/seeds >build-fuzz/fuzz-$target.log 2>&1 || {
          echo "fuzz-$target found a fault: see build-fuzz/fuzz-$target.log and build-fuzz/crash-*"
          exit 1
        }
      done
      echo "fuzz-$target: no fault in $seconds s ($(ls "$corpus" | wc -l) inputs in the corpus)"
    done
    # The AMPL path: damaged .nl files solved by the sanitizer build (the public NLP set
    # next to the project joins the seeds when it is there).
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DORVA_SANITIZE=ON -DORVA_BENCH=OFF
    seeds=(tests/fuzz/seeds/*.nl examples/steel.nl)
    [ -d ../shared/data/nlp ] && seeds+=(../shared/data/nlp/*.nl)
    python3 tests/fuzz/fuzz_nl.py "$seconds" build-asan/orva build-fuzz/nl "${seeds[@]}" || {
      echo "fuzz-nl found a fault: see build-fuzz/nl/fault-*"
      exit 1
    }
    ;;
  *)
    sed -n '2,10p' "$0"
    exit 2
    ;;
esac
