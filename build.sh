#!/usr/bin/env bash
# Builds the project on a Debian machine, installing the packages it needs when they are missing.
#   ./build.sh test              build and run every test
#   ./build.sh bench             build and run the benchmarks
#   ./build.sh test-sanitized    build and run every test under AddressSanitizer + UBSan
#   ./build.sh test-thread       build and run every test under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev libpng-dev sox python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
configure() { # build-folder, extra cmake arguments
  local dir=$1; shift
  cmake -S . -B "$dir" -DVORLAN_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
runtests() {
  ctest --test-dir "$1" -j "$jobs" --output-on-failure --timeout 600
}

case "${1:-test}" in
  test)
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    runtests build ;;
  test-sanitized)
    configure build-asan -DCMAKE_BUILD_TYPE=Debug -DVORLAN_SANITIZE=address -DVORLAN_BENCH=OFF
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 runtests build-asan ;;
  test-thread)
    configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAN_SANITIZE=thread -DVORLAN_BENCH=OFF
    TSAN_OPTIONS=halt_on_error=1 runtests build-tsan ;;
  bench)
    configure build -DCMAKE_BUILD_TYPE=Release
    for b in build/bench/*_bench; do [ -x "$b" ] && "$b"; done ;;
  *)
    echo "usage: $0 [test|test-sanitized|test-thread|bench]" >&2; exit 2 ;;
esac
