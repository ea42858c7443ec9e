# Shared by start-cdn, start-faults and stop-server; sourced, not run.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_run=${QM_WINE_RUN:-/tmp/quillmere-wine-$(id -u)}
bench_ca=$bench_run/ca
# The Node that scripts/deps pinned runs the peers: a system Node may be too old.
node_bin=${QM_DEPS_CACHE:-$HOME/.cache/quillmere-deps}/bin
PATH=$node_bin:$PATH

say() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; }

# The bench makes the test CA; start it (idempotent) when the CA is not there yet.
need_bench_ca() {
  if [ ! -f "$bench_ca/localhost.pem" ]; then
    "$root/scripts/wine-bench" start >&2
  fi
  [ -f "$bench_ca/localhost.pem" ] || { say "no test CA in $bench_ca"; exit 1; }
}

# Servers written for Node call this first, rather than fail later on another Node.
need_node() {
  [ -x "$node_bin/node" ] || { say "no Node in $node_bin (scripts/deps installs it)"; exit 1; }
}

# Ends the server whose pid file is in the state folder, if it still runs.
stop_in() {
  local pidfile=$1/pid
  # nginx removes its own pid file as it quits, possibly between the test and the read.
  local pid; pid=$(cat "$pidfile" 2>/dev/null) || return 0
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}
