#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time over the read-only seeds; fails on any finding.
# usage: run_fuzz.sh TARGET WORKDIR SECONDS MAX_LEN SEEDDIR...
set -euo pipefail
target=$1 work=$2 seconds=$3 max_len=$4
shift 4
# New inputs go to a corpus of the build's own; the checked-in seeds are only read.
mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
export TMPDIR="$work/tmp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$@"
