#!/usr/bin/env python3
"""Runs Windows test programs under Wine in a private prefix.

Importable (class WinePrefix) and a command-line tool:

  zulwine.py run-with-registry --reg FILE --exe EXE [--launcher LAUNCHER]
                               [--cmdline TEXT | --raw-cmdline TEXT]
                               [--prefix DIR] [--timeout SECONDS] [--clean-dirs]
  zulwine.py create --prefix DIR
  zulwine.py info --prefix DIR

run-with-registry imports FILE (after removing the keys the previous
run-with-registry on the same prefix imported), runs EXE with the exact
command-line text and exits with EXE's exit status (its low 8 bits, as Wine
reports it). Without --prefix, or with a DIR that does not exist yet, a prefix
is created (~11 s); a temporary one is removed afterwards. The program's own
output goes to this tool's stdout and stderr; the tool itself prints only on
errors. Exit statuses of the tool itself: 124 timeout, 125 usage or set-up
error, 255 the launcher could not start EXE (with a "launcher:" message).

The command line handed to EXE is `"<EXE as a Windows path>" TEXT` with
--cmdline TEXT (just `"<EXE>"` when TEXT is empty), or TEXT itself with
--raw-cmdline. EXE may be a Unix path (reached through Wine's Z: drive) or a
Windows path.
"""

import argparse
import getpass
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCHER_SOURCE = os.path.join(HERE, "launcher.c")
LAUNCHER_FAILED = 255
EXIT_TIMEOUT = 124
EXIT_SETUP = 125

# Registry roots as .reg files spell them, and the prefix file holding each one's keys.
_ROOT_NAMES = {
    "HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE", "HKLM": "HKEY_LOCAL_MACHINE",
    "HKEY_CURRENT_USER": "HKEY_CURRENT_USER", "HKCU": "HKEY_CURRENT_USER",
    "HKEY_CLASSES_ROOT": "HKEY_CLASSES_ROOT", "HKCR": "HKEY_CLASSES_ROOT",
    "HKEY_USERS": "HKEY_USERS", "HKU": "HKEY_USERS",
    "HKEY_CURRENT_CONFIG": "HKEY_CURRENT_CONFIG", "HKCC": "HKEY_CURRENT_CONFIG",
}

BASELINE_FILE = "zulwine-baseline.txt"
LAST_REG_FILE = "zulwine-last.reg"


class WineError(Exception):
    pass


class WineTimeout(WineError):
    pass


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it; a Windows path is kept."""
    if re.match(r"^[A-Za-z]:", path) or path.startswith("\\\\"):
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reg_key_sections(text):
    """Key names of the sections of a .reg text that add keys (not the [-KEY] ones)."""
    keys = []
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]") and not line.startswith("[-"):
            keys.append(line[1:-1].strip())
    return keys


def _normalise_key(key):
    """(root, lower-case path parts) of a full key name, or None for an unknown root."""
    parts = [p for p in key.split("\\") if p]
    if not parts:
        return None
    root = _ROOT_NAMES.get(parts[0].upper())
    if root is None:
        return None
    return root, [p.lower() for p in parts[1:]]


def removal_sections(previous_text, baseline):
    """[-KEY] sections that undo the keys a previous .reg text created.

    For every key section, the topmost ancestor that a fresh prefix lacks is
    deleted (with its subkeys), so intermediate keys created by the import go
    too. Keys that already existed in the fresh prefix are left alone.
    """
    out = []
    seen = set()
    for key in reg_key_sections(previous_text):
        norm = _normalise_key(key)
        if norm is None:
            continue
        root, parts = norm
        known = baseline.get(root)
        target = None
        if known is None:
            target = parts  # no record of this root: delete the key itself only
        else:
            for depth in range(1, len(parts) + 1):
                if "\\".join(parts[:depth]) not in known:
                    target = parts[:depth]
                    break
        if not target:
            continue
        name = root + "\\" + "\\".join(target)
        if name not in seen:
            seen.add(name)
            out.append("[-" + name + "]")
    # Deleting a key deletes its subkeys: drop names below another one.
    out.sort(key=len)
    kept = []
    for sec in out:
        inner = sec[2:-1]
        if not any(inner.startswith(k[2:-1] + "\\") for k in kept):
            kept.append(sec)
    return kept


def _parse_wine_reg_keys(path):
    """Every key (and ancestor) named in one of Wine's registry files, lower case."""
    keys = set()
    try:
        with open(path, "r", encoding="latin-1") as f:
            for line in f:
                if not line.startswith("["):
                    continue
                end = line.rfind("]")
                if end < 0:
                    continue
                name = line[1:end].replace("\\\\", "\\").lower()
                parts = name.split("\\")
                for depth in range(1, len(parts) + 1):
                    keys.add("\\".join(parts[:depth]))
    except OSError:
        pass
    return keys


class WinePrefix:
    """A Wine prefix for tests, with a persistent wineserver while open."""

    def __init__(self, path=None, launcher=None, verbose=False):
        self.temporary = path is None
        if path is None:
            self.scratch = tempfile.mkdtemp(prefix="zulwine-")
            self.path = os.path.join(self.scratch, "prefix")
        else:
            self.scratch = None
            self.path = os.path.abspath(path)
        self.launcher = launcher
        self.verbose = verbose
        self.baseline = {}
        self.server_running = False
        self._work = None
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.path,
            "WINEDEBUG": "-all",
            # No Mono/Gecko install prompts, no menu entries written to $HOME.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })
        # No display: MessageBoxA returns at once instead of waiting for a click.
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)

    # -- life cycle -------------------------------------------------------

    def is_prefix(self):
        return os.path.isdir(os.path.join(self.path, "drive_c", "windows"))

    def open(self):
        """Creates the prefix when needed and starts its wineserver."""
        if not self.is_prefix():
            self.create()
        else:
            self._load_baseline()
        self.start_server()
        return self

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    def create(self):
        start = time.monotonic()
        # wineboot now and then fails at once on a busy machine (seen: status 53
        # after 0.2 s); a second try in a clean directory has always worked.
        for attempt in (1, 2):
            os.makedirs(self.path, exist_ok=True)
            self._wine_quiet(["wineserver", "-p"], check=False)
            self.server_running = True
            res = self._wine_quiet(["wineboot", "-i"], check=False, timeout=300)
            if res.returncode == 0 and self.is_prefix():
                break
            self.stop_server()
            if attempt == 2:
                raise WineError("wineboot -i failed in %s (status %d)" % (self.path, res.returncode))
            sys.stderr.write("zulwine: wineboot -i failed (status %d), trying once more\n" % res.returncode)
            _remove_tree(self.path)
        # Ending the server writes the registry files, which tell which keys a fresh prefix has.
        self.stop_server()
        self._save_baseline()
        self._log("prefix created in %.1f s" % (time.monotonic() - start))

    def start_server(self):
        if self.server_running:
            return
        self._wine_quiet(["wineserver", "-p"], check=False)
        self.server_running = True
        # The first program after a server start also starts Wine's services; they keep
        # the standard handles they inherit, so let them inherit /dev/null, not a caller's pipe.
        self._wine_quiet(["wine", "cmd", "/c", "exit"], check=False, timeout=120)

    def stop_server(self):
        self._wine_quiet(["wineserver", "-k"], check=False)
        self._wine_quiet(["wineserver", "-w"], check=False, timeout=60)
        self.server_running = False

    def close(self):
        if self.server_running:
            self.stop_server()
        if self.temporary and self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)
            self.scratch = None
        elif self._work:
            shutil.rmtree(self._work, ignore_errors=True)
        self._work = None

    # -- places -----------------------------------------------------------

    @property
    def windows_dir(self):
        """Unix path of C:\\windows."""
        return os.path.join(self.path, "drive_c", "windows")

    @property
    def temp_dir(self):
        """Unix path of the directory GetTempPathA names (C:\\users\\<user>\\Temp)."""
        users = os.path.join(self.path, "drive_c", "users")
        mine = os.path.join(users, getpass.getuser(), "Temp")
        if os.path.isdir(mine):
            return mine
        for name in sorted(os.listdir(users)):
            cand = os.path.join(users, name, "Temp")
            if name != "Public" and os.path.isdir(cand):
                return cand
        return mine

    @property
    def temp_dir_windows(self):
        return "C:\\users\\%s\\Temp" % os.path.basename(os.path.dirname(self.temp_dir))

    def work_dir(self):
        """A private directory for the files this driver hands to Wine."""
        if self._work is None:
            base = self.scratch if self.scratch else None
            self._work = tempfile.mkdtemp(prefix="zulwine-work-", dir=base)
        return self._work

    def clean_dirs(self):
        """Empties the Temp directory and removes C:\\windows\\twain_32."""
        _remove_tree(os.path.join(self.windows_dir, "twain_32"))
        temp = self.temp_dir
        os.makedirs(temp, exist_ok=True)
        for name in os.listdir(temp):
            _remove_tree(os.path.join(temp, name))

    # -- registry ---------------------------------------------------------

    def _save_baseline(self):
        self.baseline = {
            "HKEY_LOCAL_MACHINE": _parse_wine_reg_keys(os.path.join(self.path, "system.reg")),
            "HKEY_CURRENT_USER": _parse_wine_reg_keys(os.path.join(self.path, "user.reg")),
        }
        self.baseline["HKEY_CLASSES_ROOT"] = {
            k[len("software\\classes\\"):] for k in self.baseline["HKEY_LOCAL_MACHINE"]
            if k.startswith("software\\classes\\")}
        with open(os.path.join(self.path, BASELINE_FILE), "w", encoding="latin-1") as f:
            for root in sorted(self.baseline):
                for key in sorted(self.baseline[root]):
                    f.write(root + "\\" + key + "\n")

    def _load_baseline(self):
        self.baseline = {}
        try:
            with open(os.path.join(self.path, BASELINE_FILE), "r", encoding="latin-1") as f:
                for line in f:
                    root, _, key = line.rstrip("\n").partition("\\")
                    self.baseline.setdefault(root, set()).add(key)
        except OSError:
            pass  # a prefix made elsewhere: only the imported keys themselves get removed

    def _last_reg_path(self):
        return os.path.join(self.path, LAST_REG_FILE)

    def replace_registry(self, new_text):
        """Removes the keys of the previously imported text and imports new_text (one regedit run)."""
        try:
            with open(self._last_reg_path(), "r", encoding="latin-1") as f:
                previous = f.read()
        except OSError:
            previous = ""
        removals = removal_sections(previous, self.baseline)
        if new_text.strip() == "" and not removals:
            return
        lines = new_text.splitlines()
        if lines and (lines[0].strip() == "REGEDIT4" or lines[0].startswith("Windows Registry Editor")):
            combined = lines[0] + "\n\n" + "\n".join(removals) + "\n\n" + "\n".join(lines[1:]) + "\n"
        else:
            combined = "REGEDIT4\n\n" + "\n".join(removals) + "\n"
            if new_text.strip():
                self.import_reg_text(combined)
                combined = new_text
        self.import_reg_text(combined)
        with open(self._last_reg_path(), "w", encoding="latin-1") as f:
            f.write(new_text)

    def import_reg_text(self, text):
        path = os.path.join(self.work_dir(), "import.reg")
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        self.import_reg_file(path)

    def import_reg_file(self, path):
        if not os.path.isfile(path):
            raise WineError("no such .reg file: %s" % path)
        res = self._wine_quiet(["wine", "regedit", "/S", windows_path(path)], check=False, timeout=120)
        if res.returncode != 0:
            raise WineError("regedit failed on %s (status %d)" % (path, res.returncode))

    # -- running ----------------------------------------------------------

    def ensure_launcher(self):
        if self.launcher and os.path.isfile(self.launcher):
            return self.launcher
        if self.launcher:
            raise WineError("no launcher at %s" % self.launcher)
        out = os.path.join(self.work_dir(), "launcher.exe")
        res = subprocess.run(["i686-w64-mingw32-gcc", "-std=c11", "-Os", "-s", "-static", "-o", out,
                              LAUNCHER_SOURCE], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if res.returncode != 0:
            raise WineError("cannot build the launcher:\n" + res.stdout.decode("latin-1"))
        self.launcher = out
        return out

    def command_line(self, exe, cmdline=None, raw_cmdline=None):
        if raw_cmdline is not None:
            return raw_cmdline
        text = '"%s"' % windows_path(exe)
        if cmdline:
            text += " " + cmdline
        return text

    def run(self, exe, cmdline=None, raw_cmdline=None, timeout=60, stdout=None, stderr=None, cwd=None):
        """Runs exe with the exact command-line text; returns its exit status (0..255).

        stdout/stderr: file objects or None (inherit); cwd: the Unix directory the
        program starts in (as Z:\...), default the current one. Raises WineTimeout after
        timeout seconds, having ended every process of the prefix.
        """
        launcher = self.ensure_launcher()
        text = self.command_line(exe, cmdline, raw_cmdline)
        if isinstance(text, str):
            text = text.encode("latin-1")
        launch_file = os.path.join(self.work_dir(), "launch.txt")
        with open(launch_file, "wb") as f:
            f.write(windows_path(exe).encode("latin-1") + b"\n" + text)
        proc = subprocess.Popen(["wine", launcher, windows_path(launch_file)], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr, cwd=cwd,
                                start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            # The program runs in its own Unix process: only the server can end it.
            self.stop_server()
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except OSError:
                pass
            proc.wait()
            self.start_server()
            raise WineTimeout("%s did not end within %d s" % (exe, timeout))

    # -- helpers ----------------------------------------------------------

    def _wine_quiet(self, argv, check=True, timeout=None):
        res = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, timeout=timeout)
        if check and res.returncode != 0:
            raise WineError("%s failed with status %d" % (" ".join(argv), res.returncode))
        return res

    def _log(self, msg):
        if self.verbose:
            print("zulwine: " + msg, file=sys.stderr)


def _remove_tree(path):
    """Removes a file, link or tree, read-only entries included."""
    if os.path.islink(path) or os.path.isfile(path):
        os.unlink(path)
        return
    if not os.path.isdir(path):
        return
    for top, dirs, _files in os.walk(path):
        for d in dirs:
            full = os.path.join(top, d)
            if not os.path.islink(full):
                os.chmod(full, 0o755)
    os.chmod(path, 0o755)
    shutil.rmtree(path)


def _cmd_run_with_registry(args):
    with open(args.reg, "r", encoding="latin-1") as f:
        reg_text = f.read()
    prefix = WinePrefix(args.prefix, launcher=args.launcher, verbose=args.verbose)
    try:
        prefix.open()
        if args.clean_dirs:
            prefix.clean_dirs()
        prefix.replace_registry(reg_text)
        sys.stdout.flush()
        sys.stderr.flush()
        return prefix.run(args.exe, cmdline=args.cmdline, raw_cmdline=args.raw_cmdline, timeout=args.timeout)
    except WineTimeout as e:
        print("zulwine: " + str(e), file=sys.stderr)
        return EXIT_TIMEOUT
    finally:
        prefix.close()


def _cmd_create(args):
    prefix = WinePrefix(args.prefix, verbose=args.verbose)
    try:
        prefix.open()
    finally:
        prefix.close()
    return 0


def _cmd_info(args):
    with WinePrefix(args.prefix, verbose=args.verbose) as prefix:
        print("prefix=%s" % prefix.path)
        print("windows=%s" % prefix.windows_dir)
        print("temp=%s" % prefix.temp_dir)
        print("temp_windows=%s" % prefix.temp_dir_windows)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="Run Windows test programs under Wine.")
    parser.add_argument("-v", "--verbose", action="store_true")
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("run-with-registry", help="import a .reg file and run an exe with an exact command line")
    p.add_argument("--reg", required=True)
    p.add_argument("--exe", required=True)
    p.add_argument("--launcher", help="launcher.exe (built from launcher.c when not given)")
    group = p.add_mutually_exclusive_group()
    group.add_argument("--cmdline", default="", help="text after the quoted program name")
    group.add_argument("--raw-cmdline", help="the whole command-line text, program name included")
    p.add_argument("--prefix", help="prefix directory (created when missing; default: a temporary one)")
    p.add_argument("--timeout", type=float, default=60)
    p.add_argument("--clean-dirs", action="store_true",
                   help="empty the Temp directory and remove C:\\windows\\twain_32 first")
    p.set_defaults(func=_cmd_run_with_registry)

    p = sub.add_parser("create", help="create a prefix")
    p.add_argument("--prefix", required=True)
    p.set_defaults(func=_cmd_create)

    p = sub.add_parser("info", help="print a prefix's directories")
    p.add_argument("--prefix", required=True)
    p.set_defaults(func=_cmd_info)

    args = parser.parse_args(argv)
    try:
        return args.func(args)
    except (WineError, OSError, subprocess.SubprocessError) as e:
        print("zulwine: %s" % e, file=sys.stderr)
        return EXIT_SETUP


if __name__ == "__main__":
    sys.exit(main())
