"""Reading a scenario file (.scn): the format is tests/scenarios/README.md."""

import ast
import os
import re

BACKENDS = ("native", "wine")
ROOTS = ("windows", "temp", "scratch", "cwd")
MAX_CONTENT = 64 * 1024 * 1024
OPTIONS = {"native-sysroot": r"unset|long:\d+", "native-tmpdir": r"missing", "native-window-station": r"[^\s\\]+"}
# A comment, a quoted str literal or a bare word.
TOKEN = re.compile(r"""\s*(?:(#.*)|('(?:[^'\\]|\\.)*'|"(?:[^"\\]|\\.)*")|([^\s'"#]+))""")


class ScenarioError(Exception):
    """A malformed scenario file."""


def _literal(text):
    try:
        return ast.parse(text.strip(), mode="eval").body
    except SyntaxError as e:
        raise ScenarioError("bad literal %r: %s" % (text.strip(), e.msg))


def _content(node):
    if isinstance(node, ast.Constant) and isinstance(node.value, (str, bytes)):
        if isinstance(node.value, bytes):
            return node.value
        try:
            return node.value.encode("latin-1")
        except UnicodeEncodeError:
            raise ScenarioError("a str literal holds a character above \\xff; write bytes as \\xNN")
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Add):
        return _content(node.left) + _content(node.right)
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Mult):
        data, count = (node.right, node.left) if _is_int(node.left) else (node.left, node.right)
        if not _is_int(count):
            raise ScenarioError("only a literal times an integer can be repeated")
        data = _content(data)
        if count.value < 0 or len(data) * count.value > MAX_CONTENT:
            raise ScenarioError("repeat count out of range")
        return data * count.value
    raise ScenarioError("not a content expression (str/bytes literals, + and * integer): %s" % type(node).__name__)


def _is_int(node):
    return isinstance(node, ast.Constant) and type(node.value) is int


def content_value(text):
    """Bytes of a content expression; str literals are encoded latin-1. Never evaluates code."""
    return _content(_literal(text))


def string_value(text):
    """A single str literal (a trailing # comment allowed)."""
    node = _literal(text)
    if not (isinstance(node, ast.Constant) and isinstance(node.value, str)):
        raise ScenarioError("expected a str literal, got %r" % text.strip())
    return node.value


def tokens(text):
    """(start, end, word) of the words before a comment; a quoted word is its str value."""
    out = []
    at = 0
    while text[at:].strip():
        m = TOKEN.match(text, at)
        if not m:
            raise ScenarioError("unterminated quoted name in %r" % text)
        if m.group(1):
            break
        out.append((m.start(2) if m.group(2) else m.start(3), m.end(),
                    string_value(m.group(2)) if m.group(2) else m.group(3)))
        at = m.end()
    return out


def strip_comment(text):
    """text without a # comment outside quotes; free text with an odd quote is kept whole."""
    try:
        words = tokens(text)
    except ScenarioError:
        return text
    return text[:words[-1][1]] if words else ""


class Entry:
    """One line of a files section."""

    def __init__(self, kind, path, lineno):
        self.kind = kind          # "file", "dir", "link" or "hardlink"
        self.path = path          # "windows/...", "temp/...", "scratch/..." or "cwd/..."
        self.lineno = lineno
        self.content = None       # bytes, or None: not given
        self.readonly = False     # files before: made read-only; after: checked to be
        self.writable = False     # a directory in files before: every user may write it (mode 0777)
        self.target = None        # link target as written (a hard link's: a rooted path)


class TextCheck:
    """A log or stdout section: expected lines."""

    def __init__(self, name, unordered, kind="log", lineno=0):
        self.kind = kind            # "log" or "stdout"
        self.name = name
        self.unordered = unordered
        self.lineno = lineno        # of the section's "= " line; its lines follow it
        self.lines = []


class Scenario:
    def __init__(self, name):
        self.name = name
        self.description = ""
        self.command = ""
        self.exit = 0
        self.backends = list(BACKENDS)
        self.options = {}
        self.registry = None
        self.before = []
        self.after = None
        self.logs = []
        self.stdout = None


def normalise(path, lineno):
    if path.startswith("/") or "\\" in path:
        raise ScenarioError("line %d: paths are relative with '/': %r" % (lineno, path))
    parts = [p for p in path.split("/") if p not in ("", ".")]
    if not parts or parts[0] not in ROOTS:
        raise ScenarioError("line %d: path must start with one of %s: %r"
                            % (lineno, ", ".join(r + "/" for r in ROOTS), path))
    if ".." in parts:
        raise ScenarioError("line %d: '..' not allowed in %r" % (lineno, path))
    return "/".join(parts)


def _file_entry(line, lineno, before):
    try:
        words = tokens(line)
    except ScenarioError as e:
        raise ScenarioError("line %d: %s" % (lineno, e))
    kind = words[0][2]
    if kind not in ("file", "dir", "link", "hardlink"):
        raise ScenarioError("line %d: expected file, dir, link or hardlink: %r" % (lineno, line))
    words = words[1:]
    mark = "->" if kind in ("link", "hardlink") else "="
    at = next((i for i, w in enumerate(words) if w[2] == mark and line[w[0]] == mark[0]), None)
    rest = None
    if at is not None:
        rest, words = line[words[at][1]:], words[:at]
    elif kind == "hardlink" or (kind == "link" and before):
        raise ScenarioError("line %d: %s needs '-> TARGET'" % (lineno, kind))
    if not words:
        raise ScenarioError("line %d: %s needs a path" % (lineno, kind))
    entry = Entry(kind, normalise(words[0][2], lineno), lineno)
    for _, _, flag in words[1:]:
        if (flag, kind) not in (("readonly", "file"), ("writable", "dir")) or (flag == "writable" and not before):
            raise ScenarioError("line %d: unknown flag %r" % (lineno, flag))
        setattr(entry, flag, True)
    if rest is not None and mark == "=":
        if kind != "file":
            raise ScenarioError("line %d: only a file has content" % lineno)
        try:
            entry.content = content_value(rest)
        except ScenarioError as e:
            raise ScenarioError("line %d: %s" % (lineno, e))
    elif rest is not None:
        target = [w for _, _, w in tokens(rest)]
        if len(target) != 1:
            raise ScenarioError("line %d: link needs exactly one target" % lineno)
        entry.target = normalise(target[0], lineno) if kind == "hardlink" else target[0]
    return entry


def fixture(path, name):
    """The text of fixtures/NAME.reg in the scenario's directory or the nearest one above it."""
    top = os.path.dirname(os.path.abspath(path))
    while True:
        candidate = os.path.join(top, "fixtures", name + ".reg")
        if os.path.isfile(candidate):
            with open(candidate, "r", encoding="latin-1") as f:
                return f.read()
        if os.path.dirname(top) == top:
            raise ScenarioError("no fixture %s.reg in a fixtures directory above the scenario" % name)
        top = os.path.dirname(top)


def _section(scn, kind, arg, body):
    if kind == "registry":
        text = "\n".join(body).strip("\n")
        if arg and text:
            raise ScenarioError("a registry section names a fixture or holds a text, not both")
        scn.registry = fixture(scn.path, arg) if arg else text + "\n"
    elif kind in ("files before", "files after"):
        entries = [_file_entry(line, ln, kind == "files before") for ln, line in body if strip_comment(line).strip()]
        if kind == "files before":
            scn.before += entries
        else:
            scn.after = (scn.after or []) + entries
    else:
        while body and body[-1].strip() == "":
            body.pop()
        arg.lines = body
        if kind == "log":
            scn.logs.append(arg)
        else:
            scn.stdout = arg


def _header(scn, key, value, lineno, seen):
    if key.startswith("option "):
        opt = key[len("option "):].strip()
        scn.options[opt] = strip_comment(value).strip()
        if opt not in OPTIONS or not re.fullmatch(OPTIONS[opt], scn.options[opt]):
            raise ScenarioError("line %d: unknown option or bad value: %s" % (lineno, key))
        return
    if key in seen:
        raise ScenarioError("line %d: %s given twice" % (lineno, key))
    seen.add(key)
    if key == "description":
        scn.description = strip_comment(value).strip()
    elif key == "command":
        scn.command = string_value(value)
        if "\0" in scn.command or "\n" in scn.command:
            raise ScenarioError("line %d: a command line cannot hold NUL or LF "
                                "(write Windows paths in r'...' literals)" % lineno)
    elif key == "exit":
        try:
            scn.exit = int(strip_comment(value).strip(), 0)
        except ValueError:
            raise ScenarioError("line %d: exit needs an integer" % lineno)
    elif key == "backends":
        scn.backends = strip_comment(value).split()
        if not scn.backends or set(scn.backends) - set(BACKENDS):
            raise ScenarioError("line %d: backends are %s" % (lineno, " ".join(BACKENDS)))
    else:
        raise ScenarioError("line %d: unknown key %r" % (lineno, key))


def parse_scenario(path, name, text=None):
    if text is None:
        with open(path, "r", encoding="latin-1") as f:
            text = f.read()
    scn = Scenario(name)
    scn.path = path
    section = None
    body = []
    seen = set()
    for lineno, line in enumerate(text.split("\n"), 1):
        line = line[:-1] if line.endswith("\r") else line
        if line.startswith("= ") or line == "=":
            if section:
                _section(scn, *section, body)
            words = line[1:].split()
            head = " ".join(words[:2])
            if words[:1] == ["registry"] and len(words) <= 2:
                section = ("registry", words[1] if len(words) == 2 else None)
            elif head in ("files before", "files after") and len(words) == 2:
                section = (head, None)
            elif words[:1] == ["log"] and len(words) in (2, 3) and words[2:] in ([], ["unordered"]):
                if "/" in words[1] or "\\" in words[1]:
                    raise ScenarioError("line %d: a log is named by its file name in temp/" % lineno)
                section = ("log", TextCheck(words[1], len(words) == 3, "log", lineno))
            elif words == ["stdout"]:
                section = ("stdout", TextCheck("stdout", False, "stdout", lineno))
            else:
                raise ScenarioError("line %d: unknown section %r" % (lineno, line))
            body = []
        elif section:
            body.append((lineno, line) if section[0].startswith("files") else line)
        elif line.strip() and not line.strip().startswith("#"):
            key, eq, value = line.partition("=")
            if not eq:
                raise ScenarioError("line %d: expected 'key = value': %r" % (lineno, line))
            _header(scn, key.strip(), value, lineno, seen)
    if section:
        _section(scn, *section, body)
    return scn
