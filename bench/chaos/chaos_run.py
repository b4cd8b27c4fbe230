#!/usr/bin/env python3
"""Runs the command-line tool's operations against simulated devices behind a misbehaving line.

Each run starts its own simulator with one kind of fault and its own seed, runs one operation
of vindelor-cli against it within a time bound, then turns the faults off (SIGUSR2) and checks
what the run left behind with clean requests. A run counts as
  success     the command said it worked, and what it claimed is so;
  false       the command said it worked, and it is not so (a wrong value, a file that is not
              the device's, a write that did not happen);
  truthful    the command failed with a message naming what failed (its status was not 0 and
              stderr said why), and left no file half-written;
  silent      the command failed without saying why;
  hang        the command did not end within its bound and was killed;
  crash       the command died of a signal or a sanitizer report;
  leftover    a file was left half-written (a temporary file, or an older file changed by a
              failed save).
The table at the end has one row per operation and fault. Every run can be replayed: the
fault text and seed are in the simulator's command line, printed with --verbose.

  bench/chaos/chaos_run.py --build build/default [--seeds N] [--ops read,write] [--faults drop,cut]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

FAULTS = {
    "drop": "drop=0.01",
    "flip": "flip=0.01",
    "cut": "cut=0.1",
    "delay": "delay=600@0.1",
    "noise": "noise=0.1",
    "unplug": "unplug=SECONDS",  # from 5 to 200 ms, by the seed
    "mix": "drop=0.005,flip=0.005,cut=0.03,delay=300@0.03,noise=0.03",
}

ADDRESS = "3"
SANITIZER_MARKS = ("AddressSanitizer", "runtime error:", "LeakSanitizer", "ThreadSanitizer")


class Sim:
    """One simulator process. It prints its device path, and a new one each time the faults
    have pulled the adapter out and put it back."""

    def __init__(self, build, args, cwd):
        self.proc = subprocess.Popen([os.path.join(build, "sim", "vindelor-sim")] + args, cwd=cwd,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.started = time.monotonic()
        self.paths = []
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        if not self.wait_path(1, 10):
            raise RuntimeError("the simulator did not start: " + " ".join(args))

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith("/dev/"):
                with self.changed:
                    self.paths.append(line.strip())
                    self.changed.notify_all()

    def wait_path(self, count, seconds):
        with self.changed:
            return self.changed.wait_for(lambda: len(self.paths) >= count, seconds)

    @property
    def path(self):
        with self.changed:
            return self.paths[-1]

    def faults_off(self, unplug_seconds=0):
        self.proc.send_signal(signal.SIGUSR2)
        if unplug_seconds:
            # The adapter comes back a second after it was pulled, on a new path.
            left = self.started + unplug_seconds - time.monotonic()
            if left > -0.5:
                self.wait_path(len(self.paths) + 1, left + 3)
        time.sleep(0.05)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def cli(build, port, args, cwd, bound):
    """Runs the tool; (status or None on a hang, stdout, stderr, seconds)."""
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(build, "src", "cli", "vindelor-cli"), "--port", port,
                             "--address", ADDRESS] + args,
                            cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            encoding="cp1252", errors="replace")
    try:
        out, err = proc.communicate(timeout=bound)
        return proc.returncode, out, err, time.monotonic() - start
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        return None, out, err, time.monotonic() - start


class Operation:
    """One command, its time bound and how its claim is checked against the device."""

    sim_args = []
    bound = 10.0
    output = None  # the file the command writes, when it writes one

    def prepare(self, work, seed):
        pass

    def args(self, seed):
        raise NotImplementedError

    def verify(self, ctx, seed, out):
        """With the faults off: None when the claim holds, otherwise what is wrong."""
        return None


class Read(Operation):
    name = "read"
    bound = 5.0

    def args(self, seed):
        return ["read", "KP"]

    def verify(self, ctx, seed, out):
        return None if out == ctx.truth["read"] else "read %r, the device holds %r" % (out, ctx.truth["read"])


class Write(Operation):
    name = "write"
    bound = 5.0

    @staticmethod
    def value(seed):
        return "%.4f" % (2 + (seed % 7) * 0.25)

    def args(self, seed):
        return ["write", "KP", self.value(seed)]

    def verify(self, ctx, seed, out):
        status, now, _, _ = ctx.clean(["read", "KP"])
        if status != 0 or self.value(seed) not in now:
            return "write said done, the device reads %r" % now.strip()
        return None


class Sample(Operation):
    name = "sample"
    bound = 10.0
    count = 5

    def args(self, seed):
        return ["sample", "--count", str(self.count)]

    def verify(self, ctx, seed, out):
        # After the header, one numbered row a sample.
        body = [line for line in out.splitlines()[1:] if line.strip()]
        if any(not row.split("\t")[0].isdigit() for row in body):
            return "a row that is not a sample: %r" % out
        if len(body) != self.count:
            return "%d rows for %d samples: %r" % (len(body), self.count, out)
        return None


class Save(Operation):
    name = "params save"
    bound = 30.0
    output = "set.params"
    OLD = "an older file that a failed save must leave as it is\n"

    def prepare(self, work, seed):
        with open(os.path.join(work, self.output), "w") as f:
            f.write(self.OLD)

    def args(self, seed):
        return ["params", "save", self.output]

    def verify(self, ctx, seed, out):
        status, diff, err, _ = ctx.clean(["params", "diff", self.output])
        if status != 0:
            return "the saved file is not the device's: %s" % (diff + err).strip()[:200]
        return None

    def unchanged_on_failure(self, work):
        with open(os.path.join(work, self.output)) as f:
            return f.read() == self.OLD


class Restore(Operation):
    name = "params restore"
    bound = 60.0

    def args(self, seed):
        return ["params", "restore", "restore.params"]

    def verify(self, ctx, seed, out):
        status, diff, err, _ = ctx.clean(["params", "diff", "restore.params"])
        if status != 0:
            return "restore said done, the device differs: %s" % (diff + err).strip()[:200]
        return None


class Scan(Operation):
    name = "scan"
    bound = 30.0
    sim_args = ["--devices", "3:VX20-95,7:KT42"]

    def args(self, seed):
        return ["scan", "--from", "0", "--to", "10"]

    def verify(self, ctx, seed, out):
        # A line is address, firmware and type. What the scan could not tell it says is
        # "unknown" (a device of no known type shows the register the scan asked for).
        truth = {line.split("\t")[0]: line.split("\t") for line in ctx.truth["scan"].splitlines()}
        wrong = []
        for line in out.splitlines():
            address, firmware, kind = (line.split("\t") + ["", ""])[:3]
            real = truth.get(address)
            if not real or kind not in (real[2], "unknown") or (
                    kind != "unknown" and firmware not in (real[1], "unknown")):
                wrong.append(line)
        if wrong:
            return "listed what is not on the line: %r" % wrong
        return None


OPERATIONS = [Read(), Write(), Sample(), Save(), Restore(), Scan()]


class Context:
    def __init__(self, build, work, sim):
        self.build, self.work, self.sim = build, work, sim
        self.truth = {}

    def clean(self, args, bound=30.0):
        return cli(self.build, self.sim.path, args, self.work, bound)


def make_work(defs):
    work = tempfile.mkdtemp(prefix="vindelor-chaos-")
    for name in os.listdir(defs):
        if name.endswith(".dat"):
            shutil.copy(os.path.join(defs, name), work)
    return work


def learn_truth(build, defs):
    """What a clean line gives, and the file a restore writes back."""
    work = make_work(defs)
    truth = {}
    sim = Sim(build, ["--address", ADDRESS], work)
    try:
        ctx = Context(build, work, sim)
        for key, args in (("read", ["read", "KP"]),):
            status, out, err, _ = ctx.clean(args)
            if status != 0:
                raise RuntimeError("clean %s failed: %s" % (key, err))
            truth[key] = out
        # The set to restore: the device's own with two values changed.
        for reg, value in (("KP", "3.2500"), ("GEAR", "2.5")):
            status, _, err, _ = ctx.clean(["write", reg, value])
            if status != 0:
                raise RuntimeError("clean write failed: " + err)
        status, _, err, _ = ctx.clean(["params", "save", "restore.params"])
        if status != 0:
            raise RuntimeError("clean save failed: " + err)
        with open(os.path.join(work, "restore.params")) as f:
            truth["restore.params"] = f.read()
    finally:
        sim.close()
    sim = Sim(build, Scan.sim_args, work)
    try:
        status, out, err, _ = cli(build, sim.path, Scan().args(0), work, 60)
        if status != 0:
            raise RuntimeError("clean scan failed: " + err)
        truth["scan"] = out
    finally:
        sim.close()
    shutil.rmtree(work)
    return truth


def run_one(build, defs, truth, op, fault, seed, verbose):
    work = make_work(defs)
    with open(os.path.join(work, "restore.params"), "w") as f:
        f.write(truth["restore.params"])
    before = set(os.listdir(work))
    op.prepare(work, seed)
    sim_args = op.sim_args or ["--address", ADDRESS]
    faults = FAULTS[fault]
    unplug = 0
    if fault == "unplug":
        # Anywhere from the start of a short command to the middle of a long one.
        unplug = 0.005 * (seed % 40 + 1)
        faults = "unplug=%.3f" % unplug
    sim_args = sim_args + ["--faults", faults, "--seed", str(seed)]
    sim = Sim(build, sim_args, work)
    ctx = Context(build, work, sim)
    ctx.truth = truth
    try:
        status, out, err, seconds = cli(build, sim.path, op.args(seed), work, op.bound)
        crashed = any(mark in err for mark in SANITIZER_MARKS)
        if status is None:
            verdict, why = "hang", "killed after %.1f s" % op.bound
        elif crashed or status < 0:
            verdict, why = "crash", err.strip()[-300:]
        else:
            sim.faults_off(unplug)
            if status == 0:
                wrong = op.verify(ctx, seed, out)
                verdict, why = ("false", wrong) if wrong else ("success", "")
            elif err.strip():
                verdict, why = "truthful", err.strip().splitlines()[-1]
            else:
                verdict, why = "silent", "status %d and nothing on stderr" % status
        left = set(os.listdir(work)) - before - {op.output}
        if left:
            verdict, why = "leftover", "left behind: %s" % sorted(left)
        elif verdict == "truthful" and op.output and hasattr(op, "unchanged_on_failure") \
                and not op.unchanged_on_failure(work):
            verdict, why = "leftover", "a failed save changed the older file"
        if verbose or verdict not in ("success", "truthful"):
            print("%-15s %-7s seed %-5d %-9s %5.2f s  %s" % (op.name, fault, seed, verdict,
                                                          seconds, why), file=sys.stderr)
        return op.name, fault, verdict, why
    finally:
        sim.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/default", help="the build folder")
    parser.add_argument("--defs", default=os.path.join(os.path.dirname(__file__), "..", "..", "defs"))
    parser.add_argument("--seeds", type=int, default=100, help="runs per operation and fault")
    parser.add_argument("--first-seed", type=int, default=1)
    parser.add_argument("--ops", default=",".join(o.name for o in OPERATIONS))
    parser.add_argument("--faults", default=",".join(FAULTS))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--verbose", action="store_true")
    a = parser.parse_args()
    build = os.path.abspath(a.build)
    defs = os.path.abspath(a.defs)
    ops = [o for o in OPERATIONS if o.name in a.ops.split(",")]
    faults = a.faults.split(",")
    unknown = [f for f in faults if f not in FAULTS]
    if unknown or not ops:
        parser.error("unknown faults %s or no operation" % unknown)

    truth = learn_truth(build, defs)
    jobs = [(op, fault, seed) for op in ops for fault in faults
            for seed in range(a.first_seed, a.first_seed + a.seeds)]
    started = time.monotonic()
    with ThreadPoolExecutor(max_workers=a.jobs) as pool:
        results = list(pool.map(lambda j: run_one(build, defs, truth, j[0], j[1], j[2], a.verbose), jobs))

    kinds = ["success", "truthful", "false", "silent", "hang", "crash", "leftover"]
    print("| operation | fault | runs | " + " | ".join(kinds) + " |")
    print("|---|---|---:|" + "---:|" * len(kinds))
    bad = 0
    for op in ops:
        for fault in faults:
            cell = [r for r in results if r[0] == op.name and r[1] == fault]
            counts = [sum(1 for r in cell if r[2] == k) for k in kinds]
            bad += sum(counts[2:])
            print("| %s | %s | %d | %s |" % (op.name, fault, len(cell), " | ".join(map(str, counts))))
    print("\n%d runs in %.0f s; %d false successes, silent failures, hangs, crashes or leftovers"
          % (len(results), time.monotonic() - started, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
