#!/usr/bin/env bash
# Builds the project on a Debian machine, installing the packages it needs when they are missing.
#   ./build.sh test              build and run every test
#   ./build.sh build             build every test and benchmark without running them
#                                (VORLAN_ZITA=OFF ./build.sh build: as a machine without the optional packages)
#   ./build.sh bench             build and run the benchmarks (installs libzita-convolver-dev for the
#                                report-only comparisons of three of them)
#   ./build.sh test-sanitized    build and run every test under AddressSanitizer + UBSan
#   ./build.sh test-thread       build and run every test under ThreadSanitizer
#   ./build.sh coverage          build with GCC --coverage, run every test, print line coverage per folder
#                                (installs lcov)
#   ./build.sh stats             print test lines against production lines, per folder and in all
#   ./build.sh test-host         build and load the plug-ins into a real host (installs Debian's ardour)
#   ./build.sh run [OPTIONS]     build the plug-in and render the demo input through it with vorlan3-render
#                                (build/vst/demo/input.wav into build/demo-output.wav; OPTIONS go to it)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev libpng-dev libcairo2-dev libxcb1-dev
          libxcb-xtest0-dev xvfb sox python3)
[ "${1:-test}" = bench ] && [ "${VORLAN_ZITA:-ON}" != OFF ] && packages+=(libzita-convolver-dev)
[ "${1:-test}" = coverage ] && packages+=(lcov)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

jobs=${JOBS:-$(nproc)}
configure() { # build-folder, extra cmake arguments
  local dir=$1; shift
  # Optional packages are used when installed unless switched off (VORLAN_ZITA=OFF ./build.sh …); the
  # switch is passed each time so that a folder configured without them does not keep that silently.
  cmake -S . -B "$dir" -DVORLAN_WERROR=ON -DVORLAN_ZITA="${VORLAN_ZITA:-ON}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
runtests() {
  ctest --test-dir "$1" -j "$jobs" --output-on-failure --timeout 600
}

case "${1:-test}" in
  test)
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    runtests build ;;
  build)
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
  test-sanitized)
    configure build-asan -DCMAKE_BUILD_TYPE=Debug -DVORLAN_SANITIZE=address -DVORLAN_BENCH=OFF
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 runtests build-asan ;;
  test-thread)
    configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAN_SANITIZE=thread -DVORLAN_BENCH=OFF
    TSAN_OPTIONS=halt_on_error=1 runtests build-tsan ;;
  bench)
    configure build -DCMAKE_BUILD_TYPE=Release
    for b in build/bench/*_bench; do [ -x "$b" ] && "$b"; done ;;
  coverage)
    configure build-cov -DCMAKE_BUILD_TYPE=Debug -DVORLAN_COVERAGE=ON -DVORLAN_BENCH=OFF
    find build-cov -name '*.gcda' -delete
    runtests build-cov
    lcov --quiet --capture --directory build-cov --output-file build-cov/all.info 2>&1 | grep -v "redefined at" || true
    lcov --quiet --extract build-cov/all.info "$PWD/*" --output-file build-cov/project.info
    lcov --quiet --remove build-cov/project.info "$PWD/tests/*" "$PWD/bench/*" "$PWD/build-cov/*" \
      --output-file build-cov/production.info
    for folder in $(git ls-files | cut -d/ -f1 | sort -u) all; do
      case $folder in tests|bench|cmake|.ci) continue ;; esac
      if [ "$folder" = all ]; then info=build-cov/production.info
      else
        [ -d "$folder" ] || continue
        info=build-cov/$folder.info
        lcov --quiet --extract build-cov/production.info "$PWD/$folder/*" --output-file "$info" 2>/dev/null || continue
      fi
      lcov --summary "$info" 2>&1 | awk -v f="$folder" '/lines\.\.\./ { printf "%-12s %s %s\n", f, $2, substr($0, index($0, "(")) }'
    done ;;
  test-host)
    if ! dpkg-query -W -f='${Status}' ardour 2>/dev/null | grep -q 'install ok installed'; then
      $sudo apt-get update -qq
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ardour
    fi
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    # Here a missing host fails instead of skipping.
    ARDOUR_SMOKE_REQUIRED=1 ctest --test-dir build -R '^ArdourSmoke[.]' --no-tests=error --output-on-failure --timeout 600 ;;
  run)
    shift
    cmake -S . -B build -DVORLAN_WERROR=ON -DVORLAN_ZITA="${VORLAN_ZITA:-ON}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$jobs" --target vorlan3 vorlan3-render demo_folder
    build/tools/vorlan3-render "$@" build/vst/demo/input.wav build/demo-output.wav ;;
  stats)
    count() { xargs -r cat 2>/dev/null | grep -cvE '^\s*(//.*)?$' || true; }
    code=0; tests=0
    for folder in $(git ls-files | grep -E '\.(h|hpp|cpp|cc|c)$' | cut -d/ -f1 | sort -u); do
      case $folder in tests|bench) continue ;; esac
      [ -d "$folder" ] || continue
      c=$(git ls-files "$folder" | grep -E '\.(h|hpp|cpp|cc|c)$' | count)
      t=$(git ls-files "tests/$folder" | grep -E '\.(h|hpp|cpp|cc|c)$' | count)
      printf '%-12s code %6d  tests %6d  ratio %.2f\n' "$folder" "$c" "$t" "$(awk -v t="$t" -v c="$c" 'BEGIN{print (c ? t / c : 0)}')"
      code=$((code + c))
    done
    tests=$(git ls-files tests | grep -E '\.(h|hpp|cpp|cc|c)$' | count)
    printf '%-12s code %6d  tests %6d  ratio %.2f (tests/ in all, shared helpers included)\n' all "$code" "$tests" "$(awk -v t="$tests" -v c="$code" 'BEGIN{print t / c}')" ;;
  *)
    echo "usage: $0 [test|build|test-sanitized|test-thread|bench|coverage|stats|test-host|run [OPTIONS]]" >&2; exit 2 ;;
esac
