#!/usr/bin/env bash
# ./build.sh        install what is missing, build, run the bundled example
# ./build.sh test   install what is missing, build a Release tree and a
#                   sanitizer tree, and run the whole test suite in both;
#                   then build the fuzz programs with clang and run each
#                   over its seeds and saved reproducers and a fixed number
#                   of mutated inputs (tests/fuzz/run.sh)
set -euo pipefail
cd "$(dirname "$0")"

install_missing() {
  local missing=()
  while read -r pkg; do
    [ -z "$pkg" ] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done < .ci/packages
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}

build_tree() {  # dir, extra cmake arguments
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

install_missing
case "${1:-example}" in
  example)
    build_tree build/release -DCMAKE_BUILD_TYPE=Release
    # The job fills a copy: the committed template stays as it is.
    mkdir -p build/example
    cp examples/template.xlsx build/example/orders.xlsx
    # -d ,: the CSV file's own delimiter, not the locale's list separator.
    (cd examples && ../build/release/korva -x ../build/example/orders.xlsx -c orders.csv -d , \
      -p "November 2026" -p 1003 fill_orders.rops)
    echo "Filled workbook: $(pwd)/build/example/orders.xlsx"
    ;;
  test)
    build_tree build/release -DCMAKE_BUILD_TYPE=Release
    (cd build/release && ctest --output-on-failure -j"$(nproc)")
    build_tree build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKORVA_SANITIZE=ON
    (cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$(nproc)")
    # Unoptimised: the libraries build in a third of the time, and the
    # stage's few thousand inputs do not need the speed.
    cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DKORVA_FUZZ=ON -DBUILD_TESTING=OFF \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only >/dev/null
    cmake --build build/fuzz -j"$(nproc)" --target fuzzers
    tests/fuzz/run.sh build/fuzz
    ;;
  *)
    echo "usage: ./build.sh [example|test]" >&2
    exit 2
    ;;
esac
