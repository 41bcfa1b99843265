"""A Wine prefix for tests, and the one command-line tool that manages one:

  python3 -m harness.wine create DIR      a fresh prefix at DIR (an old one there is removed)
  python3 -m harness.wine remove DIR      ends its wineserver and removes it
  python3 -m harness.wine run [--prefix DIR] [--reg FILE] EXE [ARGUMENT...]

run imports FILE, runs EXE with the arguments (those naming an existing file
as quoted Windows paths) and exits with its status (low 8 bits, as Wine
reports it); without --prefix in a temporary prefix. 125: a set-up error.
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

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCHER_SOURCE = os.path.join(ROOT, "scripts", "winetest", "launcher.c")
BASELINE_FILE = "zulwine-baseline.txt"
LAST_REG_FILE = "zulwine-last.reg"
ROOT_KEYS = {"HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE", "HKLM": "HKEY_LOCAL_MACHINE",
             "HKEY_CURRENT_USER": "HKEY_CURRENT_USER", "HKCU": "HKEY_CURRENT_USER", "HKEY_USERS": "HKEY_USERS"}


class WineError(Exception):
    pass


class WineTimeout(WineError):
    pass


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it; a Windows path is kept."""
    if re.match(r"^[A-Za-z]:", path):
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def removal_sections(previous_text, baseline):
    """[-KEY] sections that undo the keys a previous .reg text created.

    For every key section the topmost ancestor that a fresh prefix lacks goes
    (with its subkeys), so intermediate keys the import created go too; keys a
    fresh prefix has stay. Without a record of the root only the key itself goes.
    """
    out = []
    for line in previous_text.splitlines():
        line = line.strip()
        if not (line.startswith("[") and line.endswith("]")) or line.startswith("[-"):
            continue
        parts = [p for p in line[1:-1].split("\\") if p]
        root = ROOT_KEYS.get(parts[0].upper()) if parts else None
        if root is None:
            continue
        parts = [p.lower() for p in parts[1:]]
        known = baseline.get(root)
        depth = len(parts) if known is None else next(
            (d for d in range(1, len(parts) + 1) if "\\".join(parts[:d]) not in known), 0)
        if depth:
            out.append(root + "\\" + "\\".join(parts[:depth]))
    kept = []
    for key in sorted(set(out), key=len):
        if not any(key.startswith(k + "\\") for k in kept):
            kept.append(key)
    return ["[-%s]" % k for k in kept]


def _keys_of(path):
    """Every key (and ancestor) named in one of Wine's registry files, lower case, and the same keys through
    each link key (Wine 10 keeps CurrentControlSet as a link to ControlSet001)."""
    keys, links = set(), {}
    with open(path, "r", encoding="latin-1") as f:
        lines = f.read().replace("\\\n", "").splitlines()
    section = None
    for line in lines:
        end = line.rfind("]")
        if line.startswith("[") and end > 0:
            section = line[1:end].replace("\\\\", "\\").lower()
            parts = section.split("\\")
            keys.update("\\".join(parts[:d]) for d in range(1, len(parts) + 1))
        elif section and line.startswith('"SymbolicLinkValue"=hex(6):'):
            target = bytes.fromhex(line.split(":", 1)[1].replace(",", "").replace(" ", "")).decode("utf-16-le")
            # \Registry\Machine\<key>, or \Registry\User\<SID>\<key>
            parts = target.lower().strip("\\").split("\\")
            links[section] = "\\".join(parts[2:] if parts[1] == "machine" else parts[3:])
    for link, target in links.items():
        keys.update(link + key[len(target):] for key in list(keys) if key.startswith(target + "\\"))
    return keys


def remove_tree(path):
    """Removes a file, link or tree, read-only entries included."""
    if os.path.islink(path) or os.path.isfile(path):
        os.unlink(path)
    elif os.path.isdir(path):
        for top, dirs, _files in os.walk(path):
            for d in dirs:
                if not os.path.islink(os.path.join(top, d)):
                    os.chmod(os.path.join(top, d), 0o755)
        os.chmod(path, 0o755)
        shutil.rmtree(path)


def _user_temp(user_reg):
    """The TEMP value of HKCU\\Environment in a prefix's user.reg, or None."""
    try:
        with open(user_reg, encoding="latin-1") as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    section = False
    for line in lines:
        if line.startswith("["):
            section = line.startswith("[Environment]")
        elif section:
            m = re.match(r'"TEMP"=(?:str\(2\):)?"(.*)"$', line)
            if m:
                return m.group(1).replace("\\\\", "\\")
    return None


class WinePrefix:
    """A Wine prefix with its wineserver kept up while open; a temporary one without a path."""

    def __init__(self, path=None, launcher=None):
        self.scratch = tempfile.mkdtemp(prefix="zulwine-")
        self.path = os.path.abspath(path or os.path.join(self.scratch, "prefix"))
        self.launcher = launcher
        self.baseline = {}
        self.server_running = False
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                        # No Mono/Gecko install prompts, no menu entries written to $HOME.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        # No display: MessageBoxA returns at once instead of waiting for a click.
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)

    def open(self):
        """Creates the prefix when needed and starts its wineserver."""
        if not os.path.isdir(self.windows_dir):
            self.create()
        try:
            with open(os.path.join(self.path, BASELINE_FILE), "r", encoding="latin-1") as f:
                for line in f:
                    root, _, key = line.rstrip("\n").partition("\\")
                    self.baseline.setdefault(root, set()).add(key)
        except OSError:
            pass  # a prefix made elsewhere: only the imported keys themselves get removed
        self.start_server()
        return self

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    def create(self):
        # wineboot now and then fails at once on a busy machine (seen: status 53
        # after 0.2 s); a second try in a clean directory has always worked.
        for attempt in (1, 2):
            os.makedirs(self.path, exist_ok=True)
            self.start_server(services=False)
            status = self._quiet(["wineboot", "-i"], timeout=300)
            if status == 0 and os.path.isdir(self.windows_dir):
                break
            self.stop_server()
            if attempt == 2:
                raise WineError("wineboot -i failed in %s (status %d)" % (self.path, status))
            print("wineboot -i failed (status %d), trying once more" % status, file=sys.stderr)
            remove_tree(self.path)
        # Ending the server writes the registry files, which tell which keys a fresh prefix has.
        self.stop_server()
        with open(os.path.join(self.path, BASELINE_FILE), "w", encoding="latin-1") as f:
            for root, name in (("HKEY_LOCAL_MACHINE", "system.reg"), ("HKEY_CURRENT_USER", "user.reg")):
                f.writelines("%s\\%s\n" % (root, key) for key in sorted(_keys_of(os.path.join(self.path, name))))

    def start_server(self, services=True):
        if self.server_running:
            return
        self._quiet(["wineserver", "-p"])
        self.server_running = True
        # The first program after a server start also starts Wine's services; they keep
        # the standard handles they inherit, so let them inherit /dev/null, not a caller's pipe.
        if services:
            self._quiet(["wine", "cmd", "/c", "exit"], timeout=120)

    def stop_server(self):
        self._quiet(["wineserver", "-k"])
        self._quiet(["wineserver", "-w"], timeout=60)
        self.server_running = False

    def close(self):
        if self.server_running:
            self.stop_server()
        shutil.rmtree(self.scratch, ignore_errors=True)

    @property
    def windows_dir(self):
        """Unix path of C:\\windows."""
        return os.path.join(self.path, "drive_c", "windows")

    @property
    def temp_dir_windows(self):
        """The user's TEMP as the prefix's registry names it: C:\\users\\<user>\\Temp under Wine 8,
        ...\\AppData\\Local\\Temp under Wine 10."""
        users = os.path.join(self.path, "drive_c", "users")
        names = [getpass.getuser()] + sorted(n for n in os.listdir(users) if n != "Public")
        user = next((n for n in names if os.path.isdir(os.path.join(users, n))), names[0])
        value = _user_temp(os.path.join(self.path, "user.reg")) or "%USERPROFILE%\\Temp"
        return value.replace("%USERPROFILE%", "C:\\users\\" + user).rstrip("\\")

    @property
    def temp_dir(self):
        """Unix path of the directory GetTempPathA names."""
        rel = self.temp_dir_windows.split(":", 1)[1].strip("\\").split("\\")
        return os.path.join(self.path, "drive_c", *rel)

    def clean_dirs(self):
        """Empties the Temp directory and removes C:\\windows\\twain_32 and twain_64 (Wine ships gphoto2.ds and
        sane.ds in each)."""
        for name in ("twain_32", "twain_64"):
            remove_tree(os.path.join(self.windows_dir, name))
        os.makedirs(self.temp_dir, exist_ok=True)
        for name in os.listdir(self.temp_dir):
            remove_tree(os.path.join(self.temp_dir, name))

    def replace_registry(self, text):
        """Removes the keys of the text imported before and imports text (a REGEDIT4 text or empty), in one run."""
        last = os.path.join(self.path, LAST_REG_FILE)
        try:
            with open(last, "r", encoding="latin-1") as f:
                removals = removal_sections(f.read(), self.baseline)
        except OSError:
            removals = []
        if text.strip() or removals:
            body = text.split("\n", 1)[1] if text.strip() else ""
            self.import_reg_text("REGEDIT4\n\n" + "\n".join(removals) + "\n\n" + body)
        with open(last, "w", encoding="latin-1") as f:
            f.write(text)

    def import_reg_text(self, text):
        path = os.path.join(self.scratch, "import.reg")
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        status = self._quiet(["wine", "regedit", "/S", windows_path(path)], timeout=120)
        if status != 0:
            raise WineError("regedit failed (status %d) on:\n%s" % (status, text))

    def run(self, exe, cmdline="", timeout=60, stdout=None, stderr=None, cwd=None):
        """Runs exe with the exact command line `"<exe>" cmdline` (just `"<exe>"` when empty); returns its status.

        stdout/stderr: files or None (inherit); cwd: the Unix directory it starts in.
        After timeout seconds every process of the prefix is ended and WineTimeout raised.
        """
        if not self.launcher:
            self.launcher = os.path.join(self.scratch, "launcher.exe")
            subprocess.run(["i686-w64-mingw32-gcc", "-std=c11", "-Os", "-s", "-static", "-o", self.launcher,
                            LAUNCHER_SOURCE], check=True)
        text = '"%s"' % windows_path(exe) + (" " + cmdline if cmdline else "")
        launch_file = os.path.join(self.scratch, "launch.txt")
        with open(launch_file, "wb") as f:
            f.write((windows_path(exe) + "\n" + text).encode("latin-1"))
        proc = subprocess.Popen(["wine", self.launcher, windows_path(launch_file)], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr, cwd=cwd,
                                start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            # The program runs in its own Unix process: only the server can end it.
            self.stop_server()
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            self.start_server()
            raise WineTimeout("%s did not end within %d s" % (exe, timeout))

    def _quiet(self, argv, timeout=None):
        return subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode


def list_data_sources(prefix, lister, dsm):
    """The product names the TWAIN Data Source Manager dsm lists, through the lister of tests/client."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = prefix.run(lister, '"%s"' % windows_path(os.path.abspath(dsm)), stdout=out, stderr=err)
        out.seek(0)
        err.seek(0)
        if status != 0:
            raise WineError("the lister ended with status %d: %s" % (status, err.read().decode("latin-1").strip()))
        return [line for line in out.read().decode("latin-1").splitlines() if line]


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m harness.wine", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("verb", choices=("create", "remove", "run"))
    parser.add_argument("--prefix")
    parser.add_argument("--reg")
    parser.add_argument("words", nargs="+", metavar="DIR | EXE [ARGUMENT...]")
    args = parser.parse_args(argv)
    try:
        if args.verb != "run":
            path = os.path.abspath(args.words[0])
            if os.path.isdir(path):
                prefix = WinePrefix(path)
                prefix.stop_server()  # a server left by an interrupted run must end too
                prefix.close()
                shutil.rmtree(path)
            if args.verb == "create":
                WinePrefix(path).open().close()
            return 0
        with WinePrefix(args.prefix) as prefix:
            if args.reg:
                with open(args.reg, "r", encoding="latin-1") as f:
                    prefix.replace_registry(f.read())
            sys.stdout.flush()
            return prefix.run(args.words[0], " ".join('"%s"' % windows_path(a) if os.path.exists(a) else a
                                                       for a in args.words[1:]))
    except (WineError, OSError, subprocess.SubprocessError) as e:
        print("harness.wine: %s" % e, file=sys.stderr)
        return 125


if __name__ == "__main__":
    sys.exit(main())
