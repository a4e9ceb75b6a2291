#!/usr/bin/env bash
# Measures the CPU time the running program uses while idle between ticks.
#   bench/idle_cpu.sh [seconds] [build dir]
# Starts tessly headless in a fresh program directory, waits, and reads the
# process's user + system time from /proc.
set -euo pipefail
seconds=${1:-120}
build=${2:-build}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
TESSALY_HOME=$home XDG_CONFIG_HOME=$home/config "$build/tessly" --headless >/dev/null 2>&1 &
pid=$!
sleep 3 # start-up
read -r -a before < "/proc/$pid/stat"
sleep "$seconds"
read -r -a after < "/proc/$pid/stat"
kill "$pid"; wait "$pid" || true
tck=$(getconf CLK_TCK)
used=$(( (after[13] + after[14]) - (before[13] + before[14]) ))
echo "idle CPU over ${seconds}s: $(awk -v u="$used" -v t="$tck" 'BEGIN{printf "%.3f", u/t}') s"
