"""Runs ZULFuncts scenarios (*.scn) natively on the POSIX stand-in or under Wine.

  run-scenarios --backend native --program PATH [-k PATTERN] [--keep] SCENARIO_OR_DIR...
  run-scenarios --backend wine --program EXE --launcher LAUNCHER_EXE [-k PATTERN] [--keep] SCENARIO_OR_DIR...
  run-scenarios --update [--native PATH] [--wine EXE --launcher LAUNCHER_EXE] [-k PATTERN] SCENARIO_OR_DIR...

The format and the output are described in tests/scenarios/README.md.
"""

import argparse
import fnmatch
import os
import re
import shutil
import sys
import tempfile

from ..wine import WineError
from .backends import NativeBackend, WineBackend
from .format import ScenarioError, parse_scenario
from .run import run
from .update import update


def find_scenarios(paths, patterns):
    found = []
    for arg in paths:
        if os.path.isfile(arg):
            found.append((arg, os.path.basename(arg)[:-4] if arg.endswith(".scn") else os.path.basename(arg)))
        elif not os.path.isdir(arg):
            raise FileNotFoundError("no scenario or directory %s" % arg)
        for top, dirs, files in os.walk(arg):
            dirs.sort()
            found += [(os.path.join(top, f), os.path.relpath(os.path.join(top, f), arg)[:-4])
                      for f in sorted(files) if f.endswith(".scn")]
    return [(path, name) for path, name in found
            if not patterns or any(p in name or fnmatch.fnmatch(name, p) for p in patterns)]


def main(argv=None):
    parser = argparse.ArgumentParser(prog="run-scenarios", description="Run ZULFuncts scenarios.")
    parser.add_argument("--backend", choices=("native", "wine"))
    parser.add_argument("--program", help="the program (native) or the exe (wine)")
    parser.add_argument("--launcher", help="launcher.exe (wine)")
    parser.add_argument("--update", action="store_true",
                        help="write back the log and stdout sections the runs no longer match")
    parser.add_argument("--native", metavar="PATH", help="with --update: the native program")
    parser.add_argument("--wine", metavar="EXE", help="with --update: the exe run under Wine")
    parser.add_argument("--keep", action="store_true", help="keep scratch directories")
    parser.add_argument("-k", dest="patterns", action="append", default=[], metavar="PATTERN")
    parser.add_argument("scenarios", nargs="+", metavar="SCENARIO_OR_DIR")
    args = parser.parse_args(argv)
    if args.update:
        if args.backend or args.program or not (args.native or args.wine):
            parser.error("--update takes --native PATH and/or --wine EXE, not --backend/--program")
        if args.wine and not args.launcher:
            parser.error("--wine needs --launcher")
    elif not (args.backend and args.program) or args.native or args.wine:
        parser.error("give --backend and --program (--native and --wine go with --update)")
    elif args.backend == "wine" and not args.launcher:
        parser.error("--backend wine needs --launcher")
    try:
        scenarios = find_scenarios(args.scenarios, args.patterns)
    except OSError as e:
        print("run-scenarios: %s" % e, file=sys.stderr)
        return 2
    if not scenarios:
        print("run-scenarios: no scenarios found", file=sys.stderr)
        return 2
    if args.update:
        return main_update(args, scenarios)

    work = tempfile.mkdtemp(prefix="zulscn-")
    counts = {"PASS": 0, "FAIL": 0, "SKIP": 0}
    backend = None
    try:
        program = os.path.abspath(args.program)
        backend = (NativeBackend(program, work) if args.backend == "native"
                   else WineBackend(program, work, os.path.abspath(args.launcher)))
        for index, (path, name) in enumerate(scenarios, 1):
            problems = []
            try:
                scn = parse_scenario(path, name)
                reason = ("backends: %s" % " ".join(scn.backends) if backend.name not in scn.backends
                          else backend.skip_reason(scn))
            except (ScenarioError, OSError) as e:
                reason, problems = None, ["bad scenario: %s" % e]
            if not problems and not reason:
                scratch = os.path.join(work, "%03d-%s" % (index, re.sub(r"[^A-Za-z0-9_.-]", "_", name)))
                os.makedirs(scratch)
                try:
                    problems = run(scn, backend, scratch)
                except (ScenarioError, OSError, WineError) as e:
                    problems = ["error: %s" % e]
                if not args.keep:
                    shutil.rmtree(scratch, ignore_errors=True)
            verdict = "SKIP" if reason else ("FAIL" if problems else "PASS")
            counts[verdict] += 1
            print("%s %s%s" % (verdict, name, " (%s)" % reason if reason else ""))
            for p in problems:
                print("    " + p)
            sys.stdout.flush()
    except (OSError, WineError) as e:
        print("run-scenarios: %s" % e, file=sys.stderr)
        return 2
    finally:
        if backend:
            backend.close()
        if args.keep:
            print("scratch kept in %s" % work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed, %d skipped" % (counts["PASS"], counts["FAIL"], counts["SKIP"]))
    return 0 if counts["FAIL"] == 0 else 1


def main_update(args, scenarios):
    work = tempfile.mkdtemp(prefix="zulscn-")
    given = {}
    try:
        if args.native:
            given["native"] = NativeBackend(os.path.abspath(args.native), work)
        if args.wine:
            given["wine"] = WineBackend(os.path.abspath(args.wine), work, os.path.abspath(args.launcher))
        return update(scenarios, given, work, args.keep)
    except (OSError, WineError) as e:
        print("run-scenarios: %s" % e, file=sys.stderr)
        return 2
    finally:
        for backend in given.values():
            backend.close()
        if args.keep:
            print("scratch kept in %s" % work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
