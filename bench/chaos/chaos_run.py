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
  unconfirmed the command said it sent what the protocol gives no answer to (a group write, the
              boot monitor's flash file), and it did not arrive: the tool claimed no more than
              it could know;
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
import contextlib
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
    # Replies that are not the answer: a tool that takes the first frame that looks right
    # believes them.
    "dup": "dup=0.02",
    "double": "double=0.1",
    "twin": "twin=0.1",
    "other": "other=0.1",
    "stale": "stale=0.1",
    "garbage": "garbage=0.1",
    "split": "split=0.05",
    "mix2": "dup=0.005,double=0.03,twin=0.03,other=0.03,stale=0.03,garbage=0.03,split=0.02",
}

ADDRESS = "3"
SANITIZER_MARKS = ("AddressSanitizer", "runtime error:", "LeakSanitizer", "ThreadSanitizer")


class Sim:
    """One simulator process. It prints its device path, and a new one each time the faults
    have pulled the adapter out and put it back."""

    def __init__(self, build, args, cwd):
        self.dump_path = os.path.join(cwd, ".sim-memory")
        self.proc = subprocess.Popen([os.path.join(build, "sim", "vindelor-sim")] + args +
                                     ["--dump", self.dump_path], cwd=cwd,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.started = time.monotonic()
        self.paths = []
        self.clean_line = False
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._read_err, daemon=True).start()
        if not self.wait_path(1, 10):
            raise RuntimeError("the simulator did not start: " + " ".join(args))

    def _read(self):
        for line in self.proc.stdout:
            if line.startswith("/dev/"):
                with self.changed:
                    self.paths.append(line.strip())
                    self.changed.notify_all()

    def _read_err(self):
        for line in self.proc.stderr:
            if line.strip() == "vindelor-sim: faults off":
                with self.changed:
                    self.clean_line = True
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
        # The checks that follow need the clean line: on a loaded machine the simulator may take
        # a while to see the signal.
        with self.changed:
            if not self.changed.wait_for(lambda: self.clean_line, 10):
                raise RuntimeError("the simulator did not turn its faults off")
        if unplug_seconds:
            # The adapter comes back a second after it was pulled, on a new path.
            left = self.started + unplug_seconds - time.monotonic()
            if left > -0.5:
                self.wait_path(len(self.paths) + 1, left + 3)
        time.sleep(0.05)

    def power_cycle(self):
        self.proc.send_signal(signal.SIGUSR1)

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()

    def memory(self):
        """Ends the simulator and returns what its device kept: {(name, address): bytes}, a
        flag as the one byte 0 or 1."""
        self.close()
        kept = {}
        with open(self.dump_path) as f:
            for line in f:
                name, address, data = (line.split() + [""])[:3]
                kept[(name, int(address, 16))] = bytes.fromhex(data)
        os.remove(self.dump_path)
        return kept


def cli(build, port, args, cwd, bound, on_output=None, interrupt_after=None):
    """Runs the tool; (status or None on a hang, stdout, stderr, seconds). on_output sees the
    output so far whenever more came; interrupt_after sends SIGINT (Ctrl+C) after that many
    seconds, and the bound then counts from the interrupt."""
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(build, "src", "cli", "vindelor-cli"), "--port", port,
                             "--address", ADDRESS] + args,
                            cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    chunks = {"out": [], "err": []}

    def pump(stream, key):
        while True:
            data = stream.read1(4096) if hasattr(stream, "read1") else stream.read(4096)
            if not data:
                return
            chunks[key].append(data)
            if key == "out" and on_output:
                on_output(b"".join(chunks["out"]).decode("cp1252", "replace"))

    readers = [threading.Thread(target=pump, args=(proc.stdout, "out"), daemon=True),
               threading.Thread(target=pump, args=(proc.stderr, "err"), daemon=True)]
    for r in readers:
        r.start()
    status = None
    try:
        if interrupt_after is not None:
            try:
                proc.wait(timeout=interrupt_after)
            except subprocess.TimeoutExpired:
                proc.send_signal(signal.SIGINT)
        status = proc.wait(timeout=bound)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    for r in readers:
        r.join()
    text = lambda key: b"".join(chunks[key]).decode("cp1252", "replace")
    return status, text("out"), text("err"), time.monotonic() - start


class Operation:
    """One command, its time bound and how its claim is checked against the device."""

    sim_args = []
    # The faulty runs' line lasts its wire time at the tool's rate: a reply late, split or
    # followed by another means something only against the tool's time-outs on a real line.
    # A model with a rate of its own (the bootloaders, the boot-mode motor) is paced at that.
    line = ["--baud", "19200"]
    bound = 10.0
    output = None  # the file the command writes, when it writes one
    # The protocol gives the command no answer to what it sent: a claim that did not come
    # true is "unconfirmed", not false, as long as the command claimed no more than sending.
    acknowledged = True
    slow = False  # takes seconds even on a clean line (--slow-seeds)

    def prepare(self, work, seed):
        pass

    def args(self, seed):
        raise NotImplementedError

    def run(self, ctx, seed):
        return cli(ctx.build, ctx.sim.path, self.args(seed), ctx.work, self.bound)

    def learn(self, build, defs, truth):
        """What a clean line gives, when the check needs it."""

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
            return "%s said done, the device reads %r" % (self.name, now.strip())
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


class Scope(Operation):
    name = "scope"
    bound = 10.0
    output = "scope.csv"
    seconds = 1.0

    def args(self, seed):
        return ["scope", "--seconds", str(self.seconds), "--csv", self.output]

    def verify(self, ctx, seed, out):
        # A header, then rows of time and the four registers, the times never falling. A row's
        # time is when its reply came in, to the microsecond; replies that came in one read (a
        # USB adapter's packet, a stalled device's backlog) share it.
        with open(os.path.join(ctx.work, self.output), encoding="cp1252") as f:
            lines = f.read().splitlines()
        if len(lines) < 2:
            return "no rows: %r" % lines
        width = len(lines[0].split(","))
        last = -1.0
        for row in lines[1:]:
            cells = row.split(",")
            try:
                values = [float(c) for c in cells]
            except ValueError:
                return "a row that is not numbers: %r" % row
            if len(cells) != width or values[0] < last:
                return "a row out of shape or order: %r after %r" % (row, last)
            last = values[0]
        return None


class Monitor(Operation):
    """Listens until Ctrl+C: it must end at once and print nothing that was not a reply."""
    name = "monitor"
    bound = 3.0

    def args(self, seed):
        return ["monitor"]

    def run(self, ctx, seed):
        return cli(ctx.build, ctx.sim.path, self.args(seed), ctx.work, self.bound, interrupt_after=1.0)

    def verify(self, ctx, seed, out):
        # Nobody asks the device anything, so there is nothing to decode.
        return "decoded what nobody sent: %r" % out[:200] if out.strip() else None


class GroupWrite(Write):
    """The same value written to the group: no answer, so it is checked the same way."""
    name = "group write"
    acknowledged = False

    def args(self, seed):
        return ["group-write", "KP", self.value(seed)]


class ModuleStatus(Operation):
    name = "module status"
    bound = 5.0

    def args(self, seed):
        return ["module", "status"]

    def learn(self, build, defs, truth):
        truth[self.name] = clean_run(build, defs, ["--address", ADDRESS], self.args(0))

    def verify(self, ctx, seed, out):
        return None if out == ctx.truth[self.name] else "status %r, the module's is %r" % (
            out, ctx.truth[self.name])


class ModuleRegisters(Operation):
    """A module register written, then read: the write has no answer, the read must be true."""
    name = "module registers"
    bound = 10.0

    @staticmethod
    def value(seed):
        return str(1000 + seed)

    def args(self, seed):
        return ["module", "write", "11", self.value(seed)]

    def run(self, ctx, seed):
        status, out, err, seconds = cli(ctx.build, ctx.sim.path, self.args(seed), ctx.work, self.bound)
        if status != 0:
            return status, out, err, seconds
        status, out2, err2, more = cli(ctx.build, ctx.sim.path, ["module", "read", "11"], ctx.work,
                                       self.bound)
        return status, out + out2, err + err2, seconds + more

    def verify(self, ctx, seed, out):
        # What the read printed must be the module's; the write may have been lost on the way.
        status, now, _, _ = ctx.clean(["module", "read", "11"])
        if status != 0 or not out.endswith(now):
            return "read %r, the module holds %r" % (out, now)
        return None


class Poll(Operation):
    name = "poll"
    bound = 5.0

    def args(self, seed):
        return ["poll", "--seconds", "2"]

    def verify(self, ctx, seed, out):
        # The simulated module prints "Module running, line N" with N counting up.
        wrong = [line for line in out.splitlines()
                 if not (line.startswith("Module running, line ") and line[21:].isdigit())]
        return "text the module did not send: %r" % wrong[:3] if wrong else None


class Firmware(Operation):
    """A module update through its bootloader in one loader mode. Modes 1 and 3 have no reset
    command here: the engineer turns the module off and on when asked (SIGUSR1)."""
    slow = True
    output = None
    timeout = 25

    def __init__(self, mode):
        self.mode = mode
        self.name = "firmware %d" % mode
        self.bound = self.timeout + 10.0
        self.sim_args = ["--bootloader", str(mode)]

    def prepare(self, work, seed):
        make_image(work, self.mode)

    def args(self, seed):
        return ["firmware", "--timeout", str(self.timeout), "image%d.vxf" % self.mode]

    def run(self, ctx, seed):
        # The engineer turns the module off and on when asked, and again when it still asks a
        # while later (the prompt is printed once however often the loader asks again).
        shown = [""]
        done = threading.Event()

        def engineer():
            last = -1.0
            while not done.wait(0.25):
                lines = shown[0].splitlines()
                if lines and "Please turn off/on" in lines[-1] and time.monotonic() - last >= 3.0:
                    last = time.monotonic()
                    ctx.sim.power_cycle()

        hands = threading.Thread(target=engineer, daemon=True)
        hands.start()
        try:
            return cli(ctx.build, ctx.sim.path, self.args(seed), ctx.work, self.bound,
                       on_output=lambda text: shown.__setitem__(0, text))
        finally:
            done.set()
            hands.join()

    def learn(self, build, defs, truth):
        with clean_device(build, defs, self.sim_args, lambda work: make_image(work, self.mode)) as ctx:
            status, out, err, _ = self.run(ctx, 0)
            if status != 0 or not out.endswith("Done\n"):
                raise RuntimeError("clean %s failed: %s %s" % (self.name, out[-200:], err))
            truth[self.name] = ctx.sim.memory()

    def verify(self, ctx, seed, out):
        if not out.endswith("Done\n"):
            return "status 0 without Done: %r" % out[-200:]
        kept = ctx.sim.memory()
        if kept != ctx.truth[self.name]:
            return "the module's flash is not the image's (%d blocks, %d expected)" % (
                len(kept), len(ctx.truth[self.name]))
        return None


class FlashRead(Operation):
    """Read at 57600, as after "Set 57600 Baud": 128 KiB paced at the first rate of 19200 take
    70 s a pass; at 57600 23 s, and the read takes two passes to see every block twice."""
    slow = True
    name = "flash read"
    bound = 150.0
    output = "flash.bin"
    OLD = b"an older flash image that a failed read must leave as it is\n"
    sim_args = ["--model", "flash", "--flash-rate", "57600"]

    def prepare(self, work, seed):
        with open(os.path.join(work, self.output), "wb") as f:
            f.write(self.OLD)

    def args(self, seed):
        return ["--baud", "57600", "flash-read", "-o", self.output]

    def learn(self, build, defs, truth):
        truth[self.name] = clean_run(build, defs, self.sim_args, self.args(0), 120, written=self.output)

    def verify(self, ctx, seed, out):
        with open(os.path.join(ctx.work, self.output), "rb") as f:
            got = f.read()
        if got != ctx.truth[self.name]:
            return "the file is not the device's flash (%d bytes, first difference at %d)" % (
                len(got), next((i for i, (a, b) in enumerate(zip(got, ctx.truth[self.name])) if a != b),
                               min(len(got), len(ctx.truth[self.name]))))
        return None

    def unchanged_on_failure(self, work):
        with open(os.path.join(work, self.output), "rb") as f:
            return f.read() == self.OLD


class FlashWrite(Operation):
    """The boot monitor's flash write: 'D', 'F', 11 s, 'G' and 4096 bytes, none of them answered
    but the 'D'."""
    slow = True
    name = "flash write"
    bound = 30.0
    acknowledged = False
    sim_args = ["--model", "flash", "--flash-rate", "57600"]

    def prepare(self, work, seed):
        with open(os.path.join(work, "boot.bin"), "wb") as f:
            f.write(self.content(seed))

    @staticmethod
    def content(seed):
        return bytes((i * 7 + seed) & 0xFF for i in range(3000))

    def args(self, seed):
        return ["--baud", "57600", "flash-write", "boot.bin"]

    def verify(self, ctx, seed, out):
        kept = ctx.sim.memory()
        want = self.content(seed) + bytes(4096 - 3000)
        if kept.get(("flash-file", 0)) != want or kept.get(("flash-file-erased", 0)) != b"\x01":
            got = kept.get(("flash-file", 0), b"")
            return "the boot monitor holds %d bytes, not the file's 4096%s" % (
                len(got), "" if kept.get(("flash-file-erased", 0)) == b"\x01" else ", not erased")
        return None


class AddressCheck(Operation):
    slow = True
    name = "address check"
    bound = 200.0
    sim_args = ["--model", "flash"]

    def args(self, seed):
        return ["address-check"]

    def learn(self, build, defs, truth):
        truth[self.name] = clean_run(build, defs, self.sim_args, self.args(0), 300)

    def verify(self, ctx, seed, out):
        return None if out == ctx.truth[self.name] else "printed %r, a clean check prints %r" % (
            out[-200:], ctx.truth[self.name][-200:])


class Download(Operation):
    slow = True
    name = "download"
    bound = 40.0
    sim_args = ["--model", "boot-motor"]
    FIRMWARE = bytes((i * 13 + 5) & 0xFF for i in range(4096))
    FPGA = bytes((i * 3 + 1) & 0xFF for i in range(512))

    def prepare(self, work, seed):
        with open(os.path.join(work, "motor.bin"), "wb") as f:
            f.write(self.FIRMWARE)
        with open(os.path.join(work, "fpga.hex"), "w") as f:
            f.write(intel_hex(self.FPGA))

    def args(self, seed):
        return ["download", "--firmware", "motor.bin", "--fpga", "fpga.hex", "--timeout", "10"]

    def verify(self, ctx, seed, out):
        kept = ctx.sim.memory()
        if kept.get(("firmware", 0)) != self.FIRMWARE or kept.get(("fpga", 0)) != self.FPGA \
                or kept.get(("download-finished", 0)) != b"\x01":
            return "the motor holds %d firmware and %d FPGA bytes%s" % (
                len(kept.get(("firmware", 0), b"")), len(kept.get(("fpga", 0), b"")),
                "" if kept.get(("download-finished", 0)) == b"\x01" else ", its download unfinished")
        return None


def intel_hex(data):
    lines = []
    for offset in range(0, len(data), 16):
        chunk = data[offset:offset + 16]
        record = bytes([len(chunk), offset >> 8 & 0xFF, offset & 0xFF, 0]) + chunk
        lines.append(":%s%02X" % (record.hex().upper(), -sum(record) & 0xFF))
    lines.append(":00000001FF")
    return "\n".join(lines) + "\n"


def make_image(work, mode):
    """A small image for the mode: an erase and 1 KiB of flash in 256-byte records."""
    with open(os.path.join(work, "part.bin"), "wb") as f:
        f.write(bytes((i * 11 + mode) & 0xFF for i in range(1024)))
    check = [] if mode == 2 else ["--block-check"]
    subprocess.run([os.path.join(BUILD[0], "src", "cli", "vindelor-cli"), "image", "make", "--mode",
                    str(mode), "--erase", "0", "--flash", "0=part.bin", "--block-size", "256"] + check +
                   ["image%d.vxf" % mode], cwd=work, check=True, stdout=subprocess.DEVNULL)
    os.remove(os.path.join(work, "part.bin"))


@contextlib.contextmanager
def clean_device(build, defs, sim_args, prepare=None):
    """A simulator without faults in a work folder of its own, for the reference runs."""
    work = make_work(defs)
    if prepare:
        prepare(work)
    sim = Sim(build, sim_args, work)
    try:
        yield Context(build, work, sim)
    finally:
        sim.close()
        shutil.rmtree(work)


def clean_run(build, defs, sim_args, args, bound=60, written=None):
    """The output of a command on a clean line, or the bytes of the file it wrote."""
    with clean_device(build, defs, sim_args) as ctx:
        status, out, err, _ = ctx.clean(args, bound)
        if status != 0:
            raise RuntimeError("clean %s failed: %s" % (" ".join(args), err))
        if not written:
            return out
        with open(os.path.join(ctx.work, written), "rb") as f:
            return f.read()


BUILD = [None]  # the build folder, for the helpers above


OPERATIONS = [Read(), Write(), Sample(), Save(), Restore(), Scan(), Scope(), Monitor(), GroupWrite(),
              ModuleStatus(), ModuleRegisters(), Poll()] + [Firmware(m) for m in range(4)] + [
              FlashRead(), FlashWrite(), AddressCheck(), Download()]


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


def learn_truth(build, defs, ops):
    """What a clean line gives, and the file a restore writes back."""
    truth = {"read": clean_run(build, defs, ["--address", ADDRESS], ["read", "KP"])}
    with clean_device(build, defs, ["--address", ADDRESS]) as ctx:
        # The set to restore: the device's own with two values changed.
        for args in (["write", "KP", "3.2500"], ["write", "GEAR", "2.5"],
                     ["params", "save", "restore.params"]):
            status, _, err, _ = ctx.clean(args)
            if status != 0:
                raise RuntimeError("clean %s failed: %s" % (" ".join(args), err))
        with open(os.path.join(ctx.work, "restore.params")) as f:
            truth["restore.params"] = f.read()
    truth["scan"] = clean_run(build, defs, Scan.sim_args, Scan().args(0))
    for op in ops:
        op.learn(build, defs, truth)
    return truth


def run_one(build, defs, truth, op, fault, seed, verbose):
    work = make_work(defs)
    with open(os.path.join(work, "restore.params"), "w") as f:
        f.write(truth["restore.params"])
    op.prepare(work, seed)
    before = set(os.listdir(work))
    sim_args = op.sim_args or ["--address", ADDRESS]
    faults = FAULTS[fault]
    unplug = 0
    if fault == "unplug":
        # Anywhere from the start of a short command to the middle of a long one.
        unplug = 0.005 * (seed % 40 + 1)
        faults = "unplug=%.3f" % unplug
    sim_args = sim_args + op.line + ["--faults", faults, "--seed", str(seed)]
    sim = Sim(build, sim_args, work)
    ctx = Context(build, work, sim)
    ctx.truth = truth
    try:
        status, out, err, seconds = op.run(ctx, seed)
        crashed = any(mark in err for mark in SANITIZER_MARKS)
        if status is None:
            verdict, why = "hang", "killed after %.1f s" % op.bound
        elif crashed or status < 0:
            verdict, why = "crash", err.strip()[-300:]
        else:
            sim.faults_off(unplug)
            if status == 0:
                wrong = op.verify(ctx, seed, out)
                verdict, why = ("success", "") if not wrong else (
                    ("false" if op.acknowledged else "unconfirmed"), wrong)
            elif err.strip():
                verdict, why = "truthful", err.strip().splitlines()[-1]
            else:
                verdict, why = "silent", "status %d and nothing on stderr" % status
        left = set(os.listdir(work)) - before - {op.output, ".sim-memory"}
        if left:
            verdict, why = "leftover", "left behind: %s" % sorted(left)
        elif verdict == "truthful" and op.output and hasattr(op, "unchanged_on_failure") \
                and not op.unchanged_on_failure(work):
            verdict, why = "leftover", "a failed save changed the older file"
        if verbose or verdict not in ("success", "truthful", "unconfirmed"):
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
    parser.add_argument("--slow-seeds", type=int, help="runs per cell of the operations that take "
                        "seconds on a clean line (update, flash read and write, address check, download); "
                        "default: --seeds")
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

    BUILD[0] = build
    truth = learn_truth(build, defs, ops)
    slow_seeds = a.seeds if a.slow_seeds is None else a.slow_seeds
    jobs = [(op, fault, seed) for op in ops for fault in faults
            for seed in range(a.first_seed, a.first_seed + (slow_seeds if op.slow else a.seeds))]
    started = time.monotonic()
    with ThreadPoolExecutor(max_workers=a.jobs) as pool:
        results = list(pool.map(lambda j: run_one(build, defs, truth, j[0], j[1], j[2], a.verbose), jobs))

    kinds = ["success", "truthful", "unconfirmed", "false", "silent", "hang", "crash", "leftover"]
    print("| operation | fault | runs | " + " | ".join(kinds) + " |")
    print("|---|---|---:|" + "---:|" * len(kinds))
    bad = 0
    for op in ops:
        for fault in faults:
            cell = [r for r in results if r[0] == op.name and r[1] == fault]
            counts = [sum(1 for r in cell if r[2] == k) for k in kinds]
            bad += sum(counts[3:])
            print("| %s | %s | %d | %s |" % (op.name, fault, len(cell), " | ".join(map(str, counts))))
    print("\n%d runs in %.0f s; %d false successes, silent failures, hangs, crashes or leftovers"
          % (len(results), time.monotonic() - started, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
