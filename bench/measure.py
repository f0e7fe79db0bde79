#!/usr/bin/env python3
"""Times a command: wall seconds, CPU seconds (user + system) and peak resident memory, to the
microsecond (rusage from wait4), where /usr/bin/time rounds to 10 ms. Wall time includes
starting a small shell, a few milliseconds.

  measure.py [--runs N] [--label NAME] [--check EXPECTED OUTPUT] [--also PID] -- CMD...
      Runs CMD N times (default 1) with its output discarded. With --check, OUTPUT is removed
      before each run and must equal EXPECTED after it. With --also, the CPU that process PID
      (e.g. the wineserver) spends during each run is added as a fourth figure. Prints each run
      on stderr and the medians "wall cpu peak_kib [also_cpu]" on stdout.
  measure.py proc PID
      Prints the CPU seconds process PID has used so far and its peak memory: "cpu peak_kib".
"""
import argparse
import ctypes
import filecmp
import os
import statistics
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
TICK = os.sysconf("SC_CLK_TCK")


def proc_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def proc_peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def run_once(cmd, errfile):
    """Returns (wall, cpu, peak_kib) of one run of cmd; exits when it fails."""
    # A forked child starts with this interpreter's resident pages, and the kernel keeps them in
    # its peak across exec (about 10 MB, more than a small client ever uses). So a shell forks
    # the command and leaves it to us: the command is a fresh fork of a small process, and it
    # is reparented here, where wait4 reads its own rusage.
    start = time.monotonic()
    shell = os.posix_spawn("/bin/sh", ["sh", "-c", '"$@" & exit 0', "sh"] + cmd, os.environ,
                           file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                         (os.POSIX_SPAWN_OPEN, 2, errfile,
                                          os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)])
    os.waitpid(shell, 0)
    _, status, usage = os.wait4(-1, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        with open(errfile) as f:
            tail = " ".join(f.read().splitlines()[-2:])
        sys.exit(f"failed: {' '.join(cmd)} ({tail})")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "proc":
        print(f"{proc_cpu(sys.argv[2]):.3f} {proc_peak_kib(sys.argv[2])}")
        return
    p = argparse.ArgumentParser()
    p.add_argument("--runs", type=int, default=1)
    p.add_argument("--label", default="")
    p.add_argument("--check", nargs=2, metavar=("EXPECTED", "OUTPUT"))
    p.add_argument("--also", type=int, metavar="PID")
    p.add_argument("cmd", nargs="+")
    args = p.parse_args()
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("cannot become a subreaper")
    label = args.label or os.path.basename(args.cmd[0])
    errfile = f"{os.environ.get('TMPDIR', '/tmp')}/measure-{os.getpid()}.err"
    rows = []
    try:
        for i in range(1, args.runs + 1):
            if args.check and os.path.exists(args.check[1]):
                os.remove(args.check[1])
            also = proc_cpu(args.also) if args.also else 0.0
            row = list(run_once(args.cmd, errfile))
            if args.also:
                row.append(proc_cpu(args.also) - also)
            if args.check and not (os.path.exists(args.check[1])
                                   and filecmp.cmp(*args.check, shallow=False)):
                sys.exit(f"{label}: the downloaded file differs")
            rows.append(row)
            extra = f"  (pid {args.also}: {row[3]:6.3f} s)" if args.also else ""
            print(f"{label:<11} run {i}: wall {row[0]:7.3f} s  cpu {row[1]:7.3f} s  "
                  f"peak {row[2]:8d} KiB{extra}", file=sys.stderr)
    finally:
        if os.path.exists(errfile):
            os.remove(errfile)
    medians = [statistics.median(col) for col in zip(*rows)]
    print(" ".join(f"{v:.0f}" if i == 2 else f"{v:.6f}" for i, v in enumerate(medians)))


if __name__ == "__main__":
    main()
