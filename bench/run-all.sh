#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every benchmark program RUNS times (default 3) and prints each summary
# line once, every figure in it given as the range over the runs
# ("lowest–highest"), so that what a busy machine does to the figures shows.
#   bench/run-all.sh [BUILD_FOLDER] [RUNS]
#   bench/run-all.sh --merge [BUILD_FOLDER]   the table again from the kept runs
# The programs come from BUILD_FOLDER (default build/); build them first:
#   ninja -C build $(ninja -C build -t targets | grep -o '^[a-z_]*bench[a-z_]*')
# Peers that only a benchmark needs are installed when missing and possible
# (CuteCom, mosquitto-clients); without them their rows are left out, said so.
set -u
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
merge_only=0
[ "${1:-}" = --merge ] && merge_only=1 && shift
build="${1:-$root/build}"
runs="${2:-3}"
out="$build/bench-runs" # each run's summaries, kept for a look afterwards
mkdir -p "$out"

# name|program and arguments, from the build folder
benches=(
    "console stream|bench/console/console_stream_bench --seconds 6 --rounds 3"
    "start-up|bench/startup/startup_bench --rounds 9"
    "png|bench/png/png_bench"
    "plot|bench/plot/bench_plot --benchmark_filter=Plot|Peer"
    "gauge|bench/gauge/bench_gauge"
    "answer log|bench/console/console_bench --benchmark_filter=Memo"
    "serial|bench/serial/serial_bench --benchmark_filter=SideBySide"
    "mqtt|bench/mqtt/mqtt_bench --rate 1000 --seconds 6 --rounds 3"
    "row blend|bench/raster/bench_raster --benchmark_filter=BlendLine"
)

# Google Benchmark's own table and banner are left out; the programs' summaries stay.
summary() {
    grep -v -E '^(Running |BM_|-+$|Benchmark|Run on|CPU Caches|  L[123] |Load Average|\*\*\*|[0-9]{4}-[0-9]{2}-[0-9]{2}|$)'
}

if [ "$merge_only" = 0 ]; then
rm -f "$out"/*
updated=0
for pkg in cutecom mosquitto-clients; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        sudo=""
        [ "$(id -u)" != 0 ] && sudo="sudo -n"
        [ "$updated" = 0 ] && $sudo apt-get update -qq </dev/null >/dev/null 2>&1 && updated=1
        if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "$pkg" </dev/null >/dev/null 2>&1; then
            echo "note: $pkg could not be installed; its rows are left out"
        fi
    fi
done

for r in $(seq 1 "$runs"); do
    for b in "${benches[@]}"; do
        name="${b%%|*}"
        cmd="${b#*|}"
        prog="${cmd%% *}"
        if [ ! -x "$build/$prog" ]; then
            echo "note: $build/$prog is not built; $name left out" >&2
            continue
        fi
        echo "run $r/$runs: $name" >&2
        # shellcheck disable=SC2086
        (cd "$root" && "$build"/$cmd 2>/dev/null) | summary >"$out/$name.$r"
    done
done
fi

# Every run prints the same lines in the same order: line n of each run is
# merged with line n of the others, each number becoming the range of its
# values over the runs (runs of spaces become one, as padding moves with the
# figures). A line that reads differently in some run is printed as it is.
for b in "${benches[@]}"; do
    name="${b%%|*}"
    ls "$out/$name".* >/dev/null 2>&1 || continue
    echo "== $name"
    awk '
        {
            gsub(/ +/, " ")
            line = $0; tpl = ""; n = 0
            while (match(line, /-?[0-9]+(\.[0-9]+)?/)) {
                tpl = tpl substr(line, 1, RSTART - 1) "#"
                text = substr(line, RSTART, RLENGTH); num = text + 0; n++
                if (FNR == NR || !((FNR, n) in lo)) { lo[FNR, n] = num; lot[FNR, n] = text; hi[FNR, n] = num; hit[FNR, n] = text }
                if (num < lo[FNR, n]) { lo[FNR, n] = num; lot[FNR, n] = text }
                if (num > hi[FNR, n]) { hi[FNR, n] = num; hit[FNR, n] = text }
                line = substr(line, RSTART + RLENGTH)
            }
            tpl = tpl line
            if (FNR == NR) { first[FNR] = tpl; lines = FNR }
            else if (first[FNR] != tpl) odd[FNR] = odd[FNR] "\n  (another run: " $0 ")"
        }
        END {
            for (i = 1; i <= lines; ++i) {
                rest = first[i]; res = ""; k = 0
                while ((p = index(rest, "#")) > 0) {
                    k++
                    r = (lot[i, k] == hit[i, k]) ? lot[i, k] : lot[i, k] "–" hit[i, k]
                    res = res substr(rest, 1, p - 1) r
                    rest = substr(rest, p + 1)
                }
                print res rest odd[i]
            }
        }' "$out/$name".*
done
