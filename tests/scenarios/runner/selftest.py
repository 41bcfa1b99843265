#!/usr/bin/env python3
"""Checks that run-scenarios reports each self-test scenario as it should.

  selftest.py --runner RUN_SCENARIOS --backend B [runner options] DIR

Every *.scn below DIR is expected to PASS, unless it has comment lines
  # expect-skip: BACKEND...     -> SKIP on those backends
  # expect-fail: TEXT           -> FAIL, with TEXT in its explanation (one line each)
The runner's summary line and exit status are checked too, so a runner that
passes everything, or fails for the wrong reason, is caught.
"""

import os
import re
import subprocess
import sys


def expectations(top, backend):
    result = {}
    for base, dirs, files in os.walk(top):
        dirs.sort()
        for fname in sorted(files):
            if not fname.endswith(".scn"):
                continue
            path = os.path.join(base, fname)
            name = os.path.relpath(path, top)[:-4]
            skip = False
            texts = []
            with open(path, encoding="latin-1") as f:
                for line in f:
                    m = re.match(r"#\s*expect-skip:(.*)$", line)
                    if m and backend in m.group(1).split():
                        skip = True
                    m = re.match(r"#\s*expect-fail:\s?(.*?)\s*$", line)
                    if m:
                        texts.append(m.group(1))
            result[name] = ("SKIP", []) if skip else (("FAIL", texts) if texts else ("PASS", []))
    return result


def parse_report(output):
    """name -> (verdict, explanation lines) and the summary line."""
    reports = {}
    current = None
    summary = None
    for line in output.splitlines():
        m = re.match(r"(PASS|FAIL|SKIP) (\S+)", line)
        if m:
            current = m.group(2)
            if current in reports:
                reports[current] = ("DUPLICATE", [])
            else:
                reports[current] = (m.group(1), [])
        elif line.startswith("    ") and current:
            reports[current][1].append(line.strip())
        elif re.fullmatch(r"\d+ passed, \d+ failed, \d+ skipped", line):
            summary = line
    return reports, summary


def main(argv):
    if len(argv) < 4 or argv[0] != "--runner":
        print(__doc__, file=sys.stderr)
        return 2
    runner, runner_args = argv[1], argv[2:]
    top = runner_args[-1]
    backend = runner_args[runner_args.index("--backend") + 1]
    want = expectations(top, backend)
    proc = subprocess.run([runner] + runner_args, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    output = proc.stdout.decode("latin-1")
    print(output)
    reports, summary = parse_report(output)

    problems = []
    for name, (verdict, texts) in sorted(want.items()):
        got, lines = reports.get(name, ("MISSING", []))
        if got != verdict:
            problems.append("%s: reported %s, expected %s" % (name, got, verdict))
            continue
        joined = "\n".join(lines)
        for text in texts:
            if text not in joined:
                problems.append("%s: explanation lacks %r" % (name, text))
    for name in sorted(set(reports) - set(want)):
        problems.append("%s: reported but not expected" % name)
    counts = [sum(1 for v, _ in want.values() if v == k) for k in ("PASS", "FAIL", "SKIP")]
    expected_summary = "%d passed, %d failed, %d skipped" % tuple(counts)
    if summary != expected_summary:
        problems.append("summary %r, expected %r" % (summary, expected_summary))
    if (proc.returncode == 0) != (counts[1] == 0):
        problems.append("runner exit status %d with %d failure(s)" % (proc.returncode, counts[1]))
    if not output.rstrip().endswith(expected_summary):
        problems.append("the summary is not the last line")

    if problems:
        print("SELF-TEST FAILED:")
        for p in problems:
            print("  " + p)
        return 1
    print("self-test ok: %s" % expected_summary)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
