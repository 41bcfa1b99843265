#!/usr/bin/env python3
"""The usage box as a person sees it: ZULFuncts.exe /? under Wine on a virtual
X display shows a window titled "Usage" with the syntax text and an OK
button; a picture of it is saved as PNG, OK is pressed, and the program ends
with exit status 0.

And where nobody sees it: on a window station of its own, as a service's
programs run, an empty command line and /? end at once with exit status 0
and no box (a box there would wait for ever, the display notwithstanding).

Run under xvfb-run (DISPLAY must be set):
  xvfb-run -a -s "-screen 0 800x600x24" test_usage_box.py --exe EXE --boxshot BOXSHOT
      --onstation ONSTATION --prefix DIR --png OUT.png
"""

import argparse
import os
import struct
import subprocess
import sys
import time
import zlib

from harness.wine import WinePrefix, windows_path

# Wine draws the caption and frame itself: a bare X server has no window manager to do it.
UNMANAGED_WINDOWS = 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'


def read_bmp(path):
    """(width, height, rows of RGB bytes, top row first) of a bottom-up 24-bit BMP."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _planes, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or height <= 0:
        raise ValueError("expected a bottom-up 24-bit BMP")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


# Long enough for a slow start, far shorter than for ever.
HIDDEN_RUN_SECONDS = 20


def run_on_station(env, onstation, station, program, arguments=None):
    """(exit status, output, seconds) of program run on station through onstation."""
    argv = ["wine", onstation, station, str(HIDDEN_RUN_SECONDS), windows_path(program)]
    if arguments is not None:
        argv.append(arguments)
    start = time.monotonic()
    res = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, timeout=HIDDEN_RUN_SECONDS + 60)
    return res.returncode, res.stdout.decode("latin-1"), time.monotonic() - start


def check_hidden_station(env, onstation, exe, failures):
    """No box and exit status 0 on a station that is not visible; WinSta0 is."""
    for station, expected in (("WinSta0", "flags 0x1"), ("ZulHidden", "flags 0x0")):
        status, output, _ = run_on_station(env, onstation, station, onstation, "--flags")
        if status != 0 or output.strip() != expected:
            failures.append("%s: %r with status %d, expected %r" % (station, output.strip(), status, expected))
    for arguments in (None, "/?"):
        what = "an empty command line" if arguments is None else arguments
        status, output, seconds = run_on_station(env, onstation, "ZulHidden", exe, arguments)
        print("hidden station, %s: exit status %d after %.1f s" % (what, status, seconds))
        if status != 0:
            failures.append("hidden station, %s: exit status %d, expected 0 at once (124: it waited)\n%s"
                            % (what, status, output))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--boxshot", required=True)
    parser.add_argument("--onstation", required=True)
    parser.add_argument("--prefix", help="Wine prefix (default: a temporary one)")
    parser.add_argument("--png", required=True)
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: run under xvfb-run", file=sys.stderr)
        return 2

    failures = []
    bmp = os.path.splitext(args.png)[0] + ".bmp"
    for path in (bmp, args.png):
        if os.path.exists(path):
            os.unlink(path)
    with WinePrefix(args.prefix) as prefix:
        prefix.import_reg_text(UNMANAGED_WINDOWS)
        env = dict(prefix.env, DISPLAY=os.environ["DISPLAY"])
        check_hidden_station(env, args.onstation, args.exe, failures)
        program = subprocess.Popen(["wine", args.exe, "/?"], env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            shot = subprocess.run(["wine", args.boxshot, "Usage", "Syntax: ZULFuncts.exe <Function to call>",
                                   windows_path(bmp), "60"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=120)
            sys.stdout.write(shot.stdout.decode("latin-1"))
            if shot.returncode != 0:
                failures.append("boxshot failed with status %d" % shot.returncode)
            status = program.wait(timeout=30)
        except subprocess.TimeoutExpired:
            prefix.stop_server()
            program.kill()
            program.wait()
            failures.append("the program or boxshot did not end")
            status = None
        output = program.stdout.read().decode("latin-1")
        if status is not None and status != 0:
            failures.append("exit status %d after OK, expected 0" % status)
        if output.strip():
            failures.append("the program wrote to its standard output: %r" % output[:200])

    if os.path.isfile(bmp):
        width, height, rows = read_bmp(bmp)
        write_png(args.png, width, height, rows)
        os.unlink(bmp)
        colours = set()
        for row in rows:
            colours.update(row[i:i + 3] for i in range(0, len(row), 3))
        print("picture %dx%d with %d colours: %s" % (width, height, len(colours), args.png))
        # A box with a caption bar, text and a button has far more than a handful of colours.
        if width < 200 or height < 100 or len(colours) < 8:
            failures.append("the picture does not look like a drawn box")
    elif not failures:
        failures.append("no picture was taken")

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
