"""rtsp-dump against VLC's RTSP server (cvlc with #rtp{sdp=rtsp://...}).

VLC is a second RTSP server written by other people, with its own habits:
absolute control URLs in the SDP, "RTP/AVP/UDP" in its Transport answer,
an MPEG-4 fmtp with a blank after each ";", JPEG as static payload type 26
with no fmtp at all, 15-16 hex digit session ids.  Each stream test plays one
of its streams with rtsp-dump for 5 s and checks what the tool prints; the
RTSP exchange runs through a recording relay (byte for byte, both ways) so
the test can also hold the tool's requests against VLC's replies.

Beyond the three streams: RTP ahead of the PLAY reply (the relay holds the
reply back), H.264 with B-frames (RTP timestamps step back), and a 6 s clip
whose loop ends the session under the tool (VlcLoop: it has to reconnect).

Run by ctest (tests/integration/vlc.cmake), with
  CAMVUE_DUMP      rtsp-dump (native) or rtsp-dump.exe (win64)
  CAMVUE_EMULATOR  empty, or the wine runner command with '|' between words
By hand, from this directory:
  /usr/bin/python3 -m unittest -v vlc_test
(without CAMVUE_DUMP the native build's rtsp-dump is used).
"""

import contextlib
import datetime
import os
import re
import select
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))

from vlc import HOST, make_media_file, start_vlc  # noqa: E402

DUMP_SECONDS = 5
FRAME_RATE = 25          # the clips' frame rate (vlc.MEDIA_RATE)

# kind -> what rtsp-dump has to say about VLC's stream of it, and the SDP
# lines VLC gives for it (checked first, so a changed VLC is told apart from a
# broken client).
STREAMS = {
    "h264": {"codec": "H.264", "pt": 96, "size": "320x240", "frame": "h264",
             "rtpmap": "a=rtpmap:96 H264/90000",
             "fmtp": r"a=fmtp:96 packetization-mode=1;profile-level-id=[0-9a-f]{6};"
                     r"sprop-parameter-sets=[A-Za-z0-9+/=]+,[A-Za-z0-9+/=]+;"},
    # RFC 2435 JPEG carries the picture size in every packet, not in the SDP.
    "mjpeg": {"codec": "JPEG", "pt": 26, "size": "0x0", "frame": "jpeg",
              "rtpmap": "a=rtpmap:26 JPEG/90000", "fmtp": None},
    "mpeg4": {"codec": "MPEG-4", "pt": 96, "size": "320x240", "frame": "mpeg4",
              "rtpmap": "a=rtpmap:96 MP4V-ES/90000",
              "fmtp": r"a=fmtp:96 profile-level-id=\d+; config=[0-9a-f]+;"},
}


# rtsp-dump's per-second line, its frame lines and its last line ("frame
# ends"/"frame-ends" from the days it counted marker bits).
RATE_LINE = (r"packets/s ([\d.]+) \(total (\d+) taken, (\d+) dropped, "
             r"(\d+) (?:frames|frame ends)\)$")
FRAME_LINE = r"frame (\d{6}) (\S+) key=([01]) (\d+)x(\d+) length=(\d+) pts=(\d+)$"
SUMMARY_LINE = (r"summary: attempts=(\d+) reconnects=(\d+) datagrams=(\d+) "
                r"taken=(\d+) (?:frames|frame-ends)=(\d+)$")


# --------------------------------------------------------------------------
# running rtsp-dump


def dump_command():
    dump = os.environ.get("CAMVUE_DUMP") or os.path.join(
        HERE, "..", "..", "build", "native", "tools", "rtsp-dump", "rtsp-dump")
    emulator = [w for w in os.environ.get("CAMVUE_EMULATOR", "").split("|") if w]
    return emulator + [dump]


class DumpRun:
    """One rtsp-dump run: exit status, output lines, and the UTC time taken
    just after it exited."""

    PREFIXED = re.compile(r"^\[\s*(\d+)\.(\d{3})\] (.*)$")

    def __init__(self, argv, returncode, stdout, stderr, ended_utc):
        self.argv = argv
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.ended_utc = ended_utc
        # (position, seconds or None, text); None for unprefixed lines
        self.lines = []
        for i, line in enumerate(stdout.splitlines()):
            m = self.PREFIXED.match(line)
            if m:
                self.lines.append((i, int(m.group(1)) + int(m.group(2)) / 1000.0,
                                   m.group(3)))
            elif line:
                self.lines.append((i, None, line))

    def find(self, pattern):
        """All (position, seconds, match) whose text matches `pattern` from
        its start."""
        rx = re.compile(pattern)
        out = []
        for pos, t, text in self.lines:
            m = rx.match(text)
            if m:
                out.append((pos, t, m))
        return out

    def report(self):
        return "command: %s\nexit status: %s\n--- stdout ---\n%s--- stderr ---\n%s" % (
            " ".join(self.argv), self.returncode, self.stdout, self.stderr)


def run_dump(url, *args, timeout=60):
    argv = dump_command() + [url] + [str(a) for a in args]
    r = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=timeout)
    ended = datetime.datetime.now(datetime.timezone.utc)
    # wine's console writes "\r\n"
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    err = r.stderr.decode("utf-8", "replace").replace("\r", "")
    return DumpRun(argv, r.returncode, out, err, ended)


# --------------------------------------------------------------------------
# the recording relay


class Message:
    """One RTSP request or reply as it crossed the relay; `end` is the offset
    just past it in its byte stream."""

    def __init__(self, first_line, headers, body, end):
        self.first_line = first_line
        self.headers = headers
        self.body = body
        self.end = end

    def header(self, name):
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return None

    def __repr__(self):
        return "<%s>" % self.first_line


def split_messages(data):
    """RTSP messages in a byte stream (no interleaved data expected)."""
    out = []
    i = 0
    while True:
        end = data.find(b"\r\n\r\n", i)
        if end < 0:
            break
        lines = data[i:end].decode("latin-1").split("\r\n")
        headers = []
        for line in lines[1:]:
            k, _, v = line.partition(":")
            headers.append((k.strip(), v.strip()))
        n = 0
        for k, v in headers:
            if k.lower() == "content-length":
                n = int(v)
        body = data[end + 4:end + 4 + n].decode("latin-1")
        i = end + 4 + n
        out.append(Message(lines[0], headers, body, i))
    return out


class RelayedConnection:
    """What crossed one relayed connection, with times (time.monotonic())."""

    def __init__(self):
        self.from_client = bytearray()
        self.from_server = bytearray()
        self.forwarded = []            # (time, bytes of from_server delivered so far)
        self.received = []             # (time, bytes of from_client so far)
        self.client_closed = None      # when the client ended its side
        self.server_closed = None

    def requests(self):
        return split_messages(bytes(self.from_client))

    def replies(self):
        return split_messages(bytes(self.from_server))

    def sent_at(self, request):
        """When all of `request` had come in from the client."""
        for t, n in self.received:
            if n >= request.end:
                return t
        return None

    def delivered_at(self, reply):
        """When the relay had passed all of `reply` on to the client (None:
        never, the client had gone)."""
        for t, n in self.forwarded:
            if n >= reply.end:
                return t
        return None


class RecordingRelay:
    """Listens on 127.0.0.1:port and relays each TCP connection to
    127.0.0.1:target, byte for byte, keeping a copy of both directions.

    hold: {METHOD: seconds}; what the server sends after the client's METHOD
    request reaches it is passed on that much later (order is kept).  When
    the client closes its side, the server's side is shut for writing and
    read to its end (up to 2 s), so a reply sent after the client left is
    still recorded."""

    def __init__(self, target_port, hold=None):
        self.target_port = target_port
        self.hold = dict(hold or {})
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind((HOST, 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.connections = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        live = []
        try:
            while not self._stop.is_set():
                now = time.monotonic()
                waits = [0.05]
                for c in live:
                    self._flush(c, now)
                    if c["queue"]:
                        waits.append(max(0.0, c["queue"][0][0] - now))
                    if c["drain_until"] and now >= c["drain_until"]:
                        self._close_server(c, now)
                live = [c for c in live if c["server"] or c["client"]]
                watch = [self.listener]
                for c in live:
                    watch += [x for x in (c["client"], c["server"]) if x is not None]
                ready, _, _ = select.select(watch, [], [], min(waits))
                now = time.monotonic()
                for s in ready:
                    if s is self.listener:
                        client, _ = self.listener.accept()
                        server = socket.create_connection((HOST, self.target_port))
                        rec = RelayedConnection()
                        self.connections.append(rec)
                        live.append({"rec": rec, "client": client, "server": server,
                                     "queue": [], "delay": 0.0, "drain_until": None})
                        continue
                    for c in live:
                        if s is c["client"]:
                            self._from_client(c, now)
                        elif s is c["server"]:
                            self._from_server(c, now)
        finally:
            for c in live:
                for x in (c["client"], c["server"]):
                    if x is not None:
                        x.close()

    def _from_client(self, c, now):
        rec = c["rec"]
        try:
            data = c["client"].recv(65536)
        except OSError:
            data = b""
        if not data:
            rec.client_closed = now
            c["client"].close()
            c["client"] = None
            if c["server"] is not None:
                with contextlib.suppress(OSError):
                    c["server"].shutdown(socket.SHUT_WR)
                c["drain_until"] = now + 2.0
            return
        rec.from_client.extend(data)
        rec.received.append((now, len(rec.from_client)))
        for method, seconds in self.hold.items():
            if re.search(rb"(^|\r\n)" + method.encode() + rb" ", data):
                c["delay"] = seconds
        if c["server"] is not None:
            with contextlib.suppress(OSError):
                c["server"].sendall(data)

    def _from_server(self, c, now):
        rec = c["rec"]
        try:
            data = c["server"].recv(65536)
        except OSError:
            data = b""
        if not data:
            self._close_server(c, now)
            return
        rec.from_server.extend(data)
        release = now + c["delay"]
        c["delay"] = 0.0
        if c["queue"]:
            release = max(release, c["queue"][-1][0])
        c["queue"].append((release, len(rec.from_server), data))

    def _flush(self, c, now):
        rec = c["rec"]
        while c["queue"] and c["queue"][0][0] <= now:
            _, upto, data = c["queue"].pop(0)
            if c["client"] is None:
                continue
            try:
                c["client"].sendall(data)
                rec.forwarded.append((time.monotonic(), upto))
            except OSError:
                pass

    def _close_server(self, c, now):
        if c["server"] is None:
            return
        c["rec"].server_closed = now
        c["server"].close()
        c["server"] = None
        c["drain_until"] = None
        self._flush(c, float("inf"))
        if c["client"] is not None:
            c["client"].close()
            c["client"] = None

    def close(self):
        # let connections the client has left finish first
        deadline = time.monotonic() + 3.0
        while time.monotonic() < deadline and any(
                r.client_closed is not None and r.server_closed is None
                for r in self.connections):
            time.sleep(0.02)
        self._stop.set()
        self._thread.join(5)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def sdp_video_lines(sdp):
    """Lines of the SDP's video section (from m=video on)."""
    lines = [l.strip() for l in sdp.splitlines()]
    for i, l in enumerate(lines):
        if l.startswith("m=video"):
            return [x for x in lines[i:] if x]
    return []


# --------------------------------------------------------------------------


def setUpModule():
    global MEDIA_DIR
    import tempfile
    MEDIA_DIR = tempfile.mkdtemp(prefix="camvue-vlc-media-")
    os.chmod(MEDIA_DIR, 0o755)


def tearDownModule():
    import shutil
    shutil.rmtree(MEDIA_DIR, ignore_errors=True)


def media(kind, seconds=None):
    """The clip of `kind`, made on first use."""
    name = kind if seconds is None else "%s-%ds" % (kind, seconds)
    directory = os.path.join(MEDIA_DIR, name)
    os.makedirs(directory, exist_ok=True)
    os.chmod(directory, 0o755)
    for f in os.listdir(directory):
        return os.path.join(directory, f)
    if seconds is None:
        return make_media_file(kind, directory)
    return make_media_file(kind, directory, seconds)


class VlcStreams(unittest.TestCase):
    maxDiff = None

    def play(self, kind, hold=None):
        """Serve the clip of `kind` with VLC and play it through the relay
        (RecordingRelay `hold`) with rtsp-dump --seconds 5.
        Returns (vlc, relay, run)."""
        with start_vlc(media(kind), kind) as v:
            with RecordingRelay(v.port, hold) as relay:
                url = "rtsp://%s:%d/%s" % (HOST, relay.port, kind)
                run = run_dump(url, "--seconds", DUMP_SECONDS)
            log = v.log_text()
            still_running = v.running()
        self.assertTrue(still_running, "VLC died during the run:\n" + log)
        return v, relay, run

    def check_stream(self, kind, hold=None):
        want = STREAMS[kind]
        v, relay, run = self.play(kind, hold)
        msg = run.report()

        # ---- what VLC said and what the tool asked (the relay's copy) ----
        self.assertEqual(len(relay.connections), 1, "one RTSP connection expected\n" + msg)
        conn = relay.connections[0]
        requests, replies = conn.requests(), conn.replies()
        methods = [r.first_line.split(" ")[0] for r in requests]
        self.assertEqual(methods, ["OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"], msg)
        self.assertEqual([r.first_line for r in replies], ["RTSP/1.0 200 OK"] * 5,
                         "VLC refused a request\n%s\n%s" % (requests, msg))
        _, describe, setup, play, teardown = requests
        _, r_describe, r_setup, _, r_teardown = replies
        self.assertEqual(describe.header("Accept"), "application/sdp", msg)

        aggregate = "rtsp://%s:%d/%s" % (HOST, v.port, kind)
        self.assertEqual(r_describe.header("Content-Base"), aggregate)
        self.assertEqual(r_describe.header("Content-Type"), "application/sdp")
        video = sdp_video_lines(r_describe.body)
        self.assertTrue(video, "no m=video in VLC's SDP:\n" + r_describe.body)
        self.assertEqual(video[0], "m=video 0 RTP/AVP %d" % want["pt"], r_describe.body)
        self.assertIn(want["rtpmap"], video, r_describe.body)
        fmtp = [l for l in video if l.startswith("a=fmtp:")]
        if want["fmtp"] is None:
            self.assertEqual(fmtp, [], r_describe.body)
        else:
            self.assertEqual(len(fmtp), 1, r_describe.body)
            self.assertRegex(fmtp[0], "^%s$" % want["fmtp"])
        # VLC's controls are absolute URLs
        track = aggregate + "/trackID=0"
        self.assertIn("a=control:" + track, video, r_describe.body)

        # SETUP goes to the track's absolute URL exactly as given
        self.assertEqual(setup.first_line, "SETUP %s RTSP/1.0" % track, msg)
        offer = setup.header("Transport")
        m = re.fullmatch(r"RTP/AVP;unicast;client_port=(\d+)-(\d+)", offer or "")
        self.assertTrue(m, "unexpected Transport offer %r" % offer)
        client_ports = (int(m.group(1)), int(m.group(2)))

        answer = r_setup.header("Transport") or ""
        m = re.fullmatch(r"RTP/AVP/UDP;unicast;client_port=(\d+)-(\d+);"
                         r"server_port=(\d+)-(\d+);ssrc=[0-9A-F]{8};mode=play", answer)
        self.assertTrue(m, "VLC's Transport answer changed: %r" % answer)
        self.assertEqual((int(m.group(1)), int(m.group(2))), client_ports, answer)
        server_ports = (int(m.group(3)), int(m.group(4)))
        session_header = r_setup.header("Session") or ""
        m = re.fullmatch(r"([0-9a-f]{1,16});timeout=60", session_header)
        self.assertTrue(m, "VLC's Session header changed: %r" % session_header)
        session = m.group(1)

        # PLAY and TEARDOWN: the aggregate URL, with the session
        self.assertEqual(play.first_line, "PLAY %s RTSP/1.0" % aggregate, msg)
        self.assertEqual(play.header("Session"), session, msg)
        self.assertEqual(teardown.first_line, "TEARDOWN %s RTSP/1.0" % aggregate, msg)
        self.assertEqual(teardown.header("Session"), session, msg)
        self.assertEqual(r_teardown.header("Session"), session_header, msg)
        # CSeq counts up from 1 and each reply answers its request
        self.assertEqual([r.header("CSeq") for r in requests], ["1", "2", "3", "4", "5"])
        self.assertEqual([r.header("CSeq") for r in replies], ["1", "2", "3", "4", "5"])

        # ---- what the tool printed ----
        self.assertEqual(run.returncode, 0, msg)

        def one(pattern):
            found = run.find(pattern)
            self.assertEqual(len(found), 1, "expected one line matching %r\n%s"
                             % (pattern, msg))
            return found[0]

        connected = one(r"connected (\S+)$")
        self.assertEqual(connected[2].group(1), "%s:%d" % (HOST, relay.port), msg)

        described = one(r"described codec=(\S+) payload-type=(\d+) clock-rate=(\d+) "
                        r"size=(\d+x\d+)$")
        self.assertEqual(described[2].groups(),
                         (want["codec"], str(want["pt"]), "90000", want["size"]), msg)

        set_up = one(r"set up (\S+) local-ports=(\d+)-(\d+) server-ports=(\d+)-(\d+) "
                     r"session=(\S+) timeout=(\d+)$")
        g = set_up[2].groups()
        self.assertEqual(g[0], "unicast", msg)
        local = (int(g[1]), int(g[2]))
        self.assertEqual(local[0] % 2, 0, "RTP port not even\n" + msg)
        self.assertEqual(local[1], local[0] + 1, "RTCP port not RTP+1\n" + msg)
        self.assertEqual(local, client_ports, "printed ports are not the offered ones\n" + msg)
        self.assertEqual((int(g[3]), int(g[4])), server_ports,
                         "server ports differ from VLC's answer %r\n%s" % (answer, msg))
        self.assertEqual(server_ports[1], server_ports[0] + 1, answer)
        self.assertEqual(g[5], session, "session differs from VLC's %r\n%s"
                         % (session_header, msg))
        self.assertEqual(g[6], "60", msg)

        playing = one(r"playing setup-time=(\d+)ms$")
        first = one(r"first RTP packet (\d+) ms after PLAY")
        ended = one(r"session ended: (.*)$")
        self.assertEqual(ended[2].group(1), "stopped", msg)
        self.assertEqual(run.find(r"set-up failed"), [], msg)
        self.assertEqual(run.find(r"reconnecting"), [], msg)
        self.assertGreaterEqual(len(run.find(r"receiver report sent \(\d+ bytes")), 1, msg)
        order = [connected[0], described[0], set_up[0], playing[0], first[0], ended[0]]
        self.assertEqual(order, sorted(order), "lines out of order\n" + msg)
        # the budget ends the run (a steady stream wakes the loop every 40 ms)
        self.assertGreaterEqual(ended[1], DUMP_SECONDS - 0.2, msg)
        self.assertLessEqual(ended[1], DUMP_SECONDS + 1.5, msg)

        # ---- packets and frames ----
        rates = [(pos, t, float(m.group(1)), int(m.group(2)), int(m.group(3)),
                  int(m.group(4))) for pos, t, m in run.find(RATE_LINE)]
        frames = [(pos, m) for pos, _, m in run.find(FRAME_LINE)]
        summary = one(SUMMARY_LINE)
        attempts, reconnects, datagrams, taken, frame_count = (
            int(x) for x in summary[2].groups())
        self.assertEqual((attempts, reconnects), (1, 0), msg)

        # Frames: numbered from 1, one codec, the clip's size, delivered from
        # the first key frame on; a key frame every 25 pictures (the clips
        # have a fixed GOP) and for JPEG every picture; presentation times
        # (100 ns units) one picture time (40 ms) apart.
        assembling = bool(frames) or "frames=" in summary[2].group(0)
        if assembling:
            self.assertEqual(len(frames), frame_count, msg)
            self.assertEqual([int(m.group(1)) for _, m in frames],
                             list(range(1, frame_count + 1)), msg)
            self.assertEqual({m.group(2) for _, m in frames}, {want["frame"]}, msg)
            self.assertEqual({"%sx%s" % (m.group(4), m.group(5)) for _, m in frames},
                             {"320x240"}, msg)
            keys = [int(m.group(1)) for _, m in frames if m.group(3) == "1"]
            if kind == "mjpeg":
                self.assertEqual(keys, list(range(1, frame_count + 1)), msg)
            else:
                self.assertEqual(keys, list(range(1, frame_count + 1, FRAME_RATE)), msg)
            self.assertTrue(all(int(m.group(6)) > 0 for _, m in frames), msg)
            pts = [int(m.group(7)) for _, m in frames]
            steps = sorted({b - a for a, b in zip(pts, pts[1:])})
            self.assertTrue(steps and steps[0] >= 399999 and steps[-1] <= 400001,
                            "presentation time steps %s (want 400000)\n%s" % (steps, msg))

        # Rates: taken and frames rise every second
        self.assertGreaterEqual(len(rates), 3, msg)
        for a, b in zip(rates, rates[1:]):
            self.assertGreater(b[3], a[3], "taken did not rise\n" + msg)
            # the rate printed counts the interval's datagrams, taken or not
            got = (b[3] + b[4]) - (a[3] + a[4])
            self.assertAlmostEqual(b[2] * (b[1] - a[1]), got, delta=2 + 0.05 * got, msg=msg)
        counting = [r for r in rates if r[5] > 0]
        self.assertGreaterEqual(len(counting), 3, "frames did not start\n" + msg)
        for a, b in zip(counting, counting[1:]):
            self.assertGreater(b[5], a[5], "frames did not rise\n" + msg)
        fps = (counting[-1][5] - counting[0][5]) / (counting[-1][1] - counting[0][1])
        self.assertAlmostEqual(fps, FRAME_RATE, delta=3, msg="frames/s\n" + msg)
        # Nothing is lost on the loopback.  Only H.264 has packets that carry
        # no picture (VLC sends SPS, PPS and x264's SEI ahead of the key
        # frames): at most 3 per key frame seen so far.
        for pos, t, _, r_taken, r_dropped, r_frames in rates:
            if kind != "h264":
                self.assertEqual(r_dropped, 0, "dropped at %.3f\n%s" % (t, msg))
            else:
                seen = (len([1 for fpos, m in frames if fpos < pos and m.group(3) == "1"])
                        if assembling else r_frames // FRAME_RATE + 1)
                self.assertLessEqual(r_dropped, 3 * seen, "dropped at %.3f\n%s" % (t, msg))

        # ---- TEARDOWN trace and summary ----
        begin = one(r"Stop ONVIF begin (\d{1,2}):(\d{1,2}):(\d{1,2}),(\d{1,3})$")
        end = one(r"Stop ONVIF end (\d{1,2}):(\d{1,2}):(\d{1,2}),(\d{1,3})$")
        self.assertIsNone(begin[1], "Stop ONVIF lines carry no time prefix")
        self.assertEqual([ended[0], begin[0], end[0], summary[0]],
                         sorted([ended[0], begin[0], end[0], summary[0]]), msg)
        self.assertEqual(summary[0], run.lines[-1][0], "summary is not the last line\n" + msg)
        # the trace shows UTC time of day, taken just before the tool exited
        now = run.ended_utc
        now_s = now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6
        for line in (begin, end):
            h, mi, s, ms = (int(x) for x in line[2].groups())
            self.assertLess(mi, 60)
            self.assertLess(s, 60)
            at = h * 3600 + mi * 60 + s + ms / 1000.0
            late = (now_s - at) % 86400
            self.assertLess(late, 10, "Stop ONVIF time %s is not the UTC time %s\n%s"
                            % (line[2].group(0), now.time(), msg))
        hb, mb, sb, msb = (int(x) for x in begin[2].groups())
        he, me, se, mse = (int(x) for x in end[2].groups())
        self.assertLessEqual(((he * 3600 + me * 60 + se) * 1000 + mse
                              - ((hb * 3600 + mb * 60 + sb) * 1000 + msb)) % 86400000, 2000)

        self.assertLessEqual(taken, datagrams, msg)
        self.assertGreaterEqual(taken, rates[-1][3], msg)
        self.assertGreaterEqual(datagrams, rates[-1][3] + rates[-1][4], msg)
        if kind != "h264":
            self.assertEqual(taken, datagrams, "datagrams not taken\n" + msg)
        self.assertGreaterEqual(frame_count, rates[-1][5], msg)
        self.assertLessEqual(frame_count, taken, msg)
        # ~4.8 s of a 25 pictures/s stream
        self.assertGreaterEqual(frame_count, FRAME_RATE * 3, msg)
        self.assertLessEqual(frame_count, FRAME_RATE * (DUMP_SECONDS + 1), msg)
        return run, relay

    def test_h264(self):
        self.check_stream("h264")

    def test_h264_rtp_before_play_reply(self):
        """VLC starts sending RTP as it takes the PLAY, and now and then the
        first datagram is in before the PLAY reply.  Here the relay holds the
        PLAY reply 300 ms so that this always happens, and the TEARDOWN reply
        50 ms (well inside the 100 ms rtsp-dump waits for it).  The PLAY
        reply, still unread when the TEARDOWN goes out, must not be taken for
        the TEARDOWN's: rtsp-dump has to stay until VLC's TEARDOWN reply has
        reached it."""
        run, relay = self.check_stream("h264", hold={"PLAY": 0.3, "TEARDOWN": 0.05})
        conn = relay.connections[0]
        teardown = conn.requests()[4]
        teardown_reply = conn.replies()[4]
        delivered = conn.delivered_at(teardown_reply)
        self.assertIsNotNone(conn.client_closed, run.report())
        self.assertIsNotNone(
            delivered, "rtsp-dump closed the RTSP connection %.0f ms after sending "
            "TEARDOWN, before VLC's reply (%s, CSeq %s) reached it: it took the "
            "PLAY reply, left unread when RTP came first, for the TEARDOWN's\n%s"
            % (1000 * (conn.client_closed - conn.sent_at(teardown)),
               teardown_reply.first_line, teardown_reply.header("CSeq"), run.report()))
        self.assertLessEqual(delivered, conn.client_closed, run.report())

    def test_h264_bframes(self):
        """H.264 with B-frames: VLC sends the pictures in decoding order, and
        the RTP timestamp (their presentation time) steps back at each
        B-frame.  The frames' presentation times have to follow it back: no
        jumps, and n frames span about n picture times (40 ms = 400000 x
        100 ns each)."""
        with start_vlc(media("h264_bframes"), "h264") as v:
            run = run_dump(v.url, "--seconds", 3)
        msg = run.report()
        self.assertEqual(run.returncode, 0, msg)
        frames = run.find(FRAME_LINE)
        self.assertGreaterEqual(len(frames), FRAME_RATE, msg)
        self.assertEqual(frames[0][2].group(3), "1", msg)
        pts = [int(m.group(7)) for _, _, m in frames]
        steps = [b - a for a, b in zip(pts, pts[1:])]
        jumps = [(int(frames[i + 1][2].group(1)), step / 1e4)
                 for i, step in enumerate(steps) if abs(step) > 4 * 400000]
        self.assertEqual(jumps, [], "presentation time jumps (frame, ms): %s\n%s"
                         % (jumps[:8], msg))
        self.assertTrue(any(step < 0 for step in steps),
                        "no presentation time steps back: no B-frames?\n" + msg)
        # n pictures cover about n picture times
        span = (max(pts) - min(pts)) / 400000.0
        self.assertLessEqual(span, len(pts) + 3, "presentation times span %.0f "
                             "picture times for %d frames\n%s" % (span, len(pts), msg))
        self.assertGreaterEqual(span, len(pts) - 4, msg)

    def test_mjpeg(self):
        run, _ = self.check_stream("mjpeg")
        # a 320x240 JPEG picture does not fit one datagram
        summary = run.find(SUMMARY_LINE)[0][2]
        self.assertGreater(int(summary.group(4)), 2 * int(summary.group(5)), run.report())

    def test_mpeg4(self):
        self.check_stream("mpeg4")


class VlcLoop(unittest.TestCase):
    """VLC re-creates its tracks each time a looping file starts over, which
    silently ends every session playing them (no more RTP; SETUP of the old
    control URL answers 404).  rtsp-dump has to notice within its 15 s
    inactivity limit and set up a new session.

    The clip is 6 s long: the first session dies at the first loop (VLC
    time ~6 s), the loss is noticed ~15 s later (~21 s), halfway between two
    loops, so the new session has ~3 s to play before the next one."""

    CLIP_SECONDS = 6
    RUN_SECONDS = 23

    def test_reconnects_after_loop(self):
        clip = media("h264", self.CLIP_SECONDS)
        with start_vlc(clip, "h264") as v:
            run = run_dump(v.url, "--seconds", self.RUN_SECONDS, "--verbose")
            alive = v.running()
            log = v.log_text()
        self.assertTrue(alive, "VLC died during the run:\n" + log)
        msg = run.report()
        self.assertEqual(run.returncode, 0, msg)

        set_ups = run.find(r"set up unicast local-ports=\d+-\d+ server-ports=\d+-\d+ "
                           r"session=(\S+) timeout=60$")
        playing = run.find(r"playing setup-time=")
        ends = run.find(r"session ended: (.*)$")
        self.assertGreaterEqual(len(set_ups), 2, msg)
        self.assertGreaterEqual(len(playing), 2, msg)
        self.assertGreaterEqual(len(ends), 2, msg)
        self.assertNotEqual(set_ups[0][2].group(1), set_ups[1][2].group(1),
                            "the new session has the old id\n" + msg)

        # the first session ends for lack of packets, not by the budget
        first_end = ends[0]
        self.assertIn(first_end[2].group(1), ("five receive timeouts or failed reports",
                                             "no RTP packet for 15 s"), msg)
        datagrams = run.find(r"datagram (\d+) bytes$")
        before = [d for d in datagrams if d[0] < first_end[0]]
        after = [d for d in datagrams if d[0] > first_end[0]]
        self.assertTrue(before, "no packets in the first session\n" + msg)
        silence = first_end[1] - before[-1][1]
        self.assertLessEqual(silence, 17.0, "stream loss noticed only after %.1f s\n%s"
                             % (silence, msg))
        # ... the TEARDOWN trace follows, then a new session that plays
        stops = run.find(r"Stop ONVIF begin ")
        self.assertTrue(stops and stops[0][0] > first_end[0], msg)
        reconnecting = run.find(r"reconnecting$")
        self.assertTrue(reconnecting and reconnecting[0][0] > stops[0][0], msg)
        self.assertTrue([p for p in playing if p[0] > reconnecting[0][0]], msg)
        self.assertTrue(after, "no packets after the reconnect\n" + msg)

        summary = run.find(SUMMARY_LINE)
        self.assertEqual(len(summary), 1, msg)
        attempts, reconnects, datagrams_n, taken, frame_count = (
            int(x) for x in summary[0][2].groups())
        self.assertGreaterEqual(reconnects, 1, msg)
        self.assertGreaterEqual(attempts, 2, msg)
        self.assertEqual(datagrams_n, len(datagrams), msg)
        self.assertLessEqual(taken, datagrams_n, msg)
        self.assertGreater(taken, 0, msg)

        # frames: both sessions deliver some, each from a key frame on
        frames = run.find(FRAME_LINE)
        if frames or "frames=" in summary[0][2].group(0):
            self.assertEqual(len(frames), frame_count, msg)
            first = [f for f in frames if f[0] < first_end[0]]
            second = [f for f in frames if f[0] > reconnecting[0][0]]
            self.assertTrue(first and second, "frames in each session\n" + msg)
            self.assertEqual(first[0][2].group(3), "1", msg)
            self.assertEqual(second[0][2].group(3), "1",
                             "after the reconnect the first frame is no key frame\n" + msg)


if __name__ == "__main__":
    unittest.main()
