#!/usr/bin/env python3
"""run-scenarios --update on both backends: scenarios whose expected lines are made
stale are written back to what the program writes, with their placeholders, stamps,
includes and unordered sections as they were, and then pass on both backends; the
tracked Markdown documents of their checkout that restate a replaced line are named.

  test_update.py --runner RUN_SCENARIOS --native PROGRAM --wine EXE --launcher LAUNCHER_EXE SCENARIOS_DIR
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# Scenario -> how its first log or stdout section is made stale: ("reword", i) appends
# to, ("drop", i) removes the i-th literal line (not <...>, not blank) of the section.
# Lines are named by place, not text, so that a reworded log line leaves this test alone.
STALE = {
    # Ordered, with %WINDIR% and stamps.
    "madds-installs-template-for-marked-device": [("reword", -2), ("drop", 12)],
    # An include of the earlier log before the reworded line.
    "log-cap-25601-bytes": [("reword", 0)],
    "mremoveds-removes-instances-without-device": [("drop", 6)],  # unordered
    "windows-directory-too-long-for-paths": [("reword", 8)],  # native only
    "usage-empty": [("reword", -1)],  # standard output, native
}


def stale(path, changes):
    """Makes the section stale; returns the reworded lines."""
    with open(path, encoding="latin-1", newline="") as f:
        lines = f.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith(("= log ", "= stdout")))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("= ")), len(lines))
    literal = [i for i in range(start + 1, end) if lines[i].strip() and not lines[i].startswith("<")]
    reworded = []
    for how, at in sorted(changes, key=lambda c: -literal[c[1]]):
        if how == "reword":
            lines[literal[at]] += " (stale)"
            reworded.append(lines[literal[at]].rstrip("\r"))
        else:
            del lines[literal[at]]
    with open(path, "w", encoding="latin-1", newline="") as f:
        f.write("\n".join(lines))
    return reworded


# Documents of the scratch checkout (path, tracked) that restate a reworded line on line 3.
DOCS = (("README.md", True), ("docs/guide.md", True), ("notes.md", False))


def restate(work, line):
    subprocess.run(["git", "init", "-q", work], check=True)
    for doc, tracked in DOCS:
        os.makedirs(os.path.dirname(os.path.join(work, doc)), exist_ok=True)
        with open(os.path.join(work, doc), "w", encoding="latin-1") as f:
            f.write("# Log\n\nThe run ends with `%s`.\n" % line)
        if tracked:
            subprocess.run(["git", "add", doc], cwd=work, check=True)


def main():
    parser = argparse.ArgumentParser()
    for opt in ("--runner", "--native", "--wine", "--launcher"):
        parser.add_argument(opt, required=True)
    parser.add_argument("scenarios")
    args = parser.parse_args()
    if not os.access(args.native, os.X_OK):
        print("SKIP: no native program at %s (cmake --build --preset native)" % args.native)
        return 77
    work = tempfile.mkdtemp(prefix="zulupdate-")
    try:
        top = os.path.join(work, "program")
        os.makedirs(top)
        shutil.copytree(os.path.join(args.scenarios, "..", "fixtures"), os.path.join(work, "fixtures"))
        originals = {}
        for name in STALE:
            src = os.path.join(args.scenarios, name + ".scn")
            with open(src, "rb") as f:
                originals[name] = f.read()
            shutil.copy(src, top)
        reworded = [line for name, changes in STALE.items()
                    for line in stale(os.path.join(top, name + ".scn"), changes)]
        restate(work, reworded[-1])

        both = ["--native", args.native, "--wine", args.wine, "--launcher", args.launcher]
        res = subprocess.run([args.runner, "--update"] + both + [top], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, universal_newlines=True)
        print(res.stdout)
        problems = []
        if res.returncode != 0:
            problems.append("--update exited with %d" % res.returncode)
        for name in STALE:
            if "UPDATE %s:" % name not in res.stdout:
                problems.append("%s: not reported as updated" % name)
            with open(os.path.join(top, name + ".scn"), "rb") as f:
                if f.read() != originals[name]:
                    problems.append("%s: not written back to the scenario as committed" % name)
        if "written from one backend alone: windows-directory-too-long-for-paths\n" not in res.stdout:
            problems.append("the native-only case is not listed as written from one backend")
        if "5 updated, 0 differ between backends, 0 still failing" not in res.stdout:
            problems.append("summary line wrong")
        named = next((line for line in res.stdout.splitlines() if line.startswith("left to edit")), "")
        for doc, tracked in DOCS:
            if (" %s:3" % doc in named) != tracked:
                problems.append("%s: %s in the left-to-edit line" % (doc, "missing" if tracked else "named"))
        for backend in (["--backend", "native", "--program", args.native],
                        ["--backend", "wine", "--program", args.wine, "--launcher", args.launcher]):
            run = subprocess.run([args.runner] + backend + [top], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, universal_newlines=True)
            if run.returncode != 0:
                problems.append("after the update, %s fails:\n%s" % (backend[1], run.stdout))
        for p in problems:
            print("FAIL: " + p)
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
