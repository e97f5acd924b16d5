#!/usr/bin/env bash
# A campaign as a Slurm array on a private single-node cluster on loopback (two fake GPUs): the
# array's results against a serial run, then two shards cancelled, found by `status` and
# resubmitted alone.
#
# usage: slurm_single_node.sh KESTRAV_BATCH KESTRAV_SCENE SBATCH_TEMPLATE
# Exits 77 (skipped) where the Slurm daemons are not installed or this is not root.
set -uo pipefail

batch=$1
scene=$2
template=$3
skip=77
for daemon in slurmctld slurmd sbatch squeue scancel scontrol sinfo; do
  if ! command -v "$daemon" >/dev/null; then
    echo "SKIP: $daemon is not installed (Debian's slurm-wlm provides it)"
    exit $skip
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: a private slurmd must run as root to start jobs"
  exit $skip
fi

work=$(mktemp -d /tmp/kestrav-slurm.XXXXXX)
pids=()
stop() {
  local pid
  # Jobs first, while slurmd can still end their processes; then the daemons.
  if [ -n "${SLURM_CONF:-}" ] && [ ${#pids[@]} -gt 0 ]; then
    scancel --quiet --user=root 2>/dev/null
    for _ in $(seq 50); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.2; done
  fi
  for pid in $(cat "$work"/hung-* 2>/dev/null); do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  local log
  for log in "$work"/slurmctld.log "$work"/slurmd.log; do
    [ -e "$log" ] && { echo "--- tail of $log"; tail -n 25 "$log"; }
  done
  for log in "$work"/logs/*.out; do
    [ -s "$log" ] && { echo "--- $log"; tail -n 5 "$log"; }
  done
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed; all waits together stop at 150 s,
# well inside CTest's limit, so that the daemons are always ended here.
wait_for() {
  local limit=$1 start=$SECONDS
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS - start < limit && SECONDS < 150)) || return 1
    sleep 0.2
  done
}

# Fake GPUs: character devices that slurmd hands out as gres; nothing opens them, so `auto` falls
# back to the host where there is no driver.
gres_line="Gres=gpu:2"
gpu=(--gres=gpu:1)
if mknod "$work/nvidia0" c 195 0 2>/dev/null && mknod "$work/nvidia1" c 195 1 2>/dev/null; then
  printf 'Name=gpu File=%s/nvidia0\nName=gpu File=%s/nvidia1\n' "$work" "$work" >"$work/gres.conf"
else
  echo "note: mknod refused here; the cluster runs without GPUs"
  gres_line=""
  gpu=()
fi

# Ports of this run's own, away from a system cluster's 6817/6818.
port=$((20000 + ($$ % 15000) * 2))
mkdir -p "$work/state" "$work/spool" "$work/logs"
cat >"$work/slurm.conf" <<EOF
ClusterName=kestrav-test
SlurmctldHost=localhost
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/none
CredType=cred/none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
GresTypes=gpu
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
SchedulerParameters=sched_min_interval=0,batch_sched_delay=0,bf_interval=1
MailProg=/bin/true
NodeName=localhost CPUs=2 $gres_line State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf

slurmctld -D -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" -N localhost >"$work/slurmd.out" 2>&1 &
pids+=($!)
node_up() { sinfo -h -N -o '%t' | grep -Eq '^(idle|mix|alloc)'; }
wait_for 30 node_up || fail "the node did not come up within 30 s ($(sinfo -h -N -o '%t %E' 2>&1))"

# The example campaign, planned, and the same jobs run serially as the yardstick.
export KESTRAV_THREADS=1 KESTRAV_BATCH=$batch
# Three receivers, 1.3 s: three windows a pair, nine jobs (two or three a shard).
"$scene" --out "$work/scene" --seconds 1.3 >/dev/null || fail "kestrav-scene failed"
"$batch" plan "$work/scene/campaign.json" >"$work/jobs.jsonl" 2>"$work/plan.err" ||
  fail "plan failed: $(cat "$work/plan.err")"
jobs=$(wc -l <"$work/jobs.jsonl")
[ "$jobs" -gt 0 ] || fail "the plan holds no jobs"
"$batch" run "$work/jobs.jsonl" --shard 0/1 --out "$work/serial" --attempt serial \
  2>"$work/serial.err" || fail "the serial run failed: $(tail -n 3 "$work/serial.err")"

# Submits the template as an array over $1 (results in $2) and prints the array's job id.
submit() {
  local array=$1 out=$2
  shift 2
  sbatch --parsable --array="$array" "${gpu[@]}" --output="$work/logs/%A_%a.out" "$@" \
    "$template" "$work/jobs.jsonl" "$out" | cut -d';' -f1
}
# Succeeds once array $1 has left the queue.
drained() { [ -z "$(squeue -h -j "$1" -o %i 2>/dev/null)" ]; }
# Succeeds when every task of array $1 ended COMPLETED (exit 0).
completed() {
  local states
  states=$(scontrol -o show job "$1" | grep -o 'JobState=[A-Z_]*' | sort | uniq -c | tr -s ' ')
  [ "$(echo "$states" | wc -l)" -eq 1 ] && [[ "$states" == *JobState=COMPLETED ]] ||
    { echo "$states"; return 1; }
}
# One line per job: the result without what differs between runs (timings, attempt, shard).
results() {
  /usr/bin/python3 -c '
import json, sys
lines = []
for name in sys.argv[1:]:
    for line in open(name):
        record = json.loads(line)
        for key in ("elapsed_s", "attempt", "shard"):
            record.pop(key, None)
        lines.append((record["id"], json.dumps(record, sort_keys=True)))
# A job twice (a resumed shard that ran it again) shows as an extra line.
print("\n".join(line for _, line in sorted(lines)))
' "$1"/*.jsonl
}

shards=4
array=$(submit "0-$((shards - 1))" "$work/array") || fail "sbatch refused the array"
wait_for 60 drained "$array" || fail "the array did not finish within 60 s"
states=$(completed "$array") || fail "array tasks did not all complete: $states"
# The template's own #SBATCH lines, their notes beside them, are read as written.
shown=$(scontrol -o show job "${array}_0")
for field in JobName=kestrav TimeLimit=01:00:00 NumTasks=1 CPUs/Task=1; do
  [[ " $shown " == *" $field "* ]] || fail "the template's $field was not applied: $shown"
done
files=$(ls "$work/array" 2>/dev/null | wc -l)
[ "$files" -eq "$shards" ] || fail "the array left $files result files, not $shards"
for task in $(seq 0 $((shards - 1))); do
  # Each task's attempt is its own job id.
  [ -n "$(ls "$work/array/shard-$task-of-$shards".[0-9]*.jsonl 2>/dev/null)" ] ||
    fail "shard $task wrote no result file named by its job id: $(ls "$work/array")"
done
diff <(results "$work/serial") <(results "$work/array") >"$work/array.diff" ||
  fail "the array's results differ from the serial run: $(head -c 2000 "$work/array.diff")"
echo "array of $shards shards: $jobs jobs, same as the serial run (at $SECONDS s)"

# Shards 1 and 3 write one result, then hang until cancelled; the rest finish.
cat >"$work/slow" <<EOF
#!/usr/bin/env bash
echo "\${CUDA_VISIBLE_DEVICES:-none}" >"$work/gpu-\$SLURM_ARRAY_TASK_ID"
case " \$* " in
  *" 1/$shards "*|*" 3/$shards "*)
    KESTRAV_BATCH_EXIT_AFTER=1 "$batch" "\$@"
    echo \$\$ >"$work/hung-\$SLURM_ARRAY_TASK_ID"
    exec sleep 120 ;;
esac
exec "$batch" "\$@"
EOF
chmod +x "$work/slow"
slow=$(KESTRAV_SHARDS=$shards KESTRAV_BATCH=$work/slow \
  submit "0-$((shards - 1))" "$work/resumed") || fail "sbatch refused the second array"
running() {
  [ "$(squeue -h -j "$slow" -t R -o %i | wc -l)" -eq 2 ] &&
    [ "$(squeue -h -j "$slow" -o %i | wc -l)" -eq 2 ] &&
    [ "$(cat "$work"/resumed/shard-1-of-*.jsonl "$work"/resumed/shard-3-of-*.jsonl 2>/dev/null |
      wc -l)" -eq 2 ]
}
wait_for 60 running || fail "the slow shards were not left running alone within 60 s"
if [ ${#gpu[@]} -gt 0 ]; then
  # The two shards running side by side hold one fake GPU each.
  devices=$(cat "$work/gpu-1" "$work/gpu-3" 2>/dev/null | sort | tr '\n' ' ')
  [ "$devices" = "0 1 " ] || fail "shards 1 and 3 were given GPUs '$devices', not 0 and 1"
fi
scancel "$slow" || fail "scancel failed"
wait_for 30 drained "$slow" || fail "the cancelled shards did not leave the queue within 30 s"

"$batch" status "$work/jobs.jsonl" "$work/resumed" >"$work/status.txt" 2>&1 &&
  fail "status says all done with two shards cancelled: $(cat "$work/status.txt")"
unfinished=$(sed -n 's/^unfinished shards: *\([0-9,]*\).*/\1/p' "$work/status.txt")
[ "$unfinished" = "1,3" ] ||
  fail "status lists unfinished shards '$unfinished', not 1,3: $(cat "$work/status.txt")"

# Without the shard count, an array of shards 1 and 3 cannot say N: its tasks refuse to run
# rather than split the jobs into two shards of their own.
wrong=$(submit "$unfinished" "$work/wrong") || fail "sbatch refused the array without N"
wait_for 30 drained "$wrong" || fail "the array without N did not finish within 30 s"
completed "$wrong" >/dev/null && fail "an array of shards $unfinished ran without KESTRAV_SHARDS"
[ -z "$(ls "$work/wrong" 2>/dev/null)" ] || fail "an array without KESTRAV_SHARDS wrote results"

again=$(KESTRAV_SHARDS=$shards submit "$unfinished" "$work/resumed") ||
  fail "sbatch refused the resubmission"
wait_for 60 drained "$again" || fail "the resubmitted shards did not finish within 60 s"
states=$(completed "$again") || fail "resubmitted tasks did not all complete: $states"
"$batch" status "$work/jobs.jsonl" "$work/resumed" >"$work/status.txt" 2>&1 ||
  fail "status after the resubmission: $(cat "$work/status.txt")"
diff <(results "$work/serial") <(results "$work/resumed") >"$work/resumed.diff" ||
  fail "the resumed results differ from the serial run: $(head -c 2000 "$work/resumed.diff")"
echo "cancelled shards $unfinished resubmitted: complete, same as the serial run (at $SECONDS s)"
