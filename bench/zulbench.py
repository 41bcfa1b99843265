#!/usr/bin/env python3
"""ZULFuncts against its references: ratios of medians timed in one run (bench/results.md tells which).

  zulbench.py [--native BUILD] [--wine BUILD] [--prefix DIR] [--work DIR] [--runs N] [--markdown FILE] [--smoke]

BUILD: a build directory with ZULFuncts (natively, on the stand-in) or ZULFuncts.exe (under Wine), and
bench/zul_floor and bench/zul_work_floor. --smoke: tiny sizes, two runs, to show that everything works.
Exit status: 0, or 1 when a run did not end as expected (a measure of a failed run would mean nothing).
"""

import argparse
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from harness.devices import MARKED, registry
from harness.machine import NativeMachine, WineMachine
from harness.wine import WinePrefix

FULL = {"log": 1 << 30, "devices": 64, "entries": 200, "sweep_devices": 10, "runs": 15, "startup_runs": 40,
        "traced_runs": 3}
SMOKE = {"log": 4 << 20, "devices": 3, "entries": 6, "sweep_devices": 2, "runs": 2, "startup_runs": 2,
         "traced_runs": 1}
SMALL_LOG = 30000
TEMPLATE = "qrvgnds2.tmp"
PREFIX = "zorb_"
LIMITS = {"start-up": 1.3, "log cap": 1.5}
# System calls of the program and wineserver against the work floor's, the goal of each case under Wine
# (natively the stand-in's calls are shown, not judged).
SYSCALL_GOALS = {"MAddDS": {"log off": 1.4}, "MRemoveDS": {"log off": 1.6}}


class BenchError(Exception):
    pass


class Case:
    """A command line; prepare() runs untimed before each run, check() after it tells what is wrong or None."""

    def __init__(self, label, argv, status=0, prepare=None, check=None):
        self.label, self.argv, self.status = label, argv, status
        self.prepare, self.check = prepare, check
        self.times = []
        self.cpu = []  # seconds of CPU of an untimed run's program (and wineserver), by run
        self.syscalls = []  # (the program's, wineserver's) by traced run

    @property
    def median_cpu_ms(self):
        return statistics.median(self.cpu) * 1000.0 if self.cpu else 0.0

    @property
    def median_syscalls(self):
        return statistics.median(sum(pair) for pair in self.syscalls) if self.syscalls else 0

    @property
    def median_ms(self):
        return statistics.median(self.times) * 1000.0


def instances(count):
    return ["%04d" % i for i in range(count)]


def set_devices(machine, count):
    """Devices 0000 to count-1, all marked."""
    machine.set_registry(registry([(inst, MARKED) for inst in instances(count)]))


def install(twain, count):
    """MAddDS's preparation and check: a TWAIN directory with only the template; a data source per device after."""

    def prepare():
        shutil.rmtree(twain, ignore_errors=True)
        os.makedirs(twain)
        with open(os.path.join(twain, TEMPLATE), "wb") as f:
            f.write(b"generic data source template\r\n" * 64)

    def check():
        made = sum(os.path.isfile(os.path.join(twain, PREFIX + i, PREFIX + i + ".ds")) for i in instances(count))
        return None if made == count else "%d data sources installed, expected %d" % (made, count)

    return prepare, check


def sweep(twain, entries, devices):
    """MRemoveDS's: entries data sources; those of the devices left after."""

    def prepare():
        shutil.rmtree(twain, ignore_errors=True)
        for inst in instances(entries):
            os.makedirs(os.path.join(twain, PREFIX + inst))
            with open(os.path.join(twain, PREFIX + inst, PREFIX + inst + ".ds"), "wb") as f:
                f.write(b"data source\r\n")

    def check():
        left = len([e for e in os.listdir(twain) if e.startswith(PREFIX)])
        kept = min(devices, entries)
        return None if left == kept else "%d entries left, expected %d" % (left, kept)

    return prepare, check


def log_of(path, size):
    """The log cap's: a log of size bytes ending in the program's own kind of lines, the rest a hole (made at
    once); a log cut below 30 KB after."""
    tail = b"".join(b"12:00:00\t01/01/24\t\r\nSetupDiEnumDeviceInfo returned 1, m_idx = %d\r\n" % i
                    for i in range(1000))[-SMALL_LOG:]

    def prepare():
        with open(path, "wb") as f:
            f.truncate(size - len(tail))
            f.seek(0, os.SEEK_END)
            f.write(tail)

    def check():
        cut = os.path.getsize(path) if os.path.isfile(path) else -1
        return None if 0 <= cut < SMALL_LOG else "the log was not cut (%d bytes)" % cut

    return prepare, check


def measure(machine, cases, runs):
    """Times the cases by turns, one warm-up round first; the order turns too."""
    for case in cases:
        case.times = []
    for index in range(runs + 1):
        shift = index % len(cases)
        for case in cases[shift:] + cases[:shift]:
            if case.prepare:
                case.prepare()
            server_before = server_cpu(machine)
            children_before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            status = subprocess.run(case.argv, env=machine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL).returncode
            elapsed = time.perf_counter() - start
            children = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu = (children.ru_utime - children_before.ru_utime) + (children.ru_stime - children_before.ru_stime)
            cpu += server_cpu(machine) - server_before
            if status != case.status:
                raise BenchError("%s, %s: exit status %d, expected %d" % (machine.name, case.label, status,
                                                                          case.status))
            problem = case.check() if case.check else None
            if problem:
                raise BenchError("%s, %s: %s" % (machine.name, case.label, problem))
            if index:
                case.times.append(elapsed)
                case.cpu.append(cpu)


def server_pid(machine):
    """The persistent wineserver of the machine's prefix (its WINEPREFIX), or None natively."""
    prefix = machine.env.get("WINEPREFIX") if machine.name == "wine" else None
    if not prefix:
        return None
    if getattr(machine, "_server_pid", None):
        return machine._server_pid
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if not f.read().startswith("wineserver"):  # wineserver32, wineserver64
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = dict(v.split(b"=", 1) for v in f.read().split(b"\0") if b"=" in v)
        except OSError:
            continue
        if os.path.realpath(env.get(b"WINEPREFIX", b"").decode()) == os.path.realpath(prefix):
            machine._server_pid = int(pid)
            return machine._server_pid
    raise BenchError("no wineserver of the prefix %s" % prefix)


def server_cpu(machine):
    """Seconds of CPU the machine's wineserver has used so far (0 natively)."""
    pid = server_pid(machine)
    if pid is None:
        return 0.0
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def strace_total(path):
    """The calls of a strace -c summary: the sum of its total lines (one per personality: Wine's 64-bit
    launcher and its 32-bit process are summed apart)."""
    totals = []
    with open(path) as f:
        for line in f:
            if line.split()[-1:] == ["total"]:
                totals.append(int(line.split()[3]))  # % time, seconds, usecs/call, calls[, errors], total
    if not totals:
        raise BenchError("no total in %s" % path)
    return sum(totals)


def count_syscalls(machine, cases, runs, work):
    """Traced runs: strace -f -c over the program, and strace -c attached to the persistent wineserver."""
    pid = server_pid(machine)
    # A sanitized build's leak check refuses to run under ptrace.
    env = dict(machine.env)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    for case in cases:
        case.syscalls = []
        for _ in range(runs):
            if case.prepare:
                case.prepare()
            server_out, program_out = os.path.join(work, "server.strace"), os.path.join(work, "program.strace")
            tracer = None
            if pid is not None:
                tracer = subprocess.Popen(["strace", "-c", "-f", "-o", server_out, "-p", str(pid)],
                                          stderr=subprocess.PIPE)
                tracer.stderr.readline()  # "Process N attached"
            status = subprocess.run(["strace", "-f", "-c", "-o", program_out] + case.argv, env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL).returncode
            server = 0
            if tracer:
                time.sleep(0.2)  # the server's last replies
                tracer.send_signal(signal.SIGINT)
                tracer.communicate(timeout=30)
                server = strace_total(server_out)
            if status != case.status:
                raise BenchError("%s, %s traced: exit status %d" % (machine.name, case.label, status))
            problem = case.check() if case.check else None
            if problem:
                raise BenchError("%s, %s traced: %s" % (machine.name, case.label, problem))
            case.syscalls.append((strace_total(program_out), server))


def bench_machine(machine, build, sizes, runs, rows, work):
    """Adds (platform, measure, case, reference) rows, measured on machine."""
    ext = ".exe" if machine.name == "wine" else ""
    floor = os.path.join(build, "bench", "zul_floor" + ext)
    work_floor = os.path.join(build, "bench", "zul_work_floor" + ext)
    twain = os.path.join(machine.windows_dir, "twain_32")

    def add(what, reference, cases, count, traced=False):
        machine.clean()
        measure(machine, [reference] + cases, runs or count)
        if traced:
            count_syscalls(machine, [reference] + cases, sizes["traced_runs"], work)
        rows.extend((machine.name, what, case, reference) for case in cases)

    def logging_off_and_on(label, command, done):
        return [Case("%s, log %s" % (label, ("off", "on")[on]), machine.argv([command, PREFIX, "DeviceData",
                                                                              "InstallCLSID", str(on)]), 0, *done)
                for on in (0, 1)]

    set_devices(machine, 0)
    add("start-up", Case("empty exe", machine.argv(["XX"], floor)),
        [Case("refused command line", machine.argv(["XX"]), status=1)], sizes["startup_runs"])

    log = os.path.join(machine.temp_dir, "_add_ds.log")
    big = "log %d MiB" % (sizes["log"] >> 20) if sizes["log"] < 1 << 30 else "log 1 GiB"
    add("log cap", Case("log 30 KB", machine.argv(["MAddDS"]), 0, *log_of(log, SMALL_LOG)),
        [Case(big, machine.argv(["MAddDS"]), 0, *log_of(log, sizes["log"]))], sizes["runs"])

    count = sizes["devices"]
    set_devices(machine, count)
    done = install(twain, count)
    add("MAddDS", Case("work floor", machine.argv(["MAddDS", PREFIX, "DeviceData"], work_floor), 0, *done),
        logging_off_and_on("%d devices" % count, "MAddDS", done), sizes["runs"], True)

    entries, count = sizes["entries"], sizes["sweep_devices"]
    set_devices(machine, count)
    done = sweep(twain, entries, count)
    add("MRemoveDS", Case("work floor", machine.argv(["MRemoveDS", PREFIX], work_floor), 0, *done),
        logging_off_and_on("%d entries, %d devices" % (entries, count), "MRemoveDS", done), sizes["runs"], True)


def markdown(rows, judge):
    out = ["| platform | measure | case | ms | reference | ms | ratio | limit |",
           "|---|---|---|---:|---|---:|---:|---|"]
    for platform, measure, case, reference in rows:
        ratio = case.median_ms / reference.median_ms
        limit = LIMITS.get(measure)
        verdict = "" if limit is None else "≤ %.1f%s" % (limit, " NOT MET" if judge and ratio > limit else "")
        out.append("| %s | %s | %s | %.1f | %s | %.1f | %.2f | %s |" % (
            platform, measure, case.label, case.median_ms, reference.label, reference.median_ms, ratio, verdict))
    out += ["", "| platform | measure | case | system calls | work floor | ratio | goal | CPU ms | floor CPU ms |",
            "|---|---|---|---:|---:|---:|---|---:|---:|"]
    for platform, measure, case, reference in rows:
        if not case.syscalls:
            continue
        ratio = case.median_syscalls / reference.median_syscalls
        goals = SYSCALL_GOALS.get(measure, {}) if platform == "wine" else {}
        goal = next((g for key, g in goals.items() if key in case.label), None)
        verdict = "" if goal is None else "≤ %.1f%s" % (goal, " NOT MET" if judge and ratio > goal else "")
        out.append("| %s | %s | %s | %d | %d | %.2f | %s | %.1f | %.1f |" % (
            platform, measure, case.label, case.median_syscalls, reference.median_syscalls, ratio, verdict,
            case.median_cpu_ms, reference.median_cpu_ms))
    return "\n".join(out) + "\n"


MARKDOWN_MARK = "<!-- bench/run writes the table below this line"


def write_markdown(path, text):
    """Writes text to path, below the line holding MARKDOWN_MARK when the file has one."""
    kept = ""
    if os.path.isfile(path):
        with open(path, encoding="utf-8") as f:
            old = f.read()
        at = old.find(MARKDOWN_MARK)
        if at >= 0:
            kept = old[:old.index("\n", at) + 1]
    with open(path, "w", encoding="utf-8") as f:
        f.write(kept + text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native", metavar="BUILD", help="native build directory (Release, no sanitizers, "
                        "for true figures)")
    parser.add_argument("--wine", metavar="BUILD", help="Windows build directory, run under Wine")
    parser.add_argument("--prefix", help="Wine prefix (default: a temporary one)")
    parser.add_argument("--work", help="scratch directory (default: a temporary one)")
    parser.add_argument("--runs", type=int, help="timed runs per case (default: 15, start-up 40)")
    parser.add_argument("--markdown", help="write the table to this file as well")
    parser.add_argument("--smoke", action="store_true", help="tiny sizes, two runs: shows that it works")
    args = parser.parse_args()
    if not args.native and not args.wine:
        parser.error("give --native, --wine or both")
    sizes = SMOKE if args.smoke else FULL
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="zulbench-"))
    os.makedirs(work, exist_ok=True)
    rows = []
    started = time.monotonic()
    try:
        if args.native:
            root = os.path.join(work, "native")
            shutil.rmtree(root, ignore_errors=True)
            os.makedirs(os.path.join(root, "temp"))
            machine = NativeMachine(os.path.join(args.native, "ZULFuncts"), os.path.join(root, "sysroot"),
                                    os.path.join(root, "temp"))
            bench_machine(machine, args.native, sizes, args.runs, rows, work)
        if args.wine:
            machine = WineMachine(os.path.join(args.wine, "ZULFuncts.exe"),
                                  WinePrefix(args.prefix or os.path.join(work, "prefix")))
            try:
                bench_machine(machine, args.wine, sizes, args.runs, rows, work)
            finally:
                machine.close()
    except BenchError as e:
        print("zulbench: " + str(e), file=sys.stderr)
        return 1
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    text = markdown(rows, not args.smoke)
    print(text)
    print("(%s run, %.0f s)" % ("smoke" if args.smoke else "full", time.monotonic() - started))
    if args.markdown:
        write_markdown(args.markdown, text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
