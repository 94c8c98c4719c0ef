# A one-node Slurm cluster on this machine, for the sweep's cluster test.
# Sourced: cluster_start DIR starts munged, slurmctld and slurmd with their
# files in DIR (mode 0700), loopback addresses only and free ports, exports
# SLURM_CONF for the client commands and waits until one job has run;
# cluster_stop stops them by pid.  Both need root (SlurmUser=root).

cluster_pids=()

# A TCP port that nothing listens on now, from the loopback's free range.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

cluster_logs() {
  local f
  for f in "$cluster_dir"/munged.log "$cluster_dir"/slurmctld.log "$cluster_dir"/slurmd.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
  done
  sinfo -N -l 2>&1 || true
}

cluster_stop() {
  local pid
  for pid in "${cluster_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${cluster_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  cluster_pids=()
}

cluster_start() { # DIR
  # --- constants
  local wait_node_s=60           # how long the node may take to come up
  local wait_job_s=60            # how long the first job may take
  cluster_dir=$1
  mkdir -p "$cluster_dir"
  chmod 0700 "$cluster_dir"
  local d=$cluster_dir host cpus mem
  host=$(hostname -s)
  cpus=$(nproc)

  # munge: its own key, socket, pid, log and seed
  dd if=/dev/urandom bs=1 count=1024 of="$d/munge.key" 2>/dev/null
  chmod 0600 "$d/munge.key"
  munged --key-file="$d/munge.key" --socket="$d/munge.socket" \
    --pid-file="$d/munged.pid" --log-file="$d/munged.log" --seed-file="$d/munged.seed" \
    --force --foreground >"$d/munged.out" 2>&1 &
  cluster_pids+=($!)
  export MUNGE_SOCKET=$d/munge.socket   # not read by Slurm; AuthInfo below is
  for _ in $(seq 50); do [ -S "$d/munge.socket" ] && break; sleep 0.1; done
  [ -S "$d/munge.socket" ] || { echo "munged did not start" >&2; cluster_logs >&2; return 1; }

  mem=$(slurmd -C 2>/dev/null | sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p' | head -n 1)
  [ -n "$mem" ] || mem=1000
  mem=$((mem > 2000 ? mem - 1000 : mem))
  mkdir -p "$d/spool/ctld" "$d/spool/d"
  cat > "$d/slurm.conf" <<CONF
ClusterName=morvenda
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$d/munge.socket
StateSaveLocation=$d/spool/ctld
SlurmdSpoolDir=$d/spool/d
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/slurmctld.log
SlurmdLogFile=$d/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
MaxArraySize=1001
SchedulerParameters=sched_interval=1
InactiveLimit=0
KillWait=2
MinJobAge=300
NodeName=$host NodeAddr=127.0.0.1 NodeHostname=$host CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$d/slurm.conf
  slurmctld -D -i -f "$SLURM_CONF" >"$d/slurmctld.out" 2>&1 &
  cluster_pids+=($!)
  slurmd -D -f "$SLURM_CONF" -N "$host" >"$d/slurmd.out" 2>&1 &
  cluster_pids+=($!)

  local up=0
  for _ in $(seq $((wait_node_s * 2))); do
    if sinfo -h -N -o '%T' 2>/dev/null | grep -qE '^(idle|mixed|allocated)'; then up=1; break; fi
    sleep 0.5
  done
  [ "$up" = 1 ] || { echo "the node did not come up" >&2; cluster_logs >&2; return 1; }

  # one job first
  if ! timeout "$wait_job_s" srun -N1 -n1 -t 1 true >"$d/first-job.out" 2>&1; then
    echo "the first job did not run" >&2; cat "$d/first-job.out" >&2; cluster_logs >&2; return 1
  fi
}
