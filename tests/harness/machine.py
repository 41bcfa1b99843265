"""The machine the program runs on: natively, the stand-in's sysroot and a
temporary directory; under Wine, a prefix. Both give the Windows and temp
directories as Unix paths, take a registry text, and run the program with an
exact command line (the text after the program name)."""

import os
import shutil
import signal
import subprocess

from .wine import WineTimeout, remove_tree


def standin_env(sysroot, temp_dir, cmdline=None, station=None):
    """The environment of a program on the stand-in: this process's without any ZULFUNCTS_
    variable, then the sysroot (None: not named), every account's temp directory (TMPDIR;
    SystemTemp, where GetTempPath2A puts LocalSystem's, root's, files), and when given the
    exact command line and the window station (the default: WinSta0)."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("ZULFUNCTS_")}
    env.update(TMPDIR=temp_dir + "/", SystemTemp=temp_dir + "/")
    for name, value in (("ZULFUNCTS_SYSROOT", sysroot), ("ZULFUNCTS_CMDLINE", cmdline),
                        ("ZULFUNCTS_WINDOW_STATION", station)):
        if value is not None:
            env[name] = value
    return env


class NativeMachine:
    name = "native"

    def __init__(self, exe, sysroot, temp_dir, station=None, named_sysroot=True):
        self.exe = os.path.abspath(exe)
        self.sysroot = sysroot
        self.windows_dir = os.path.join(sysroot, "windows")
        self.temp_dir = temp_dir
        os.makedirs(self.windows_dir, exist_ok=True)
        self.named = (sysroot if named_sysroot else None, temp_dir)
        self.station = station
        self.env = standin_env(*self.named, station=station)
        # What %WINDIR% and %TEMP% stand for in expected log lines.
        self.subst = {"%WINDIR%": self.windows_dir, "%TEMP%": temp_dir + "/"}

    def set_registry(self, text):
        with open(os.path.join(self.sysroot, "registry.reg"), "w", encoding="latin-1", newline="") as f:
            f.write(text)

    def argv(self, args, exe=None):
        return [exe or self.exe] + args

    def run(self, cmdline, stdout=None, stderr=None, cwd=None, timeout=60):
        """The exit status, or None after a timeout."""
        env = standin_env(*self.named, cmdline=cmdline, station=self.station)
        proc = subprocess.Popen([self.exe], cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=stderr, start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            return None

    def clean(self):
        """No TWAIN directory, an empty temp directory."""
        remove_tree(os.path.join(self.windows_dir, "twain_32"))
        shutil.rmtree(self.temp_dir, ignore_errors=True)
        os.makedirs(self.temp_dir)

    def close(self):
        pass


class WineMachine:
    name = "wine"

    def __init__(self, exe, prefix):
        self.exe = os.path.abspath(exe)
        self.prefix = prefix.open()
        self.windows_dir = prefix.windows_dir
        self.temp_dir = prefix.temp_dir
        self.env = prefix.env
        self.subst = {"%WINDIR%": "C:\\windows", "%TEMP%": prefix.temp_dir_windows + "\\"}
        self.set_registry = prefix.replace_registry
        self.clean = prefix.clean_dirs

    def argv(self, args, exe=None):
        # Plain `wine EXE ARGS` for command lines that need no exact text: the
        # launcher would add a second Wine process (~9 ms) to every timed run.
        return ["wine", exe or self.exe] + args

    def run(self, cmdline, stdout=None, stderr=None, cwd=None, timeout=60):
        """The exit status, or None after a timeout."""
        try:
            return self.prefix.run(self.exe, cmdline, timeout=timeout, stdout=stdout, stderr=stderr, cwd=cwd)
        except WineTimeout:
            return None

    def close(self):
        self.clean()
        self.set_registry("")
        self.prefix.close()


def read_log(machine, name):
    """The text of a log in the temp directory, or None."""
    try:
        with open(os.path.join(machine.temp_dir, name), "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None
