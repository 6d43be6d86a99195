# Sourced by the benchmark scripts: a scratch folder, removed on exit with
# the simulator whose pid is in sim_pid, and the user's settings and port
# map out of reach of every host.
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
