#!/usr/bin/env python3
"""The untimed preparation of one benchmark run, and the check of the run before.

  zulprep.py STATE LABEL log KEEP LOG
      LOG becomes a copy of KEEP (the program writes no log that has a second
      name); the run must cut the log below 30000 bytes.
  zulprep.py STATE LABEL install TWAIN COUNT EXPECTED
      TWAIN becomes a directory holding only the template; the run must
      install EXPECTED data sources of the devices 0000 to COUNT-1.
  zulprep.py STATE LABEL sweep TWAIN ENTRIES LEFT
      TWAIN holds ENTRIES data-source entries; the run must leave LEFT.

zulbench.py hands it to hyperfine as a case's --prepare command. STATE names
what the run after the previous preparation must have left: the command checks
that first, then prepares, then writes what the coming run must leave, so
every run, warm-up runs included, is checked before the next one starts. The
last run is checked by check_pending(STATE). Exit status: 0, or 1 with the
problem in STATE.problem (hyperfine shows no output of a preparation).

Only light modules are imported: hyperfine starts this once per run.
"""

import json
import os
import shutil
import sys

TEMPLATE = "qrvgnds2.tmp"
PREFIX = "zorb_"
LOG_CUT_BELOW = 30000


def instance_names(count):
    return ["%04d" % i for i in range(count)]


def fresh_twain(root):
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    with open(os.path.join(root, TEMPLATE), "wb") as f:
        f.write(b"generic data source template\r\n" * 64)


def make_entries(root, count):
    shutil.rmtree(root, ignore_errors=True)
    for inst in instance_names(count):
        os.makedirs(os.path.join(root, PREFIX + inst))
        with open(os.path.join(root, PREFIX + inst, PREFIX + inst + ".ds"), "wb") as f:
            f.write(b"data source\r\n")


def restore_log(keep, log):
    for name in (log, log[:-4] + "2.log"):
        if os.path.lexists(name):
            os.unlink(name)
    shutil.copyfile(keep, log)


def prepare(what):
    kind, args = what[0], what[1:]
    if kind == "log":
        restore_log(args[0], args[1])
    elif kind == "install":
        fresh_twain(args[0])
    elif kind == "sweep":
        make_entries(args[0], int(args[1]))
    else:
        raise ValueError("unknown preparation %r" % kind)


def check(what):
    """What is wrong with what a run left after prepare(what), or None."""
    kind, args = what[0], what[1:]
    if kind == "log":
        size = os.path.getsize(args[1]) if os.path.isfile(args[1]) else -1
        return None if 0 <= size < LOG_CUT_BELOW else "the log was not cut (%d bytes)" % size
    if kind == "install":
        root, count, expected = args[0], int(args[1]), int(args[2])
        made = sum(os.path.isfile(os.path.join(root, PREFIX + i, PREFIX + i + ".ds")) for i in instance_names(count))
        return None if made == expected else "%d data sources installed, expected %d" % (made, expected)
    if kind == "sweep":
        root, expected = args[0], int(args[2])
        left = len([e for e in os.listdir(root) if e.startswith(PREFIX)])
        return None if left == expected else "%d entries left, expected %d" % (left, expected)
    raise ValueError("unknown check %r" % kind)


def check_pending(state):
    """Checks what the run after the last preparation left; returns the problem or None."""
    try:
        with open(state) as f:
            pending = json.load(f)
    except FileNotFoundError:
        return None
    os.unlink(state)
    problem = check(pending["what"])
    return None if problem is None else "%s: %s" % (pending["label"], problem)


def prepare_run(state, label, what):
    problem = check_pending(state)
    if problem:
        return problem
    prepare(what)
    with open(state, "w") as f:
        json.dump({"label": label, "what": list(what)}, f)
    return None


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    state, label, what = argv[1], argv[2], argv[3:]
    try:
        problem = prepare_run(state, label, what)
    except (OSError, ValueError, IndexError) as e:
        problem = "%s: cannot prepare the run: %s" % (label, e)
    if problem:
        with open(state + ".problem", "w") as f:
            f.write(problem + "\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
