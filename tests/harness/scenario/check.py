"""Checking a run: expected lines of logs and standard output, and file trees."""

import collections
import difflib
import os
import re
import stat

from .format import Entry, ScenarioError, content_value, normalise

STAMP_RE = r"\d\d:\d\d:\d\d\t\d\d/\d\d/\d\d\t"


# -- expected lines -----------------------------------------------------------

def expand_expected(lines, subst):
    """Expected lines as (kind, value) items: lit or stamp (a regex)."""
    def sub(text):
        for token, value in subst.items():
            text = text.replace(token, value)
        return text
    items = []
    for line in lines:
        if line == "<empty>":
            items.append(("lit", ""))
        elif line.startswith("<include ") and line.endswith(">"):
            data = content_value(line[len("<include "):-1]).decode("latin-1")
            data = data[:-2] if data.endswith("\r\n") else data
            items += [("lit", part) for part in data.split("\r\n")] if data else []
        elif line.startswith("<stamp>"):
            items.append(("stamp", re.compile(STAMP_RE + re.escape(sub(line[7:])))))
        else:
            items.append(("lit", sub(line)))
    return items


def _matches(item, line):
    return line == item[1] if item[0] == "lit" else item[1].fullmatch(line) is not None


def _show(item):
    return item[1] if item[0] == "lit" else "<stamp>" + item[1].pattern[len(STAMP_RE):].replace("\\", "")


def compare_lines(items, actual):
    """Problems (list of str) between expected items and actual lines, in order."""
    bad = next((j for j, (item, line) in enumerate(zip(items, actual)) if not _matches(item, line)),
               min(len(items), len(actual)))
    if len(items) == len(actual) == bad:
        return []
    if bad == len(items):
        first = "line %d: expected end of file, got %r" % (bad + 1, actual[bad])
    else:
        got = repr(actual[bad]) if bad < len(actual) else "end of file"
        first = "line %d: expected %r, got %s" % (bad + 1, _show(items[bad]), got)
    # A stamp that matched the line facing it shows as that line, so the diff shows real differences.
    shown = [line if k < len(actual) and _matches(item, line) else _show(item)
             for k, (item, line) in enumerate(zip(items, actual + [None] * len(items)))]
    diff = list(difflib.unified_diff(shown, actual, "expected", "actual", lineterm="", n=2))
    if len(diff) > 60:
        diff = diff[:60] + ["... (%d more diff lines)" % (len(diff) - 60)]
    return [first] + ["  " + line for line in diff]


def compare_unordered(items, actual):
    """Problems between expected items and actual lines compared as multisets."""
    remaining = collections.Counter(actual)
    missing = []
    # Literal lines first, so that a stamp pattern cannot take a line a literal wants.
    for item in sorted(items, key=lambda i: i[0] != "lit"):
        hit = next((line for line in remaining if remaining[line] > 0 and _matches(item, line)), None)
        if hit is None:
            missing.append("missing line %r" % _show(item))
        else:
            remaining[hit] -= 1
    left = sorted(remaining.elements())
    extra = ["%d unexpected line(s): %s" % (len(left), ", ".join(repr(x) for x in left[:20]))] if left else []
    return missing + extra


def check_text(check, data, eol, subst):
    """Problems of one log/stdout section against the file's data (str)."""
    items = expand_expected(check.lines, subst)
    actual = data[:-len(eol)].split(eol) if data.endswith(eol) else (data.split(eol) if data else [])
    problems = ["last line %r has no line end" % actual[-1]] if data and not data.endswith(eol) else []
    return problems + (compare_unordered if check.unordered else compare_lines)(items, actual)


# -- file trees -----------------------------------------------------------------

def _disp(path):
    """A path for messages: latin-1 text, escapes for odd bytes."""
    text = os.fsencode(path).decode("latin-1")
    return text if text.isprintable() else repr(os.fsencode(path))[2:-1]


def _window(data, at):
    """repr of data around offset at, with ... where it is cut."""
    start, end = max(0, at - 20), min(len(data), at + 40)
    return ("..." if start else "") + repr(data[start:end]) + ("..." if end < len(data) else "")


class Roots:
    """Where windows/, temp/, scratch/ and cwd/ live for one run."""

    def __init__(self, windows, temp, scratch, cwd, complete):
        self.dirs = {"windows": windows, "temp": temp, "scratch": scratch, "cwd": cwd}
        self.complete = complete  # relative paths whose whole tree is compared

    def real(self, rel):
        root, _, rest = rel.partition("/")
        return os.path.join(self.dirs[root], os.fsdecode(rest.encode("latin-1"))) if rest else self.dirs[root]

    def link_target(self, target):
        if target.split("/", 1)[0] in self.dirs:
            return self.real(normalise(target, 0))
        return os.fsdecode(target.encode("latin-1"))


def seed(entries, roots):
    for e in entries:
        path = roots.real(e.path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if e.kind == "dir":
            os.makedirs(path, exist_ok=True)
            if e.writable:
                os.chmod(path, 0o777)
        elif e.kind == "link":
            os.symlink(roots.link_target(e.target), path)
        elif e.kind == "hardlink":
            if not os.path.isfile(roots.real(e.target)):
                raise ScenarioError("line %d: a hard link's target must be a file listed before it" % e.lineno)
            os.link(roots.real(e.target), path)
        else:
            with open(path, "wb") as f:
                f.write(e.content or b"")
            if e.readonly:
                # Read-only is the lack of write bits, as Wine keeps FILE_ATTRIBUTE_READONLY.
                os.chmod(path, stat.S_IMODE(os.stat(path).st_mode) & ~0o222)


def _walk(rel, roots, out):
    """Adds every entry below roots.real(rel) as rel path -> lstat result."""
    base = roots.real(rel)
    try:
        names = sorted(os.listdir(base))
    except (FileNotFoundError, NotADirectoryError):
        return
    for name in names:
        child = rel + "/" + os.fsencode(name).decode("latin-1")
        out[child] = os.lstat(os.path.join(base, name))
        if stat.S_ISDIR(out[child].st_mode):
            _walk(child, roots, out)


def _kind(st):
    for test, kind in ((stat.S_ISLNK, "link"), (stat.S_ISDIR, "dir"), (stat.S_ISREG, "file")):
        if test(st.st_mode):
            return kind
    return "special"


def _entry_problems(e, path, st, roots):
    """Problems of one listed entry found as st."""
    # A hard link is a file with a second name.
    kind = "file" if e.kind == "hardlink" else e.kind
    if _kind(st) != kind:
        return ["%s: expected a %s, found a %s" % (_disp(path), kind, _kind(st))]
    real = roots.real(path)
    if e.kind == "hardlink":
        try:
            other = os.stat(roots.real(e.target))
        except OSError:
            other = None
        if other is None or (other.st_dev, other.st_ino) != (st.st_dev, st.st_ino):
            return ["%s: not the same file as %s" % (_disp(path), _disp(e.target))]
    problems = []
    if e.kind == "file" and e.content is not None:
        with open(real, "rb") as f:
            data = f.read()
        if data != e.content:
            at = next((i for i, (a, b) in enumerate(zip(data, e.content)) if a != b), min(len(data), len(e.content)))
            problems.append("%s: content differs at byte %d: expected %d bytes %s, got %d bytes %s"
                            % (_disp(path), at, len(e.content), _window(e.content, at), len(data), _window(data, at)))
    if e.kind == "file" and e.readonly and st.st_mode & 0o222:
        problems.append("%s: expected read-only, found writable" % _disp(path))
    if e.kind == "link" and e.target is not None and os.readlink(real) != roots.link_target(e.target):
        problems.append("%s: link to %r, expected %r" % (_disp(path), os.readlink(real), roots.link_target(e.target)))
    return problems


def compare_tree(expected, roots):
    """Problems between the 'files after' entries and the file system."""
    problems = []
    want = {}
    for e in expected:
        if e.path in want:
            problems.append("line %d: %s listed twice" % (e.lineno, e.path))
        want[e.path] = e
    # Parents of listed entries are implied directories.
    for path in list(want):
        parts = path.split("/")
        for depth in range(2, len(parts)):
            want.setdefault("/".join(parts[:depth]), Entry("dir", "/".join(parts[:depth]), 0))
    for path, e in sorted(want.items()):
        try:
            problems += _entry_problems(e, path, os.lstat(roots.real(path)), roots)
        except FileNotFoundError:
            problems.append("missing %s %s" % (e.kind, _disp(path)))
    for top in roots.complete:
        actual = {}
        _walk(top, roots, actual)
        if "/" in top and os.path.lexists(roots.real(top)):
            actual[top] = os.lstat(roots.real(top))
        for path, st in sorted(actual.items()):
            if path not in want:
                size = " (%d bytes)" % st.st_size if _kind(st) == "file" else ""
                problems.append("unexpected %s %s%s" % (_kind(st), _disp(path), size))
    return problems

