#!/usr/bin/env python3
"""Performance figures of ZULFuncts, as ratios measured in one run.

  zulbench.py [--native-exe EXE] [--wine-exe EXE] [--prefix DIR] [--work DIR]
              [--runs N] [--turn N] [--measures LIST] [--markdown FILE] [--smoke]

Measures, on each platform given (the native build on the stand-in, the
Windows exe under Wine):

  log cap     MAddDS with an existing log of 1 GiB against one of 30 KB: the
              cap reads only the tail, so the times and the peak memory
              (/usr/bin/time -v) should match;
  start-up    (Wine) a refused command line (exit status 1) against an exe
              that does nothing and imports only KERNEL32 and the C runtime,
              and two more such exes that also import USER32, and USER32,
              SETUPAPI and ADVAPI32;
  devices     MAddDS on 16 and 64 marked imaging devices, logging on and off,
              and on 64 unmarked ones (enumeration and registry probes
              without a copy), against the same floor;
  sweep       MRemoveDS with 50, 200 and 800 entries in the TWAIN directory
              against 10 and 50 devices, logging off and on.

Timing is hyperfine's (1.15, --shell=none), each run after its preparation,
which is not timed. Hyperfine runs one case's runs in a row; so that a burst
of load from other jobs does not fall on one case only, a measure is timed in
rounds, one hyperfine run each with all its cases as commands and a turn of
--turn runs per case (warm-up runs in the first round). The preparations are
zulprep.py commands, which also check what the run before left; every run's
exit status comes from hyperfine's JSON export. Peak memory is one more run
of each log-cap case under /usr/bin/time -v. The table gives the median
and the minimum: the judged ratios are of medians, the costs derived from
differences (per device, per entry) of minimums, the figures least disturbed
by other load on the machine. --smoke runs tiny sizes once or twice to show
that everything works; it judges no figure. Exit status: 0, or 1 when a run
did not end as expected (a benchmark of a failing run would mean nothing) or
hyperfine is missing.
"""

import argparse
import json
import os
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import zulprep
from zulprep import PREFIX, instance_names

from harness.devices import MARKED, registry
from harness.machine import NativeMachine, WineMachine
from harness.wine import WinePrefix

HERE = os.path.dirname(os.path.abspath(__file__))
ZULPREP = os.path.join(HERE, "zulprep.py")

FULL = {"big_log": 1 << 30, "small_log": 30000, "devices": (16, 64), "entries": (50, 200, 800),
        "sweep_devices": (10, 50), "runs": 15, "startup_runs": 40, "warmup": 2, "turn": 3}
SMOKE = {"big_log": 4 << 20, "small_log": 30000, "devices": (2, 4), "entries": (5, 10),
         "sweep_devices": (2, 3), "runs": 2, "startup_runs": 2, "warmup": 1, "turn": 2}

# Limits the figures are judged by (full runs only).
LIMIT_LOG_CAP = 1.5
LIMIT_STARTUP = 1.3
LIMIT_PEAK_MEMORY = 1.05


# -- machines --------------------------------------------------------------

def set_devices(machine, count, marked=True):
    """Devices 0000 to count-1, all with InstallCLSID, the marked ones with MarelCLSID too."""
    machine.set_registry(registry([(inst, MARKED if marked else MARKED[:1]) for inst in instance_names(count)]))


def native_machine(exe, work):
    root = os.path.join(work, "native")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "temp"))
    return NativeMachine(exe, os.path.join(root, "sysroot"), os.path.join(root, "temp"))


def twain(machine):
    return os.path.join(machine.windows_dir, "twain_32")


# -- measuring -------------------------------------------------------------

class Case:
    """One command line to time; prepare: zulprep.py's arguments after the label, or None."""

    def __init__(self, label, machine, argv, status=0, prepare=None):
        self.label = label
        self.machine = machine
        self.argv = argv
        self.status = status
        self.prepare = prepare
        self.times = []
        self.peak_kib = None

    @property
    def median_ms(self):
        return statistics.median(self.times) * 1000.0

    @property
    def min_ms(self):
        return min(self.times) * 1000.0


class BenchError(Exception):
    pass


def hyperfine():
    path = shutil.which("hyperfine")
    if not path:
        raise BenchError("hyperfine not found (scripts/bootstrap installs it)")
    return path


class Timing:
    """How cases are timed: warm-up runs (first round only), timed runs per case and round, scratch directory."""

    def __init__(self, warmup, turn, work):
        self.warmup = warmup
        self.turn = turn
        self.work = work


def measure(cases, runs, timing):
    """Times the cases with hyperfine, in rounds that split the runs; every run's status and leavings are checked.

    Hyperfine runs one case's runs in a row, so a burst of load from other
    jobs would fall on one case only. Hence rounds, one hyperfine run each,
    that give each case a turn of a few runs.
    """
    rounds = max(1, -(-runs // max(1, timing.turn)))
    for case in cases:
        case.times = []
    for index in range(rounds):
        share = runs // rounds + (1 if index < runs % rounds else 0)
        hyperfine_round(cases, share, timing.warmup if index == 0 else 0, timing.work)


def hyperfine_round(cases, runs, warmup, work):
    state = os.path.join(work, "pending-check.json")
    problem_file = state + ".problem"
    export = os.path.join(work, "hyperfine.json")
    for name in (state, problem_file, export):
        if os.path.exists(name):
            os.unlink(name)
    prepared = [case.prepare is not None for case in cases]
    assert all(prepared) or not any(prepared), "hyperfine takes one --prepare per command or none"
    argv = [hyperfine(), "--shell=none", "--style=none", "--warmup", str(warmup), "--runs", str(runs),
            "--export-json", export]
    # Without it hyperfine stops at a non-zero status; where one is expected, the export is checked.
    if any(case.status != 0 for case in cases):
        argv.append("--ignore-failure")
    for case in cases:
        argv += ["--command-name", case.label]
        if case.prepare is not None:
            argv += ["--prepare", shlex.join([sys.executable, "-S", ZULPREP, state, case.label] + case.prepare)]
    argv += [shlex.join(case.argv) for case in cases]
    with tempfile.TemporaryFile(dir=work) as err:
        status = subprocess.run(argv, env=cases[0].machine.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=err).returncode
        err.seek(0)
        said = err.read().decode("utf-8", "replace").strip()
    if os.path.exists(problem_file):
        with open(problem_file) as f:
            raise BenchError(f.read().strip())
    if status != 0:
        raise BenchError("hyperfine failed (status %d): %s" % (status, said.splitlines()[-1] if said else ""))
    with open(export) as f:
        results = json.load(f)["results"]
    for case, result in zip(cases, results):
        wrong = [code for code in result["exit_codes"] if code != case.status]
        if wrong:
            raise BenchError("%s: exit status %s, expected %d" % (case.label, wrong[0], case.status))
        case.times += result["times"]
    problem = zulprep.check_pending(state)
    if problem:
        raise BenchError(problem)


def peak_memory(case):
    """Maximum resident set size of one more run, from /usr/bin/time -v, in KiB."""
    if case.prepare is not None:
        zulprep.prepare(case.prepare)
    res = subprocess.run(["/usr/bin/time", "-v"] + case.argv, env=case.machine.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if res.returncode != case.status:
        raise BenchError("%s: exit status %d under /usr/bin/time, expected %d" % (case.label, res.returncode,
                                                                                  case.status))
    problem = zulprep.check(case.prepare) if case.prepare is not None else None
    if problem:
        raise BenchError("%s: %s" % (case.label, problem))
    for line in res.stderr.decode("latin-1").splitlines():
        if "Maximum resident set size" in line:
            case.peak_kib = int(line.rsplit(":", 1)[1])
            return case.peak_kib
    raise BenchError("%s: /usr/bin/time -v gave no peak memory" % case.label)


# -- the measures ----------------------------------------------------------

def make_log(path, size):
    """A log of exactly size bytes made of the program's own kind of lines."""
    block = b"".join(b"12:00:00\t01/01/24\t\r\nSetupDiEnumDeviceInfo returned 1, m_idx = %d\r\n" % i
                     for i in range(20000))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            chunk = block[:left]
            f.write(chunk)
            left -= len(chunk)


def log_cap(machine, sizes, work):
    """MAddDS with a large and a small existing log, each restored before every run (untimed) by a copy."""
    machine.clean()
    set_devices(machine, 0)
    zulprep.fresh_twain(twain(machine))
    cases = []
    for label, size in (("log 1 GiB" if sizes["big_log"] == 1 << 30 else "log %d MiB" % (sizes["big_log"] >> 20),
                         sizes["big_log"]), ("log 30 KB", sizes["small_log"])):
        keep = os.path.join(work, "%s-%d.log" % (machine.name, size))
        if not os.path.isfile(keep) or os.path.getsize(keep) != size:
            make_log(keep, size)
        log = os.path.join(machine.temp_dir, "_add_ds.log")
        cases.append(Case(label, machine, machine.argv(["MAddDS"]), prepare=["log", keep, log]))
    return cases


def floor_exes(exe, work):
    """The three start-up floors, built for the exe's architecture."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    machine = struct.unpack_from("<H", head, pe + 4)[0]
    triple = "x86_64-w64-mingw32" if machine == 0x8664 else "i686-w64-mingw32"
    out = {}
    for name, flags in (("kernel32", []), ("user32", ["-DFLOOR_USER32", "-luser32"]),
                        ("all", ["-DFLOOR_ALL", "-lsetupapi", "-ladvapi32", "-luser32"])):
        target = os.path.join(work, "floor-%s-%s.exe" % (triple.split("-")[0], name))
        src = os.path.join(HERE, "floor.c")
        if not os.path.isfile(target) or os.path.getmtime(target) < os.path.getmtime(src):
            subprocess.run(["%s-gcc" % triple, "-std=c11", "-Wall", "-Wextra", "-Os", "-s", "-static", "-mwindows",
                            "-o", target, src] + flags, check=True)
        out[name] = target
    return out


def startup(machine, floors):
    set_devices(machine, 0)
    return [Case("refused command line", machine, machine.argv(["XX"]), status=1),
            Case("floor: KERNEL32 + C runtime", machine, machine.argv(["x"], floors["kernel32"]), status=1),
            Case("floor + USER32", machine, machine.argv(["x"], floors["user32"]), status=1),
            Case("floor + USER32, SETUPAPI, ADVAPI32", machine, machine.argv(["x"], floors["all"]), status=1)]


def log_flag(logging):
    return "1" if logging else "0"


def devices(machine, count, marked):
    """MAddDS on count devices, logging off and on; every run installs into an empty TWAIN directory."""
    prepare = ["install", twain(machine), str(count), str(count if marked else 0)]
    return [Case("MAddDS, %d %s devices, log %s" % (count, "marked" if marked else "unmarked",
                                                    "on" if logging else "off"),
                 machine, machine.argv(["MAddDS", PREFIX, "DeviceData", "InstallCLSID", log_flag(logging)]),
                 prepare=prepare)
            for logging in (False, True)]


def sweep(machine, count, entries):
    """MRemoveDS against count devices with each number of entries, logging off and on."""
    cases = []
    for n in entries:
        prepare = ["sweep", twain(machine), str(n), str(min(count, n))]
        for logging in (False, True):
            cases.append(Case("MRemoveDS, %d entries, %d devices, log %s" % (n, count, "on" if logging else "off"),
                              machine, machine.argv(["MRemoveDS", PREFIX, "DeviceData", "InstallCLSID",
                                                     log_flag(logging)]),
                              prepare=prepare))
    return cases


# -- report ----------------------------------------------------------------

class Report:
    def __init__(self):
        self.rows = []
        self.verdicts = []
        self.findings = []

    def add(self, section, case, reference=None, note=""):
        """A table row; the ratio is the case's median over the reference's."""
        ratio = case.median_ms / reference.median_ms if reference else None
        against = "" if reference is None or reference is case else reference.label
        self.rows.append((section, case.machine.name, case.label, case.median_ms, case.min_ms,
                          ratio, against, note))
        return ratio

    def judge(self, what, value, limit, smoke):
        if not smoke:
            self.verdicts.append("%s: %.2f (limit %.2f) %s" % (what, value, limit,
                                                              "met" if value <= limit else "NOT met"))

    def finding(self, text):
        self.findings.append(text)

    def markdown(self):
        out = ["| measure | platform | case | median ms | min ms | ratio | against | note |",
               "|---|---|---|---:|---:|---:|---|---|"]
        for section, platform, label, median, least, ratio, against, note in self.rows:
            out.append("| %s | %s | %s | %.1f | %.1f | %s | %s | %s |" % (
                section, platform, label, median, least, "%.2f" % ratio if ratio is not None else "", against, note))
        return "\n".join(out) + "\n"


MEASURES = ("cap", "start-up", "devices", "sweep")


def bench_machine(machine, sizes, args, report, floors):
    runs = args.runs or sizes["runs"]
    timing = Timing(sizes["warmup"], args.turn or sizes["turn"], args.work)

    # Log cap.
    if "cap" in args.measures:
        bench_log_cap(machine, sizes, args, report, runs, timing)
    # Start-up (Wine only: natively there is no platform floor to compare with).
    floor = None
    if floors and ({"start-up", "devices"} & args.measures):
        floor = bench_startup(machine, floors, sizes, args, report, timing)
    if "devices" in args.measures:
        bench_devices(machine, sizes, report, runs, timing, floor)
    if "sweep" in args.measures:
        bench_sweep(machine, sizes, report, runs, timing)


def bench_log_cap(machine, sizes, args, report, runs, timing):
    name = machine.name
    cap = log_cap(machine, sizes, args.work)
    measure(cap, runs, timing)
    big, small = cap
    for case in cap:
        peak_memory(case)
    ratio = report.add("log cap", big, small, "peak %d KiB" % big.peak_kib)
    report.add("log cap", small, small, "peak %d KiB" % small.peak_kib)
    report.judge("%s: log cap, time ratio" % name, ratio, LIMIT_LOG_CAP, args.smoke)
    report.judge("%s: log cap, peak memory ratio" % name, big.peak_kib / small.peak_kib, LIMIT_PEAK_MEMORY,
                 args.smoke)
    machine.clean()


def bench_startup(machine, floors, sizes, args, report, timing):
    """Returns the floor case, which the per-device figures are set against."""
    cases = startup(machine, floors)
    measure(cases, args.runs or sizes["startup_runs"], timing)
    refused, floor = cases[0], cases[1]
    ratio = report.add("start-up", refused, floor)
    for case in cases[1:]:
        report.add("start-up", case, floor)
    report.judge("%s: start-up, refused command line against the floor" % machine.name, ratio, LIMIT_STARTUP,
                 args.smoke)
    return floor


def bench_devices(machine, sizes, report, runs, timing, floor):
    """One registry and one measure per group of cases (logging off and on)."""
    name = machine.name
    low, high = sizes["devices"]
    groups = {}
    for count, marked in ((low, True), (high, True), (high, False)):
        set_devices(machine, count, marked)
        groups[count, marked] = devices(machine, count, marked)
        measure(groups[count, marked], runs, timing)
        machine.clean()
    for logging in (0, 1):
        for key in ((low, True), (high, True), (high, False)):
            report.add("devices", groups[key][logging], floor)
        per = (groups[high, True][logging].min_ms - groups[low, True][logging].min_ms) / (high - low)
        copy = (groups[high, True][logging].min_ms - groups[high, False][logging].min_ms) / high
        report.finding("%s, log %s: MAddDS costs %.2f ms per marked device, of which %.2f ms are its own "
                       "directory, copy and log lines (the rest: enumeration and registry probes)"
                       % (name, "on" if logging else "off", per, copy))


def bench_sweep(machine, sizes, report, runs, timing):
    """One registry and one measure per device count, for all numbers of entries and both logging states."""
    name = machine.name
    entries = sizes["entries"]
    counts = sizes["sweep_devices"]
    most = {}
    for count in counts:
        set_devices(machine, count, True)
        cases = sweep(machine, count, entries)
        measure(cases, runs, timing)
        machine.clean()
        for i, case in enumerate(cases):
            report.add("sweep", case, cases[i % 2])
        for logging in (0, 1):
            first, last = cases[logging], cases[len(cases) - 2 + logging]
            most[count, logging] = last.min_ms
            report.finding("%s, %d devices, log %s: %d to %d entries (x%g) takes x%.1f the time, %.3f ms per entry"
                           % (name, count, "on" if logging else "off", entries[0], entries[-1],
                              entries[-1] / entries[0], last.min_ms / first.min_ms,
                              (last.min_ms - first.min_ms) / (entries[-1] - entries[0])))
    if len(counts) > 1:
        for logging in (0, 1):
            report.finding("%s, %d entries, log %s: %d to %d devices (x%g) takes x%.1f the time"
                           % (name, entries[-1], "on" if logging else "off", counts[0], counts[-1],
                              counts[-1] / counts[0], most[counts[-1], logging] / most[counts[0], logging]))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native-exe", help="the native build (Release, no sanitizers, for true figures)")
    parser.add_argument("--wine-exe", help="the Windows exe, run under Wine")
    parser.add_argument("--prefix", help="Wine prefix (default: a temporary one)")
    parser.add_argument("--work", help="scratch directory, on the prefix's file system (default: a temporary one)")
    parser.add_argument("--runs", type=int, help="timed runs per case")
    parser.add_argument("--turn", type=int, help="timed runs per case in one hyperfine run; the cases of a "
                        "measure take turns (default: 3)")
    parser.add_argument("--measures", default=",".join(MEASURES),
                        help="comma-separated subset of %s (default: all)" % ", ".join(MEASURES))
    parser.add_argument("--markdown", help="write the table to this file as well")
    parser.add_argument("--smoke", action="store_true", help="tiny sizes, few runs: shows that it works")
    args = parser.parse_args()
    if not args.native_exe and not args.wine_exe:
        parser.error("give --native-exe, --wine-exe or both")
    args.measures = set(args.measures.split(","))
    if not args.measures <= set(MEASURES):
        parser.error("unknown measure in --measures")
    sizes = SMOKE if args.smoke else FULL
    scratch = None
    if not args.work:
        scratch = tempfile.mkdtemp(prefix="zulbench-")
        args.work = scratch
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)

    report = Report()
    started = time.monotonic()
    try:
        if args.native_exe:
            machine = native_machine(args.native_exe, args.work)
            try:
                bench_machine(machine, sizes, args, report, None)
            finally:
                machine.close()
        if args.wine_exe:
            floors = floor_exes(args.wine_exe, args.work)
            prefix_dir = args.prefix or os.path.join(args.work, "prefix")
            machine = WineMachine(args.wine_exe, WinePrefix(prefix_dir))
            machine.clean()
            try:
                bench_machine(machine, sizes, args, report, floors)
            finally:
                machine.close()
    except BenchError as e:
        print("zulbench: " + str(e), file=sys.stderr)
        return 1
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)

    table = report.markdown()
    text = table + "\n" + "".join("- %s\n" % line for line in report.verdicts + report.findings)
    print(text)
    print("(%s run, %.0f s)" % ("smoke" if args.smoke else "full", time.monotonic() - started))
    if args.markdown:
        write_markdown(args.markdown, text)
    return 0


MARKDOWN_MARK = "<!-- bench/run writes the table below this line"


def write_markdown(path, text):
    """Writes text to path, below the line holding MARKDOWN_MARK when the file has one."""
    kept = ""
    try:
        with open(path) as f:
            old = f.read()
        at = old.find(MARKDOWN_MARK)
        if at >= 0:
            kept = old[:old.index("\n", at) + 1]
    except OSError:
        pass
    with open(path, "w") as f:
        f.write(kept + text)


if __name__ == "__main__":
    sys.exit(main())
