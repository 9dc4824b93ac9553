"""Runs our rtsp-dump (natively, or rtsp-dump.exe under the build's
emulator) and parses what it prints.  Standard library only.

The ctest entries pass the binary and the emulator in the environment:

  CAMVUE_DUMP        path of rtsp-dump or rtsp-dump.exe
  CAMVUE_EMULATOR    empty natively; else the runner's words joined by '|'
  CAMVUE_BUILD       native | win64

    run = Dump(url, seconds=4).start()
    ...                              # run.lines grows while it runs
    run.wait()
    run.rc, run.find(r"^playing"), run.summary

Output lines look like "[    12.345] text"; the Stop lines around each
TEARDOWN and the final summary line have no time prefix.  Under wine the
lines end in CR LF; the CR is dropped here.
"""

import os
import re
import signal
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("CAMVUE_BUILD", "native")
# By hand, without ctest: the native build's rtsp-dump.
DUMP = os.environ.get("CAMVUE_DUMP") or os.path.normpath(
    os.path.join(HERE, "..", "..", "build", "native", "tools", "rtsp-dump", "rtsp-dump"))
EMULATOR = [w for w in os.environ.get("CAMVUE_EMULATOR", "").split("|") if w]

_TIMED = re.compile(r"^\[\s*(\d+)\.(\d{3})\] (.*)$")
# The last count: frames delivered by frame assembly (older builds counted
# frame ends, i.e. marker bits, instead).
_SUMMARY = re.compile(r"^summary: attempts=(\d+) reconnects=(\d+) datagrams=(\d+) "
                      r"taken=(\d+) (?:frames|frame-ends)=(\d+)$")
_RATE = re.compile(r"^packets/s ([\d.]+) \(total (\d+) taken, (\d+) dropped, "
                   r"(\d+) (?:frames|frame ends)\)$")
_SETUP = re.compile(r"^set up (unicast|multicast) local-ports=(\d+)-(\d+) "
                    r"server-ports=(\d+)-(\d+) session=(\S+) timeout=(\d+)$")
_DESCRIBED = re.compile(r"^described codec=(\S+) payload-type=(\d+) clock-rate=(\d+) "
                        r"size=(\d+)x(\d+)$")


def native():
    return BUILD == "native" and not EMULATOR


def command(args, emulator=None):
    """argv that runs rtsp-dump with `args` in this build."""
    if not os.path.exists(DUMP):
        raise RuntimeError("rtsp-dump not found at %s (build it, or run through ctest)" % DUMP)
    return (EMULATOR if emulator is None else emulator) + [DUMP] + [str(a) for a in args]


class Line:
    """One output line: t (seconds by rtsp-dump's clock, or None for an
    unprefixed line), text, arrival (time.monotonic() when read) and wall
    (time.time() when read)."""
    __slots__ = ("t", "text", "arrival", "wall")

    def __init__(self, t, text, arrival, wall):
        self.t, self.text, self.arrival, self.wall = t, text, arrival, wall

    def __repr__(self):
        return "[%s] %s" % ("%.3f" % self.t if self.t is not None else "-", self.text)


class SetUp:
    """A parsed "set up ..." line."""

    def __init__(self, line, m):
        self.line = line
        self.mode = m.group(1)
        self.rtp, self.rtcp = int(m.group(2)), int(m.group(3))
        self.server_rtp, self.server_rtcp = int(m.group(4)), int(m.group(5))
        self.session = m.group(6)
        self.timeout = int(m.group(7))


class Dump:
    def __init__(self, url, seconds=None, extra=(), netns=None, emulator=None):
        args = [url]
        if seconds is not None:
            args += ["--seconds", seconds]
        args += list(extra)
        argv = command(args, emulator)
        if netns is not None:
            argv = netns.cmd(argv)
        self.argv = argv
        self.proc = None
        self.lines = []
        self.stderr = ""
        self.rc = None
        self.started = None
        self._lock = threading.Lock()
        self._threads = []

    # -- running

    def start(self):
        self.started = time.monotonic()
        self.proc = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Read both pipes at once, all the time: a retry storm prints fast and
        # must never block on a full pipe.
        out = threading.Thread(target=self._read_stdout, daemon=True)
        err = threading.Thread(target=self._read_stderr, daemon=True)
        self._threads = [out, err]
        out.start()
        err.start()
        return self

    def _read_stdout(self):
        for raw in iter(self.proc.stdout.readline, b""):
            text = raw.decode("utf-8", "replace").rstrip("\r\n").rstrip("\r")
            now, wall = time.monotonic(), time.time()
            m = _TIMED.match(text)
            if m:
                line = Line(int(m.group(1)) + int(m.group(2)) / 1000.0, m.group(3), now, wall)
            else:
                line = Line(None, text, now, wall)
            with self._lock:
                self.lines.append(line)

    def _read_stderr(self):
        data = self.proc.stderr.read()
        self.stderr = data.decode("utf-8", "replace").replace("\r\n", "\n")

    def wait(self, timeout=None):
        """Waits for the exit (killing it after `timeout`) and returns rc."""
        try:
            self.rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        for t in self._threads:
            t.join(10)
        self.proc.stdout.close()
        self.proc.stderr.close()
        return self.rc

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def signal(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)

    def wait_for(self, pattern, timeout, after=0):
        """Waits until a line (from index `after` on) matches `pattern`;
        returns its index, or None when the time ran out or it exited."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            with self._lock:
                for i in range(after, len(self.lines)):
                    if rx.search(self.lines[i].text):
                        return i
                after = len(self.lines)
            if time.monotonic() >= deadline or (self.proc.poll() is not None
                                                and not self._threads[0].is_alive()):
                return None
            time.sleep(0.02)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()
        return False

    # -- reading the output

    def snapshot(self):
        with self._lock:
            return list(self.lines)

    def find(self, pattern, start=0, end=None):
        """Lines (from index start to end) whose text matches `pattern`."""
        rx = re.compile(pattern)
        return [ln for ln in self.snapshot()[start:end] if rx.search(ln.text)]

    def index(self, pattern, start=0):
        rx = re.compile(pattern)
        for i, ln in enumerate(self.snapshot()):
            if i >= start and rx.search(ln.text):
                return i
        return None

    def texts(self):
        return [ln.text for ln in self.snapshot()]

    def transcript(self, limit=120):
        """The output for failure messages (middle cut when long)."""
        lines = ["%r" % ln for ln in self.snapshot()]
        if len(lines) > limit:
            half = limit // 2
            lines = lines[:half] + ["... (%d lines) ..." % (len(lines) - limit)] + lines[-half:]
        return ("argv: %s\nrc: %s\n--- stdout ---\n%s\n--- stderr ---\n%s"
                % (" ".join(self.argv), self.rc, "\n".join(lines), self.stderr))

    def described(self):
        out = []
        for ln in self.snapshot():
            m = _DESCRIBED.match(ln.text)
            if m:
                out.append({"codec": m.group(1), "pt": int(m.group(2)),
                            "clock": int(m.group(3)),
                            "size": (int(m.group(4)), int(m.group(5)))})
        return out

    def setups(self):
        out = []
        for ln in self.snapshot():
            m = _SETUP.match(ln.text)
            if m:
                out.append(SetUp(ln, m))
        return out

    def rates(self, start=0, end=None):
        """(line, datagrams/s, taken, dropped, frame ends) of each packets/s line."""
        out = []
        for ln in self.snapshot()[start:end]:
            m = _RATE.match(ln.text)
            if m:
                out.append((ln, float(m.group(1)), int(m.group(2)), int(m.group(3)),
                            int(m.group(4))))
        return out

    @property
    def summary(self):
        for ln in self.snapshot():
            m = _SUMMARY.match(ln.text)
            if m:
                keys = ("attempts", "reconnects", "datagrams", "taken", "frame_ends")
                return dict(zip(keys, map(int, m.groups())))
        return None


def run_dump(url, seconds, extra=(), netns=None, slack=30, emulator=None):
    """Runs rtsp-dump to its end and returns the finished Dump."""
    d = Dump(url, seconds, extra, netns, emulator).start()
    try:
        d.wait(seconds + slack)
    finally:
        d.kill()
    return d
