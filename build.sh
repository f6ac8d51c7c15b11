#!/usr/bin/env bash
# Sets up, builds and runs orva on a Debian or Ubuntu machine.
#
#   ./build.sh example    install what is missing, build, solve examples/steel.nl as AMPL would
#   ./build.sh test       install what is missing, build, run the tests
#   ./build.sh sanitize   the tests again in a build with AddressSanitizer and UBSan (build-asan/)
#
# Missing Debian packages are installed with apt-get (through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make libamplsolver-dev libopenblas-serial-dev libgtest-dev)
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
  *)
    sed -n '2,8p' "$0"
    exit 2
    ;;
esac
