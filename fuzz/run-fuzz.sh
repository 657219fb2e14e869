#!/usr/bin/env bash
# run-fuzz.sh FUZZER WORKDIR SECONDS SEED_DIR...
# Runs a libFuzzer target for a bounded time from the seeds; new inputs and any crash go to
# WORKDIR, never into the seed folders. Fails on a crash, a leak or a sanitizer report.
# Inputs may grow to 16 KiB, or to the largest seed, so that no seed is cut short.
set -eu
fuzzer=$1 work=$2 seconds=$3
shift 3
max_len=16384
for size in $(find "$@" -type f -printf '%s\n'); do
  if [ "$size" -gt "$max_len" ]; then max_len=$size; fi
done
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$@"
