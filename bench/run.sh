#!/usr/bin/env bash
# Builds the program and the benchmarks (Release) and measures, in one run:
#  - start-up to the main window mapped, RSS and PSS one second later, CPU over an idle spell and
#    (for comtest) while the receive test polls a pseudo-terminal, beside a bare Qt window of the
#    same size and any installed cutecom or gtkterm, interleaved, under Xvfb;
#  - the receive test's tick period and the longest handler, inside the program on offscreen;
#  - --stress's verified bytes per second of its own CPU time, beside a plain copy.
#
# Usage: bench/run.sh [BUILD_DIR]    (default: build-bench in the source tree)
# Environment: BENCH_RUNS (7), BENCH_BATCHES (3), BENCH_IDLE_S (10), BENCH_RECEIVE_S (10).
# Needs: cmake, g++, qt6-base-dev (which brings the libxcb headers), xvfb, xauth, xdotool.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build-bench}
runs=${BENCH_RUNS:-7}
batches=${BENCH_BATCHES:-3}
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi

for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is missing (apt-get install xvfb xauth xdotool)" >&2; exit 2; }
done

cmake -S "$source_dir" -B "$build_dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DCOMTEST_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target comtest comtest_floor comtest_startbench comtest_loopbench comtest_scalebench comtest_stressbench

echo "== machine"
echo "$(nproc) CPUs: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "kernel $(uname -r), $(. /etc/os-release && echo "$PRETTY_NAME"), Qt $(dpkg-query -W -f '${Version}' libqt6core6 2>/dev/null || echo '?')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

candidates=(
    --candidate comtest "COM Test" "$build_dir/comtest --port COM1={pty}"
    --candidate floor "Toolkit Floor" "$build_dir/bench/comtest_floor --size {size}"
)
# From the window's first focus, four Tabs reach "RX Start" (the tool bar and menus take none).
receive_keys=(--receive-keys comtest "Tab Tab Tab Tab space")
if command -v cutecom >/dev/null; then candidates+=(--candidate cutecom "CuteCom" "cutecom"); fi
if command -v gtkterm >/dev/null; then candidates+=(--candidate gtkterm "GTKTerm" "gtkterm --port {pty}"); fi

echo "== start-up, memory and CPU (under Xvfb)"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$build_dir/bench/comtest_startbench" --runs "$runs" --batches "$batches" \
    --idle "${BENCH_IDLE_S:-10}" --receive "${BENCH_RECEIVE_S:-10}" "${candidates[@]}" "${receive_keys[@]}"

echo
echo "== receive-test ticks and event-loop stalls (in process, offscreen, pty at 115200 baud)"
# Qt's notes about the offscreen platform are not results.
"$build_dir/bench/comtest_loopbench" --runs "$batches" --ticks 41 --exchanges 20 \
    2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
echo
echo "== --stress on a pty pair at 3,000,000 baud (far end in another process), beside a plain copy"
"$build_dir/bench/comtest_stressbench" "$build_dir/comtest" "${BENCH_STRESS_S:-5}"
echo
echo "== costs as the process count grows (idle processes of 20 descriptors each), beside fuser"
"$build_dir/bench/comtest_scalebench" "$build_dir/comtest" "${BENCH_PROCESSES:-3000}"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
