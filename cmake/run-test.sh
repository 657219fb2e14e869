#!/usr/bin/env bash
# run-test.sh WORKDIR [NAME=VALUE...] -- COMMAND...
# Runs one test with private folders of its own under WORKDIR.
set -eu
work=$1; shift
rm -rf "$work"
mkdir -p -m 700 "$work" "$work/runtime" "$work/tmp" "$work/state" "$work/home"
# umockdev puts its emulated nodes' unix sockets under TMPDIR, and a socket path holds at most
# 107 bytes: from a deep checkout the temporary folder moves to a short private one of its own.
tmp="$work/tmp"
short=""
if [ ${#tmp} -gt 40 ]; then
  short=$(mktemp -d /tmp/aft-test.XXXXXX)
  tmp=$short
fi
envs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do envs+=("$1"); shift; done
shift
cd "$work"
# Sanitizer defaults come first so that whatever the caller set still wins. umockdev-wrapper
# preloads its library ahead of the ASan runtime, hence no link order check.
status=0
env QTEST_DISABLE_STACK_DUMP=1 QT_QPA_PLATFORM=offscreen \
  XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$tmp" XDG_STATE_HOME="$work/state" \
  HOME="$work/home" \
  ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
  UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
  "${envs[@]}" "$@" || status=$?
[ -z "$short" ] || rm -rf "$short"
exit $status
