#!/usr/bin/env bash
# Installs the Debian packages cadport needs, only when some are missing.
#   scripts/install-deps.sh build   what building needs
#   scripts/install-deps.sh test    what building and running the tests needs
#   scripts/install-deps.sh bench   what the benchmarks need
#   scripts/install-deps.sh fuzz    what the fuzz targets need
set -euo pipefail

build_pkgs=(cmake ninja-build g++ make)
test_pkgs=("${build_pkgs[@]}" libgtest-dev libgmock-dev gdal-bin python3-ezdxf python3-pyshp shapelib tmux)
bench_pkgs=("${build_pkgs[@]}" libbenchmark-dev gdal-bin python3-ezdxf hyperfine time)
fuzz_pkgs=("${build_pkgs[@]}" clang libclang-rt-14-dev)

case "${1:-build}" in
  build) want=("${build_pkgs[@]}") ;;
  test)  want=("${test_pkgs[@]}") ;;
  bench) want=("${bench_pkgs[@]}") ;;
  fuzz)  want=("${fuzz_pkgs[@]}") ;;
  *) echo "usage: $0 [build|test|bench|fuzz]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
