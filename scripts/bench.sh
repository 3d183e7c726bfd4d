#!/usr/bin/env bash
# Times whole runs of the Linux program over the simulated server with
# hyperfine and prints each figure's ratio to the floor (/bin/true) and to
# the same run without "/LOGFILE". Then runs the in-process benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --bench
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

data=build/bench/data
mkdir -p "$data/tmp"
python3 bench/make_server.py 10 >"$data/server-10.json"
python3 bench/make_server.py 500 >"$data/server-500.json"
python3 bench/make_server.py 10000 >"$data/server-10000.json"

program=$PWD/build/bench/quillmarsh
run() { echo "env TMPDIR=$PWD/$data/tmp QUILLMARSH_SERVER=$PWD/$data/server-$1.json ${*:2}"; }
loop() { echo "bash -c 'for i in \$(seq 100); do $(run 500 "$@") >/dev/null; done'"; }

commands=(
  "floor" "$(run 10 /bin/true)"
  "no arguments" "$(run 10 "$program")"
  "/NOTME" "$(run 10 "$program" /NOTME)"
  "/LISTALLSESSIONS, 10 sessions" "$(run 10 "$program" /LISTALLSESSIONS)"
  "/LISTALLSESSIONS, 500 sessions" "$(run 500 "$program" /LISTALLSESSIONS)"
  "/LISTALLSESSIONS, 10000 sessions" "$(run 10000 "$program" /LISTALLSESSIONS)"
  "/LOGFILE /LISTALLSESSIONS, 10 sessions" "$(run 10 "$program" /LOGFILE /LISTALLSESSIONS)"
  "/LOGFILE /LISTALLSESSIONS, 500 sessions" "$(run 500 "$program" /LOGFILE /LISTALLSESSIONS)"
  "/LOGFILE /LISTALLSESSIONS, 10000 sessions" "$(run 10000 "$program" /LOGFILE /LISTALLSESSIONS)"
  "100 x floor" "$(loop /bin/true)"
  "100 x /STATUS user7" "$(loop "$program" /STATUS user7)"
)
arguments=()
for ((i = 0; i < ${#commands[@]}; i += 2)); do
  arguments+=(--command-name "${commands[i]}" "${commands[i + 1]}")
done
hyperfine -N -i --style none --warmup 3 --min-runs 20 --export-json "$data/whole-run.json" \
  --output=null "${arguments[@]}" >/dev/null
python3 bench/whole_run_table.py "$data/whole-run.json"

echo
build/bench/quillmarsh_bench
