#!/bin/bash
# The check engine's figures side by side, in one run:
#   bench/engine-farm.sh [BUILD_DIR]
# Loopback only: the farms listen on 127.x.y.z; nothing leaves the machine.
set -u
build=${1:-build}
bench="$build/bench/EngineFarmBench"
[ -x "$bench" ] || { echo "build the EngineFarmBench target first" >&2; exit 1; }
echo "# $(date -u '+%F %T') UTC, $(nproc) cores; load: $(uptime | sed 's/.*load average: //')"
# Wall time against the floor N x 0.2 s / C, CPU per proxy, memory per check in flight;
# beside each, bare libcurl loops and plain sockets over the same farm: what libcurl's
# transfer costs, and what the machine and the farm allow at all.
for size in "2000 100" "10000 1000" "100000 5000"; do
  # shellcheck disable=SC2086
  "$bench" engine $size
  # shellcheck disable=SC2086
  "$bench" curl $size
  # shellcheck disable=SC2086
  "$bench" floor $size
done
# 30% refusing, 10% never answering; 1 s connect and reply time-outs; 1,000 at once.
"$bench" engine 10000 1000 30 10 1000 1000
"$bench" aiohttp 10000 1000 30 10 1000 1000
# The same farm without failures, for the peer's own pace.
"$bench" aiohttp 10000 1000 0 0 5000 10000
# A silent proxy with a reply time-out of 3 s and of 0.3 s.
"$bench" timeout 3000
"$bench" timeout 300
echo "# load after: $(uptime | sed 's/.*load average: //')"
