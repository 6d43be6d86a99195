# Sourced by the benchmark scripts: a scratch folder, removed on exit with
# the simulators whose pids are in sim_pid and sim_pids, the user's settings
# and port map out of reach of every host, start_sim and cpu_time.
work=$(mktemp -d)
sim_pid=""
sim_pids=()
cleanup() {
  for pid in $sim_pid "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config

# cpu_time FILE COMMAND...: runs COMMAND and writes its own user + system
# seconds to FILE (not those of other processes, such as the simulators).
cpu_time() {
  python3 -c 'import os, subprocess, sys
pid = subprocess.Popen(sys.argv[2:]).pid
_, status, usage = os.wait4(pid, 0)
open(sys.argv[1], "w").write("%f\n" % (usage.ru_utime + usage.ru_stime))
sys.exit(os.waitstatus_to_exitcode(status))' "$@"
}

# start_sim LOG ARGS...: a zentrel-sim of $bin with ARGS, its output in LOG;
# sets sim_pid (also killed on exit) and device, or ends the benchmark.
start_sim() {
  local log=$1
  shift
  : >"$log"  # not left to the job's redirection, which may come after the read below
  "$bin/zentrel-sim" "$@" >"$log" 2>&1 &
  sim_pid=$!
  sim_pids+=("$sim_pid")
  device=""
  for _ in $(seq 200); do
    device=$(awk '/^device /{print $2; exit}' "$log")
    [ -n "$device" ] && return
    sleep 0.02
  done
  echo "zentrel-sim printed no device:" >&2
  cat "$log" >&2
  exit 1
}
