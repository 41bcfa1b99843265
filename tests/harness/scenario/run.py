"""One run of a scenario on one backend, and the checks of what it wrote."""

import os

from .check import Roots, check_text, compare_tree, seed

TIMEOUT = 60


def execute(scn, backend, scratch):
    """Runs one scenario: the problems of its exit status and file tree, and what it wrote
    (log name -> text or None, "stdout" -> text, "subst" -> the machine's placeholders)."""
    machine = backend.prepare(scn, scratch)
    cwd = os.path.join(scratch, "cwd")
    os.makedirs(cwd)
    os.makedirs(os.path.join(scratch, "scratch"))
    roots = Roots(machine.windows_dir, machine.temp_dir, os.path.join(scratch, "scratch"), cwd, backend.complete)
    seed(scn.before, roots)
    out_path, err_path = os.path.join(scratch, "stdout.txt"), os.path.join(scratch, "stderr.txt")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        status = machine.run(scn.command, out, err, cwd, TIMEOUT)
    problems = []
    if status is None:
        problems.append("timed out")
    elif status < 0:
        problems.append("killed by signal %d (expected exit %d)" % (-status, scn.exit))
    elif status != (scn.exit & 0xFF):
        problems.append("exit status %d, expected %d" % (status, scn.exit))
    if scn.after is not None:
        problems += compare_tree(scn.after, roots)
    seen = {"subst": machine.subst, "logs": {}, "stdout": None, "stderr": err_path}
    for check in scn.logs:
        try:
            with open(roots.real("temp/" + check.name), "rb") as f:
                seen["logs"][check.name] = f.read().decode("latin-1")
        except OSError:
            seen["logs"][check.name] = None
    if backend.name == "native":
        with open(out_path, "rb") as f:
            seen["stdout"] = f.read().decode("latin-1")
        if scn.stdout is None and seen["stdout"]:
            problems.append("unexpected stdout: %r" % seen["stdout"][:200])
    return problems, seen


def text_problems(check, seen):
    """The problems of one log or stdout section against what the run wrote."""
    data = seen["stdout"] if check.kind == "stdout" else seen["logs"].get(check.name)
    if data is None:
        return ["log %s: missing" % check.name]
    eol = "\n" if check.kind == "stdout" else "\r\n"
    label = "stdout: " if check.kind == "stdout" else "log %s: " % check.name
    return [p if p.startswith("  ") else label + p for p in check_text(check, data, eol, seen["subst"])]


def sections(scn, backend_name):
    """The log and stdout sections a backend checks."""
    return scn.logs + ([scn.stdout] if scn.stdout is not None and backend_name == "native" else [])


def stderr_tail(seen):
    with open(seen["stderr"], "rb") as f:
        err = f.read().decode("latin-1").splitlines()
    return ["stderr (last lines):"] + ["  " + line for line in err[-15:]] if err else []


def run(scn, backend, scratch):
    """The problems of one run (an empty list: it passed)."""
    problems, seen = execute(scn, backend, scratch)
    for check in sections(scn, backend.name):
        problems += text_problems(check, seen)
    return problems + stderr_tail(seen) if problems else []
