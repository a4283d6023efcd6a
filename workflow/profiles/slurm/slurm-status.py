#!/usr/bin/env python3
"""Tell the workflow engine the state of one Slurm job.

usage: slurm-status.py JOBID

JOBID is what `sbatch --parsable` printed ("id" or "id;cluster"). Prints
exactly one of "running", "success" or "failed" on standard output. The
state comes from squeue, then from scontrol; once the controller has
forgotten a finished job (MinJobAge), from sacct where accounting exists.
A job that no source knows is reported as failed, so that it is redone
rather than taken as done.
"""
import subprocess
import sys

RUNNING = {
    "PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "SUSPENDED", "STOPPED",
    "REQUEUED", "REQUEUE_FED", "REQUEUE_HOLD", "RESIZING", "SIGNALING",
    "STAGE_OUT", "RESV_DEL_HOLD", "POWER_UP_NODE", "UPDATE_DB",
}
FAILED = {
    "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED", "BOOT_FAIL",
    "DEADLINE", "OUT_OF_MEMORY", "SPECIAL_EXIT", "REVOKED",
}


def query(cmd):
    """Run a Slurm client; return (exit status, stdout, stderr)."""
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           universal_newlines=True, timeout=60)
    except FileNotFoundError:
        return None, "", cmd[0] + ": not found"
    except subprocess.TimeoutExpired:
        return None, "", cmd[0] + ": no answer within 60 s"
    return p.returncode, p.stdout, p.stderr


def unknown_job(err):
    return "invalid job id" in err.lower()


def from_squeue(job, cluster_opt):
    rc, out, err = query(["squeue", "--noheader", "--states=all", "--jobs=" + job,
                          "--format=%T"] + cluster_opt)
    if rc == 0:
        states = out.split()
        return (states[0] if states else None), True
    return None, rc is not None and unknown_job(err)


def from_scontrol(job, cluster_opt):
    rc, out, err = query(["scontrol"] + cluster_opt + ["--oneliner", "show", "job", job])
    if rc == 0:
        for field in out.split():
            if field.startswith("JobState="):
                return field.split("=", 1)[1], True
        return None, True
    return None, rc is not None and unknown_job(err)


def from_sacct(job, cluster_opt):
    rc, out, _ = query(["sacct", "--noheader", "--parsable2", "--allocations",
                        "--jobs=" + job, "--format=State"] + cluster_opt)
    if rc != 0:
        return None
    lines = out.split()
    # "CANCELLED by 1000" -> CANCELLED
    return lines[0].split()[0] if lines else None


def main(argv):
    if len(argv) != 2 or not argv[1].split(";")[0].strip().isdigit():
        sys.stderr.write("usage: slurm-status.py JOBID\n")
        return 2
    parts = argv[1].strip().split(";")
    job = parts[0]
    cluster_opt = ["--clusters=" + parts[1]] if len(parts) > 1 and parts[1] else []

    state, answered = from_squeue(job, cluster_opt)
    if state is None:
        state, answered_ctl = from_scontrol(job, cluster_opt)
        answered = answered or answered_ctl
    if state is None:
        state = from_sacct(job, cluster_opt)
    if state is None and not answered:
        # The controller did not answer at all: ask again later.
        sys.stderr.write("slurm-status.py: no answer from Slurm about job %s\n" % job)
        print("running")
        return 0

    state = (state or "").rstrip("+")
    if state == "COMPLETED":
        print("success")
    elif state in RUNNING:
        print("running")
    else:
        if state not in FAILED:
            sys.stderr.write("slurm-status.py: job %s: state %s\n"
                             % (job, state or "unknown to Slurm"))
        print("failed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
