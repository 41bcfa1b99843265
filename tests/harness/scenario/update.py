"""run-scenarios --update: writes back the log and stdout sections a run no longer matches.

A rewritten section keeps each of its lines that still matches the run as it is
written (placeholders, stamps, includes, blank lines) and puts the run's lines in
place of the others, with %WINDIR%, %TEMP% and <stamp> put back. A section is
written only when every backend the case runs on gives the same text, and only
when the new text passes on each of them; the header and the registry and files
sections are never touched."""

import copy
import difflib
import os
import re
import shutil
import subprocess
import sys

from ..wine import WineError
from .backends import NativeBackend, WineBackend
from .check import STAMP_RE, _matches, expand_expected
from .format import ScenarioError, parse_scenario
from .run import execute, text_problems

CLASSES = {"native": NativeBackend, "wine": WineBackend}
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
# Lines the format would read as something else than their text.
SPECIAL = re.compile(r"= |=$|<empty>$|<stamp>|<include .*>$")
# Where texts of the program's lines are restated outside the scenarios, beside every tracked
# Markdown document.
ELSEWHERE = (("tests", (".cpp", ".h", ".c", ".py", ".cmake")), ("bench", (".py", ".c")))


def _include(line):
    return "<include %r>" % (line + "\r\n")


def template_line(line, subst):
    """An actual line as the scenario format writes it."""
    m = re.match(STAMP_RE, line)
    head, rest = ("<stamp>", line[m.end():]) if m else ("", line)
    for token, value in sorted(subst.items(), key=lambda kv: -len(kv[1])):
        rest = rest.replace(value, token)
    if head:
        return head + rest
    if rest == "":
        return "<empty>"
    return _include(line) if SPECIAL.match(rest) or rest.endswith("\r") else rest


def _end(out):
    """Blank lines at the end of a section are dropped when read: write them so that they stay."""
    keep = len(out)
    while keep and out[keep - 1].strip() == "":
        keep -= 1
    return out[:keep] + ["<empty>" if line == "" else _include(line) for line in out[keep:]]


def _align(items, actual):
    """(item index, line index) pairs of a longest in-order matching of expected items to lines."""
    n, m = len(items), len(actual)
    lo = 0
    while lo < min(n, m) and _matches(items[lo], actual[lo]):
        lo += 1
    hi = 0
    while hi < min(n, m) - lo and _matches(items[n - 1 - hi], actual[m - 1 - hi]):
        hi += 1
    a, b = items[lo:n - hi], actual[lo:m - hi]
    hit = [[_matches(x, y) for y in b] for x in a]
    best = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) - 1, -1, -1):
        for j in range(len(b) - 1, -1, -1):
            best[i][j] = best[i + 1][j + 1] + 1 if hit[i][j] else max(best[i + 1][j], best[i][j + 1])
    pairs = [(k, k) for k in range(lo)]
    i = j = 0
    while i < len(a) and j < len(b):
        if hit[i][j] and best[i][j] == best[i + 1][j + 1] + 1:
            pairs.append((lo + i, lo + j))
            i, j = i + 1, j + 1
        elif best[i + 1][j] >= best[i][j + 1]:
            i += 1
        else:
            j += 1
    return pairs + [(n - hi + k, m - hi + k) for k in range(hi)]


def rewrite_ordered(lines, actual, subst):
    units = [(line, expand_expected([line], subst)) for line in lines]
    owner = [u for u, (_, items) in enumerate(units) for _ in items]
    at = {}
    for i, j in _align([item for _, items in units for item in items], actual):
        at.setdefault(owner[i], []).append(j)
    out, j = [], 0
    for u, (line, items) in enumerate(units):
        js = at.get(u, [])
        if not items:
            out.append(line)
        elif len(js) == len(items) and js[-1] - js[0] == len(js) - 1:
            # Every line of the unit matched, one after another: it stays as written.
            out += [template_line(x, subst) for x in actual[j:js[0]]]
            out.append(line)
            j = js[-1] + 1
    return _end(out + [template_line(x, subst) for x in actual[j:]])


def rewrite_unordered(lines, actual, subst):
    units = [(line, expand_expected([line], subst)) for line in lines]
    used, first = set(), {}
    # Literal units first, so that a stamp cannot take a line a literal wants.
    for u in sorted(range(len(units)), key=lambda u: any(kind != "lit" for kind, _ in units[u][1])):
        js = []
        for item in units[u][1]:
            j = next((j for j, x in enumerate(actual) if j not in used and j not in js and _matches(item, x)), None)
            if j is None:
                break
            js.append(j)
        else:
            if js:
                used.update(js)
                first[u] = min(js)
    # A new line goes after the kept line that comes last before it in the run.
    after = {}
    for j in (j for j in range(len(actual)) if j not in used):
        anchor = max((u for u in first if first[u] < j), key=lambda u: first[u], default=-1)
        after.setdefault(anchor, []).append(template_line(actual[j], subst))
    out = list(after.get(-1, []))
    for u, (line, items) in enumerate(units):
        if u in first or not items:
            out.append(line)
            out += after.get(u, [])
    return _end(out)


def split_lines(data, eol):
    return data[:-len(eol)].split(eol) if data.endswith(eol) else (data.split(eol) if data else [])


def rewrite(check, seen):
    """The section's new lines from one backend's run."""
    eol = "\n" if check.kind == "stdout" else "\r\n"
    data = seen["stdout"] if check.kind == "stdout" else seen["logs"][check.name]
    return (rewrite_unordered if check.unordered else rewrite_ordered)(check.lines, split_lines(data, eol),
                                                                     seen["subst"])


def write_back(path, changes):
    """Replaces the lines of the given sections ((check, new lines), ...) in the file."""
    with open(path, "r", encoding="latin-1", newline="") as f:
        text = f.read()
    lines = text.split("\n")
    for check, new in sorted(changes, key=lambda c: -c[0].lineno):
        cr = "\r" if lines[check.lineno - 1].endswith("\r") else ""
        lines[check.lineno:check.lineno + len(check.lines)] = [line + cr for line in new]
    with open(path, "w", encoding="latin-1", newline="") as f:
        f.write("\n".join(lines))


def probes(old, new):
    """Fragments of the replaced lines (between placeholders and digits) the new lines no longer hold."""
    text = "\n".join(new)
    found = set()
    for line in old:
        if line in new or line.startswith("<include "):
            continue
        for part in re.split(r"%WINDIR%|%TEMP%|<stamp>|[0-9]|[^\x20-\x7e]", line):
            part = part.strip()
            if len(part) >= 6 and part not in text:
                found.add(part)
    return found


def repository(path):
    """The checkout the scenario at path belongs to (this one when it is in none)."""
    res = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=os.path.dirname(os.path.abspath(path)),
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True)
    return res.stdout.strip() if res.returncode == 0 else ROOT


def restating(root):
    """The files outside the scenarios that may restate a log line: test and bench sources, documents."""
    for top, exts in ELSEWHERE:
        for base, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(d for d in dirs if os.path.join(base, d) != os.path.join(root, "tests", "scenarios"))
            yield from (os.path.join(base, f) for f in sorted(files) if f.endswith(exts))
    # Tracked only: a copy in a build directory is not edited.
    res = subprocess.run(["git", "ls-files", "-z", "--", "*.md"], cwd=root, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    yield from (os.path.join(root, f) for f in sorted(res.stdout.decode("latin-1").split("\0")) if f)


def left_to_edit(fragments, root):
    """file:line of each test or bench source or document outside the scenarios that restates a fragment."""
    hits = []
    wanted = [(f, f.replace("\\", "\\\\")) for f in sorted(fragments)]
    for path in restating(root):
        with open(path, "r", encoding="latin-1") as f:
            for lineno, line in enumerate(f, 1):
                if any(a in line or b in line for a, b in wanted):
                    hits.append("%s:%d" % (os.path.relpath(path, root), lineno))
    return hits


def update(scenarios, given, work, keep):
    """Runs each scenario on the backends given (name -> backend) and writes back what they agree on.
    The exit status: 0 when every case now passes."""
    counts = {"updated": 0, "differ": 0, "failing": 0, "passed": 0, "skipped": 0}
    alone, differing, replaced = [], [], []
    for index, (path, name) in enumerate(scenarios, 1):
        try:
            scn = parse_scenario(path, name)
        except (ScenarioError, OSError) as e:
            print("FAIL %s\n    bad scenario: %s" % (name, e))
            counts["failing"] += 1
            continue
        runs_on = [b for b in scn.backends if CLASSES[b].skip_reason(scn) is None]
        missing = [b for b in runs_on if b not in given]
        if not runs_on or missing:
            reason = "not run on %s here: left as is" % " ".join(missing) if runs_on else "runs on no backend"
            print("SKIP %s (%s)" % (name, reason))
            counts["skipped"] += 1
            continue
        seen, other = {}, []
        for b in runs_on:
            scratch = os.path.join(work, "%03d-%s-%s" % (index, b, re.sub(r"[^A-Za-z0-9_.-]", "_", name)))
            os.makedirs(scratch)
            try:
                problems, seen[b] = execute(scn, given[b], scratch)
                other += ["%s: %s" % (b, p) for p in problems]
            except (ScenarioError, OSError, WineError) as e:
                other.append("%s: error: %s" % (b, e))
            if not keep:
                shutil.rmtree(scratch, ignore_errors=True)
        changes, notes = [], []
        checks = scn.logs + ([scn.stdout] if scn.stdout is not None else [])
        for check in checks if len(seen) == len(runs_on) else []:
            names = [b for b in runs_on if check.kind == "log" or b == "native"]
            label = "log " + check.name if check.kind == "log" else "stdout"
            if not names or not any(text_problems(check, seen[b]) for b in names):
                continue
            if any(seen[b]["logs"].get(check.name) is None for b in names if check.kind == "log"):
                other.append("%s: missing (not written)" % label)
                continue
            outs = {b: rewrite(check, seen[b]) for b in names}
            new = outs[names[0]]
            same = sorted if check.unordered else list
            if any(same(outs[b]) != same(new) for b in names[1:]):
                notes.append("%s: %s disagree (not written)" % (label, " and ".join(names)))
                notes += ["  " + d for d in list(difflib.unified_diff(outs[names[0]], outs[names[1]], names[0],
                                                                       names[1], lineterm="", n=1))[:40]]
                continue
            trial = copy.copy(check)
            trial.lines = new
            if any(text_problems(trial, seen[b]) for b in names):
                other.append("%s: the run's text cannot be written so that it passes (not written)" % label)
                continue
            if new != check.lines:
                changes.append((check, new))
        if changes:
            write_back(path, changes)
            replaced += [(check.lines, new) for check, new in changes]
            one = " (from %s alone)" % runs_on[0] if len(runs_on) == 1 else ""
            print("UPDATE %s: %s%s" % (name, ", ".join("log " + c.name if c.kind == "log" else "stdout"
                                                        for c, _ in changes), one))
            counts["updated"] += 1
            if one:
                alone.append(name)
        if notes:
            print("DIFFER %s" % name)
            print("\n".join("    " + n for n in notes))
            counts["differ"] += 1
            differing.append(name)
        if other:
            print("FAIL %s (set-up and header are not rewritten)" % name)
            print("\n".join("    " + p for p in other))
            counts["failing"] += 1
        if not (changes or notes or other):
            print("PASS %s" % name)
            counts["passed"] += 1
        sys.stdout.flush()
    print("%d updated, %d differ between backends, %d still failing, %d passed, %d skipped"
          % (counts["updated"], counts["differ"], counts["failing"], counts["passed"], counts["skipped"]))
    if alone:
        print("written from one backend alone: %s" % ", ".join(alone))
    if differing:
        print("differ between backends, left as is: %s" % ", ".join(differing))
    fragments = set()
    for old, new in replaced:
        fragments |= probes(old, new)
    hits = left_to_edit(fragments, repository(scenarios[0][0])) if fragments else []
    if hits:
        print("left to edit (they restate a replaced line): %s" % ", ".join(hits))
    return 0 if counts["differ"] == counts["failing"] == 0 else 1

