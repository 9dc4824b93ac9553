"""VLC (Debian's cvlc) as an RTSP server, for Python integration tests.
Standard library only.

    from vlc import make_media, start_vlc

    with make_media("h264") as media:            # a small file made by ffmpeg
        with start_vlc(media.path, "h264") as v:
            v.url                                # rtsp://127.0.0.1:PORT/h264
            v.port
            v.describe()                         # the DESCRIBE reply (peer.RtspResponse)
        # leaving the block stops VLC (v.stop(): SIGTERM, then SIGKILL)

VLC streams the file in a loop with its RTP stream output
(#rtp{sdp=rtsp://...}): a broadcast that runs from launch, whether anyone
watches or not.  Each time the file starts over VLC drops and re-creates its
tracks, which ends every RTSP session that was playing (its SETUP'd track is
gone, later SETUPs of the old control URL get 404).  The files made here are
therefore long enough (MEDIA_SECONDS) that a test run of a few seconds started
right after launch never meets a loop boundary.

cvlc refuses to run as root.  As root it is started as `nobody` (setpriv),
with HOME set to a fresh directory that user owns; the media files and their
directory are made readable for it.  As any other user it runs as that user.

VLC is stopped by its PID only (setpriv and cvlc exec it, so the PID of the
launched process is VLC's own).
"""

import contextlib
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if HERE not in sys.path:
    sys.path.insert(0, HERE)

from peer import RtspConnection  # noqa: E402

CVLC = "/usr/bin/cvlc"
FFMPEG = "/usr/bin/ffmpeg"
SETPRIV = "/usr/bin/setpriv"
HOST = "127.0.0.1"

MEDIA_SECONDS = 30
MEDIA_SIZE = "320x240"
MEDIA_RATE = 25

# kind -> (file name, ffmpeg video encoder options).
# A key frame every MEDIA_RATE pictures exactly (no scene-cut ones), no
# B-frames: RTP timestamps then rise by one picture time per packet group.
MEDIA = {
    "h264": ("h264.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25",
                          "-keyint_min", "25", "-sc_threshold", "0", "-bf", "0"]),
    # RTP/JPEG (RFC 2435) carries no Huffman tables: the receiver puts the
    # standard ones in front of the scan.  ffmpeg's encoder makes optimal
    # tables unless told otherwise, and VLC sends such pictures anyway, so
    # every receiver would decode them wrongly.
    "mjpeg": ("mjpeg.avi", ["-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-q:v", "8",
                            "-huffman", "default"]),
    "mpeg4": ("mpeg4.mp4", ["-c:v", "mpeg4", "-g", "25", "-sc_threshold", "0",
                            "-bf", "0", "-q:v", "5"]),
    # With B-frames: pictures are sent in decoding order, so the RTP
    # timestamp (the presentation time) goes back now and then.
    "h264_bframes": ("h264-bframes.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p",
                                          "-g", "25", "-keyint_min", "25",
                                          "-sc_threshold", "0", "-bf", "2"]),
}


class VlcError(RuntimeError):
    pass


# --------------------------------------------------------------------------
# media


class Media:
    def __init__(self, path, kind, directory):
        self.path = path
        self.kind = kind
        self.directory = directory


def _readable_dir():
    """A fresh temporary directory every user may read (0755)."""
    d = tempfile.mkdtemp(prefix="camvue-vlc-")
    os.chmod(d, 0o755)
    return d


def make_media_file(kind, directory, seconds=MEDIA_SECONDS):
    """Encode a test-pattern clip of `kind` (h264, mjpeg, mpeg4) into
    `directory` with ffmpeg and return its path (mode 0644)."""
    name, codec = MEDIA[kind]
    path = os.path.join(directory, name)
    argv = [FFMPEG, "-nostdin", "-v", "error", "-y", "-f", "lavfi",
            "-i", "testsrc=size=%s:rate=%d" % (MEDIA_SIZE, MEDIA_RATE),
            "-t", str(seconds), "-an"] + codec + [path]
    r = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True, timeout=60)
    if r.returncode != 0 or not os.path.exists(path):
        raise VlcError("ffmpeg could not make %s: %s" % (name, r.stderr.strip()))
    os.chmod(path, 0o644)
    return path


@contextlib.contextmanager
def make_media(*kinds, seconds=MEDIA_SECONDS):
    """Make clips of `kinds` in a temporary directory.  With one kind yields a
    Media; with several, a dict kind -> Media.  Removed on exit."""
    directory = _readable_dir()
    try:
        made = {k: Media(make_media_file(k, directory, seconds), k, directory)
                for k in kinds}
        yield made[kinds[0]] if len(kinds) == 1 else made
    finally:
        shutil.rmtree(directory, ignore_errors=True)


# --------------------------------------------------------------------------
# the server


def free_tcp_port():
    """A TCP port on 127.0.0.1 that was free a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def _port_open(port):
    try:
        with socket.create_connection((HOST, port), timeout=0.5):
            return True
    except OSError:
        return False


class Vlc:
    """A running VLC serving one stream at rtsp://127.0.0.1:PORT/NAME."""

    def __init__(self, proc, port, name, media_file, log_path, home):
        self.proc = proc
        self.port = port
        self.name = name
        self.media_file = media_file
        self.log_path = log_path
        self.home = home
        self.url = "rtsp://%s:%d/%s" % (HOST, port, name)

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def log_text(self):
        try:
            with open(self.log_path, "r", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def describe(self, timeout=5.0):
        """One DESCRIBE of the stream on a fresh connection (RtspResponse)."""
        with RtspConnection(HOST, self.port, timeout=timeout) as c:
            return c.request("DESCRIBE", self.url, [("Accept", "application/sdp")])

    def stop(self, timeout=5.0):
        """SIGTERM, then SIGKILL after `timeout`; waits.  Returns the exit
        status (None when it had already been reaped)."""
        if self.proc.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        return self.proc.returncode

    def close(self):
        self.stop()
        with contextlib.suppress(OSError):
            os.unlink(self.log_path)
        shutil.rmtree(self.home, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def _user_prefix(home):
    """argv prefix and environment to run VLC as a non-root user."""
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "LANG": "C.UTF-8"}
    if os.geteuid() != 0:
        return [], env
    nobody = pwd.getpwnam("nobody")
    os.chown(home, nobody.pw_uid, nobody.pw_gid)
    return [SETPRIV, "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
            "--clear-groups"], env


def _stream_ready(port, url):
    """True once a DESCRIBE of `url` answers 200 with a video section."""
    try:
        with RtspConnection(HOST, port, timeout=2.0) as c:
            r = c.request("DESCRIBE", url, [("Accept", "application/sdp")])
    except (OSError, ConnectionError, ValueError):
        return False
    return r.status == 200 and "\nm=video " in "\n" + r.body


def _launch(media_file, name, port, timeout):
    home = tempfile.mkdtemp(prefix="camvue-vlc-home-")
    fd, log_path = tempfile.mkstemp(prefix="camvue-vlc-", suffix=".log")
    prefix, env = _user_prefix(home)
    sout = "#rtp{sdp=rtsp://%s:%d/%s}" % (HOST, port, name)
    argv = prefix + [CVLC, "--no-color", media_file, "--loop", "--sout", sout,
                     "--sout-keep", "--no-sout-audio"]
    with os.fdopen(fd, "w") as log:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT, env=env,
                                start_new_session=True)
    v = Vlc(proc, port, name, media_file, log_path, home)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not v.running():
            break
        if _port_open(port) and _stream_ready(port, v.url):
            return v
        time.sleep(0.1)
    why = ("VLC exited with status %s" % proc.returncode if not v.running()
           else "VLC did not serve %s within %.0f s" % (v.url, timeout))
    detail = v.log_text()
    v.close()
    raise VlcError("%s\n--- VLC output ---\n%s" % (why, detail))


@contextlib.contextmanager
def start_vlc(media_file, name, port=None, timeout=15.0, attempts=3):
    """Run VLC streaming `media_file` at rtsp://127.0.0.1:PORT/`name`; wait
    until it listens and DESCRIBE shows the video, then yield a Vlc (.url,
    .port, .stop()).  Without `port` a free one is picked (and another tried
    when VLC cannot serve on it).  VLC is stopped on exit."""
    last = None
    for _ in range(attempts if port is None else 1):
        try:
            v = _launch(media_file, name, port or free_tcp_port(), timeout)
            break
        except VlcError as e:
            last = e
    else:
        raise last
    try:
        yield v
    finally:
        v.close()


def _main(argv):
    # python3 vlc.py KIND: make a clip, serve it, print the URL, wait.
    kind = argv[0] if argv else "h264"
    with make_media(kind) as media, start_vlc(media.path, kind) as v:
        print(v.url, flush=True)
        try:
            v.proc.wait()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
