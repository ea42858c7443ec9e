# Helpers of the benchmark scripts (sourced, not run).

bench_load() { cut -d' ' -f1-3 /proc/loadavg; }
bench_now() { date +%s.%N; }
bench_seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# curl as a yardstick, fetching what the patcher fetches the way it does: WORKERS processes
# taking the ranged jobs of JOB bytes of every file in turn (each process keeps its
# connection). TARGET is /dev/null, or a folder that gets one file a job, flushed before
# the clock stops. Prints the seconds.
#   bench_curl_jobs CA BASE-URL WORKERS JOB TARGET /PATH:SIZE...
bench_curl_jobs() {
  local ca=$1 base=$2 workers=$3 job=$4 target=$5; shift 5
  local -a jobs=() args
  local spec path size at w i start end
  for spec in "$@"; do
    path=${spec%:*}; size=${spec##*:}
    for ((at = 0; at < size; at += job)); do
      jobs+=("$path $at $(( at + job < size ? at + job - 1 : size - 1 ))")
    done
  done
  start=$(bench_now)
  for ((w = 0; w < workers; w++)); do
    args=()
    for ((i = w; i < ${#jobs[@]}; i += workers)); do
      read -r path first last <<<"${jobs[i]}"
      [ ${#args[@]} -eq 0 ] || args+=(--next)
      args+=(-sS --fail --cacert "$ca" -r "$first-$last" -o "$([ "$target" = /dev/null ] && echo /dev/null || echo "$target/$i")" "$base$path")
    done
    [ ${#args[@]} -eq 0 ] || curl "${args[@]}" &
  done
  wait
  [ "$target" = /dev/null ] || sync "$target"/*
  end=$(bench_now)
  [ "$target" = /dev/null ] || rm -f "$target"/*
  bench_seconds "$start" "$end"
}

# Runs a command and then prints "io RCHAR READ_BYTES": what its processes read through read
# calls and from the disk, from /proc/PID/io. Windows' own counters read zero under Wine, but
# Linux adds a reaped child's counters to its parent's, so this subshell's counters before and
# after the command tell them (with the constant cost of the shells and Wine's start-up, which a
# baseline run shows). The command's output passes through.
bench_io_run() {
  (
    local key value rchar0=0 bytes0=0 rchar1=0 bytes1=0
    while read -r key value; do case $key in rchar:) rchar0=$value ;; read_bytes:) bytes0=$value ;; esac; done </proc/$BASHPID/io
    "$@" || echo "failed $?"
    while read -r key value; do case $key in rchar:) rchar1=$value ;; read_bytes:) bytes1=$value ;; esac; done </proc/$BASHPID/io
    echo "io $(( rchar1 - rchar0 )) $(( bytes1 - bytes0 ))"
  )
}
