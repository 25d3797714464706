#!/usr/bin/env bash
# Times the JPEG reader's 1/8 decode of a 12-megapixel picture (pictures_bench) and, on the same file in
# the same run, djpeg -scale 1/8 (Debian's libjpeg-turbo-progs), both with its defaults and with the
# reader's settings (fast integer DCT, no fancy upsampling).
#   bench/djpeg_compare.sh [BUILD_DIR] [RUNS]     defaults: build/bench, 10
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${2:-10}
if ! command -v djpeg >/dev/null; then
    echo "djpeg is missing: apt-get install libjpeg-turbo-progs" >&2
    exit 1
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPX_BENCH=ON -DPX_TESTS=OFF >/dev/null
cmake --build "$build" --target pictures_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PX_BENCH_JPEG=$work/12mp.jpg
"$build/bench/pictures_bench" --benchmark_filter=Decode12Megapixel --benchmark_min_time=2

time_djpeg() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
        djpeg "$@" -outfile /dev/null "$PX_BENCH_JPEG"
    done
    end=$(date +%s%N)
    echo "$(((end - start) / runs / 1000)) us"
}
echo "djpeg -scale 1/8 (mean of $runs):                    $(time_djpeg -scale 1/8)"
echo "djpeg -scale 1/8 -dct fast -nosmooth (mean of $runs): $(time_djpeg -scale 1/8 -dct fast -nosmooth)"
