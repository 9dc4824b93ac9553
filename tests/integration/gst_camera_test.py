"""rtsp-dump against the GStreamer test camera (tests/peers/camera.py).

The same script runs for the native build and, under wine64, for the win64
build (dump.py picks the binary from the environment ctest sets).  What is
checked:

  Mounts            each mount plays: codec, payload type, clock rate and
                    picture size as described, an even/odd port pair, packet
                    counts rising, frame ends at the camera's frame rate, and
                    the TEARDOWN trace with the right clock time at the end;
                    picture sizes that need H.264 cropping
  Auth*             Basic, Digest and both offered; every request after the
                    challenge carries valid credentials (checked on the wire)
  *Refused          wrong or missing credentials: exit 3 after retries, no
                    descriptor leak across the retries (native)
  Interrupt         Ctrl-C / SIGTERM: prompt exit with TEARDOWN on the wire
  RtcpOnTheWire     receiver reports from the client's RTCP port to the
                    camera's about every 2 s, one promptly after each sender
                    report, the right SSRC and sequence in them; TEARDOWN
                    with the session on the wire
  CameraRestart     the camera dies mid-stream and comes back on its port:
                    the loop sets the stream up again and plays
  HostNames         localhost, and (root) a name from a hosts file of the
                    test's own, resolved; a name that does not resolve: exit
                    2, reported once with the name
  RetryPace         a wrong password for 10 s: a handful of attempts; a
                    camera back after an outage: played within 1 s
  Multicast*        (native, root) camera and client in two network
                    namespaces: keep-alives every timeout/2 keep a multicast
                    session alive past the server's expiry; after the camera
                    restarts, the new SETUP asks for multicast again

By hand, from this directory (native build):
    /usr/bin/python3 -m unittest -v gst_camera_test
"""

import base64
import hashlib
import os
import tempfile
import subprocess
import shutil
import re
import signal
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
sys.path.insert(0, HERE)

import dump  # noqa: E402
import wire  # noqa: E402
from dump import Dump, run_dump  # noqa: E402
from peer import make_netns_pair, netns_available, start_camera  # noqa: E402

FPS = 15                        # camera.py's default frame rate
SANITIZER = re.compile(r"Sanitizer|runtime error:")
STOP_LINE = re.compile(r"^Stop ONVIF (begin|end) (\d{1,2}):(\d{1,2}):(\d{1,2}),(\d{1,3})$")
REFUSED_STDERR = re.compile(r"^rtsp-dump: no session could be set up within (\d+) s: (.+)$")


def utc_seconds_of_day(wall):
    t = time.gmtime(wall)
    return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec + (wall % 1.0)


def quiet_port():
    """A free TCP port below Linux's ephemeral range, so that no outgoing
    connection of a parallel test takes it while the camera is down."""
    import random
    import socket
    for _ in range(200):
        port = random.randrange(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
        return port
    return 0


def fd_count(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return None


class DumpChecks:
    """Assertions on a finished (or running) dump.Dump."""

    def assertExit(self, d, rc):
        self.assertEqual(d.rc, rc, d.transcript())
        if dump.native():
            # the native build runs with ASan+UBSan (LeakSanitizer at exit)
            self.assertIsNone(SANITIZER.search(d.stderr), d.transcript())

    def assertInOrder(self, d, patterns, start=0):
        """Each pattern matches a line after the previous one's; returns the
        indices."""
        found, at = [], start
        for p in patterns:
            i = d.index(p, at)
            self.assertIsNotNone(i, "no line matching %r after line %d\n%s"
                                 % (p, at, d.transcript()))
            found.append(i)
            at = i + 1
        return found

    def assertStreamed(self, d, start=0, end=None, min_lines=2):
        """From line `start` on: PLAY went out, the first RTP packet came and
        the packet totals rise line by line.  Returns the rate lines."""
        play, first = self.assertInOrder(
            d, [r"^playing setup-time=\d+ms$",
                r"^first RTP packet \d+ ms after PLAY \(\d+ ms after connect\)$"], start)
        rates = d.rates(first, end)
        self.assertGreaterEqual(len(rates), min_lines, d.transcript())
        totals = [r[2] for r in rates]
        self.assertEqual(totals, sorted(set(totals)),
                         "packet totals do not rise\n" + d.transcript())
        self.assertGreater(totals[-1], 0, d.transcript())
        return rates

    def assertTeardownTrace(self, d):
        """The abort at the end: the stream stopped, then one Stop begin /
        end pair (clock time of day, UTC) around the TEARDOWN, then the
        summary as the last line."""
        texts = d.texts()
        self.assertTrue(texts and texts[-1].startswith("summary: "), d.transcript())
        ended = self.assertInOrder(d, [r"^session ended: stopped$"])[0]
        stops = [(i, ln) for i, ln in enumerate(d.snapshot()) if ln.text.startswith("Stop ")]
        tail = [(i, ln) for i, ln in stops if i > ended]
        self.assertEqual([STOP_LINE.match(ln.text).group(1) if STOP_LINE.match(ln.text)
                          else ln.text for _, ln in tail], ["begin", "end"], d.transcript())
        stamps = []
        for _, ln in tail:
            m = STOP_LINE.match(ln.text)
            h, mi, s, ms = (int(x) for x in m.groups()[1:])
            self.assertTrue(h < 24 and mi < 60 and s < 60, ln.text)
            stamp = h * 3600 + mi * 60 + s + ms / 1000.0
            # printed within a moment of reading it; the clock is UTC
            diff = (utc_seconds_of_day(ln.wall) - stamp + 43200) % 86400 - 43200
            self.assertTrue(-1.0 <= diff <= 2.0, "%s is %.3f s off the UTC time of day"
                            % (ln.text, diff))
            stamps.append(stamp)
        # the TEARDOWN reply is waited for briefly
        self.assertTrue(0 <= (stamps[1] - stamps[0]) % 86400 <= 1.0, d.transcript())


# --------------------------------------------------------------------------


class Mounts(DumpChecks, unittest.TestCase):
    SECONDS = 4

    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera()

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def play(self, mount, codec, pt, size):
        d = run_dump(self.cam.url(mount), self.SECONDS)
        self.assertExit(d, 0)
        self.assertInOrder(d, [r"^connected 127\.0\.0\.1:%d$" % self.cam.port,
                               r"^described ", r"^set up ", r"^playing "])
        self.assertEqual(d.described(),
                         [{"codec": codec, "pt": pt, "clock": 90000, "size": size}],
                         d.transcript())
        setups = d.setups()
        self.assertEqual(len(setups), 1, d.transcript())
        su = setups[0]
        self.assertEqual(su.mode, "unicast")
        self.assertEqual((su.rtp % 2, su.rtcp), (0, su.rtp + 1), su.line)
        self.assertEqual(su.server_rtcp, su.server_rtp + 1, su.line)
        self.assertRegex(su.session, r"^[A-Za-z0-9$\-_.+]{8,}$")
        self.assertNotIn("authenticated", " ".join(d.texts()))
        rates = self.assertStreamed(d)
        s = d.summary
        self.assertIsNotNone(s, d.transcript())
        self.assertEqual((s["attempts"], s["reconnects"]), (1, 0), d.transcript())
        self.assertGreaterEqual(s["datagrams"], s["taken"], d.transcript())
        self.assertGreaterEqual(s["taken"], rates[-1][2])
        # one frame end (marker bit) / frame per picture, at the camera's rate
        self.assertGreaterEqual(s["frame_ends"], FPS * (self.SECONDS - 2), d.transcript())
        self.assertLessEqual(s["frame_ends"], FPS * self.SECONDS + 5, d.transcript())
        self.assertTeardownTrace(d)
        return d

    def test_h264(self):
        self.play("/h264", "H.264", 96, (320, 240))

    def test_mjpeg(self):
        # RFC 2435 JPEG carries the size in every packet, not in the SDP:
        # nothing is known at DESCRIBE time
        self.play("/mjpeg", "JPEG", 26, (0, 0))

    def test_mpeg4(self):
        self.play("/mpeg4", "MPEG-4", 96, (320, 240))


class PictureSize(DumpChecks, unittest.TestCase):
    """A picture size that is not a whole number of 16x16 macroblocks: the
    H.264 SPS codes 336x192 with a cropping window; the MPEG-4 VOL has it
    as it is."""

    def test_cropped_size(self):
        with start_camera("--size", "328x184") as cam:
            for mount, codec in (("/h264", "H.264"), ("/mpeg4", "MPEG-4")):
                with self.subTest(mount=mount):
                    d = run_dump(cam.url(mount), 2)
                    self.assertExit(d, 0)
                    self.assertEqual(d.described(),
                                     [{"codec": codec, "pt": 96, "clock": 90000,
                                       "size": (328, 184)}], d.transcript())
                    self.assertStreamed(d, min_lines=1)


# --------------------------------------------------------------------------


def md5hex(text):
    return hashlib.md5(text.encode()).hexdigest()


def auth_params(value):
    return dict((k.lower(), v1 if v1 else v2) for k, v1, v2 in
                re.findall(r'(\w+)\s*=\s*(?:"([^"]*)"|([^\s,]*))', value))


class AuthChecks(DumpChecks):
    MODE = None
    EXPECT = None
    USER, PASSWORD = "alice", "s3cr3t:pw"     # a ':' in the password too

    def test_plays(self):
        with start_camera("--auth", self.MODE, "--user", self.USER,
                          "--password", self.PASSWORD) as cam:
            # the password is everything after the first ':' of user:password
            url = cam.url("/h264", self.USER, self.PASSWORD)
            with wire.Capture("lo", "tcp port %d" % cam.port) as cap:
                d = run_dump(url, 4)
                time.sleep(0.3)
                cap.stop()
                msgs = cap.rtsp(cam.port)
        self.assertExit(d, 0)
        self.assertEqual(d.find(r"^authenticated "), d.find(r"^authenticated %s$" % self.EXPECT),
                         d.transcript())
        self.assertEqual(len(d.find(r"^authenticated ")), 1, d.transcript())
        self.assertInOrder(d, [r"^connected ", r"^authenticated ", r"^described codec=H\.264 ",
                               r"^set up unicast ", r"^playing "])
        self.assertStreamed(d)
        self.assertTeardownTrace(d)
        self.check_wire(msgs)

    def check_wire(self, msgs):
        pairs = wire.exchanges(msgs)
        methods = [req.method for req, _ in pairs]
        self.assertEqual(methods, ["OPTIONS", "DESCRIBE", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"],
                         msgs)
        statuses = [resp.status if resp else None for _, resp in pairs]
        self.assertEqual(statuses, [200, 401, 200, 200, 200, 200], msgs)
        challenges = pairs[1][1].headers
        scheme = self.EXPECT
        for req, _ in pairs[2:]:
            with self.subTest(request=req.start_line):
                value = req.header("Authorization")
                self.assertIsNotNone(value, "no credentials on %s" % req.start_line)
                self.assertTrue(value.startswith(scheme + " "), value)
                if scheme == "Basic":
                    self.assertEqual(base64.b64decode(value.split(" ", 1)[1]).decode(),
                                     "%s:%s" % (self.USER, self.PASSWORD))
                    continue
                chal = [auth_params(v) for k, v in challenges
                        if k.lower() == "www-authenticate" and v.startswith("Digest")]
                self.assertEqual(len(chal), 1, challenges)
                p = auth_params(value.split(" ", 1)[1])
                self.assertEqual(p.get("username"), self.USER)
                self.assertEqual(p.get("realm"), chal[0]["realm"])
                self.assertEqual(p.get("nonce"), chal[0]["nonce"])
                ha1 = md5hex("%s:%s:%s" % (self.USER, p["realm"], self.PASSWORD))
                ha2 = md5hex("%s:%s" % (req.method, p.get("uri", "")))
                if "qop" in p:
                    want = md5hex("%s:%s:%s:%s:%s:%s" % (ha1, p["nonce"], p["nc"], p["cnonce"],
                                                         p["qop"], ha2))
                else:
                    want = md5hex("%s:%s:%s" % (ha1, p["nonce"], ha2))
                # the response is computed for this request's method
                self.assertEqual(p.get("response"), want, value)


@unittest.skipUnless(wire.tcpdump_available(), "needs root and tcpdump")
class AuthBasic(AuthChecks, unittest.TestCase):
    MODE, EXPECT = "basic", "Basic"


@unittest.skipUnless(wire.tcpdump_available(), "needs root and tcpdump")
class AuthDigest(AuthChecks, unittest.TestCase):
    MODE, EXPECT = "digest", "Digest"


@unittest.skipUnless(wire.tcpdump_available(), "needs root and tcpdump")
class AuthBoth(AuthChecks, unittest.TestCase):
    # Both challenges come (Basic first); the stronger one is answered.
    MODE, EXPECT = "both", "Digest"


class RefusedChecks(DumpChecks):
    MODE = None
    SECONDS = 4

    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera("--auth", cls.MODE, "--user", "alice", "--password", "right")

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def refused(self, url):
        d = Dump(url, self.SECONDS).start()
        fds = []
        try:
            if dump.native():
                # Each retry opens a TCP connection and a UDP pair; whatever
                # is not closed piles up over hundreds of retries.
                for at in (1.0, self.SECONDS - 0.5):
                    time.sleep(max(0.0, d.started + at - time.monotonic()))
                    fds.append(fd_count(d.proc.pid))
            d.wait(self.SECONDS + 30)
        finally:
            d.kill()
        self.assertExit(d, 3)
        failed = d.find(r"^set-up failed: ")
        self.assertGreaterEqual(len(failed), 2, "no retry\n" + d.transcript())
        self.assertEqual({ln.text for ln in failed}, {"set-up failed: authentication refused"},
                         d.transcript())
        for never in (r"^authenticated ", r"^described ", r"^set up ", r"^playing "):
            self.assertEqual(d.find(never), [], d.transcript())
        s = d.summary
        self.assertIsNotNone(s, d.transcript())
        self.assertGreaterEqual(s["attempts"], len(failed))
        self.assertEqual(s["datagrams"], 0)
        lines = [ln for ln in d.stderr.splitlines() if REFUSED_STDERR.match(ln)]
        self.assertEqual(len(lines), 1, d.transcript())
        self.assertEqual(REFUSED_STDERR.match(lines[0]).group(1), str(self.SECONDS))
        if dump.native():
            self.assertEqual(d.stderr.strip().splitlines(), lines, d.transcript())
            if None not in fds:
                self.assertLessEqual(fds[1] - fds[0], 4,
                                     "descriptors grow over %d retries: %s"
                                     % (s["attempts"], fds))
        print("\n  %s: %d attempts in %d s; stderr: %s"
              % (self.id(), s["attempts"], self.SECONDS, lines[0]), file=sys.stderr)
        return d


class BasicRefused(RefusedChecks, unittest.TestCase):
    MODE = "basic"

    def test_wrong_password(self):
        self.refused(self.cam.url("/h264", "alice", "wrong"))


class DigestRefused(RefusedChecks, unittest.TestCase):
    MODE = "digest"

    def test_wrong_password(self):
        self.refused(self.cam.url("/mjpeg", "alice", "wrong"))

    def test_no_credentials(self):
        self.refused(self.cam.url("/mjpeg"))


# --------------------------------------------------------------------------


@unittest.skipUnless(wire.tcpdump_available(), "needs root and tcpdump")
class RtcpOnTheWire(DumpChecks, unittest.TestCase):
    SECONDS = 11

    def test_receiver_reports(self):
        with start_camera() as cam:
            with wire.Capture("lo", "udp or tcp port %d" % cam.port) as cap:
                d = run_dump(cam.url("/h264"), self.SECONDS)
                time.sleep(0.5)
                cap.stop()
                udp = cap.udp()
                msgs = cap.rtsp(cam.port)
        self.assertExit(d, 0)
        self.assertStreamed(d)
        su = d.setups()[0]
        # what went by after rtsp-dump ended may be a new owner of its ports
        udp = [g for g in udp if g.t <= d.snapshot()[-1].wall]

        def rtcp_of(dg):
            return len(dg.data) >= 8 and dg.data[0] >> 6 == 2 and 200 <= dg.data[1] <= 204

        to_camera = [g for g in udp if g.sport == su.rtcp and g.dport == su.server_rtcp
                     and rtcp_of(g)]
        srs = [g for g in udp if g.sport == su.server_rtcp and g.dport == su.rtcp
               and rtcp_of(g) and g.data[1] == 200]
        rtp = [g for g in udp if g.sport == su.server_rtp and g.dport == su.rtp
               and len(g.data) >= 12]
        self.assertTrue(rtp, "no RTP on the wire")
        # nothing else leaves the client's RTCP port for the camera
        others = [g for g in udp if g.sport == su.rtcp and g not in to_camera
                  and g.data != b"\0\0\0\0"]
        self.assertEqual(others, [])
        lines = d.find(r"^receiver report sent ")
        self.assertEqual(len(to_camera), len(lines),
                         "reports on the wire %s vs printed\n%s" % (to_camera, d.transcript()))
        self.assertGreaterEqual(len(srs), 1, "the camera sent no sender report")

        media_ssrc = int.from_bytes(rtp[0].data[8:12], "big")
        self.assertEqual({int.from_bytes(g.data[8:12], "big") for g in rtp}, {media_ssrc})
        self.assertEqual({int.from_bytes(g.data[4:8], "big") for g in srs}, {media_ssrc})

        for i, (g, ln) in enumerate(zip(to_camera, lines)):
            with self.subTest(report=i, t=round(g.t - to_camera[0].t, 3)):
                self.check_report(g, ln, srs, rtp, media_ssrc)

        # about every 2 s: never a longer gap between reports, and the timed
        # ones (not answering a sender report) not closer than 1.5 s
        times = [g.t for g in to_camera]
        gaps = [b - a for a, b in zip(times, times[1:])]
        self.assertTrue(gaps and max(gaps) <= 3.5, "report gaps %s" % gaps)
        timed = [g.t for g, ln in zip(to_camera, lines) if "answering" not in ln.text]
        timed_gaps = [b - a for a, b in zip(timed, timed[1:])]
        self.assertGreaterEqual(len(timed), (self.SECONDS - 1) // 2 - 1, d.transcript())
        self.assertTrue(min(timed_gaps) >= 1.5, "timed report gaps %s" % timed_gaps)
        self.assertLessEqual(max(timed_gaps), 4.5, "timed report gaps %s" % timed_gaps)

        # a report follows each sender report promptly (but those that came
        # after the last report of the session may go unanswered)
        for sr in srs:
            if sr.t > times[-1]:
                continue
            after = [t - sr.t for t in times if t >= sr.t]
            self.assertTrue(after and after[0] <= 0.5,
                            "sender report at %.3f answered %.3f s later"
                            % (sr.t - times[0], after[0] if after else -1))

        self.check_teardown(msgs, su, times[-1])
        print("\n  reports at %s; sender reports at %s (s after the first report)"
              % ([round(t - times[0], 2) for t in times],
                 [round(s.t - times[0], 2) for s in srs]), file=sys.stderr)

    def check_report(self, g, line, srs, rtp, media_ssrc):
        data = g.data
        self.assertEqual(line.text, "receiver report sent (%d bytes%s)"
                         % (len(data), line.text[line.text.find(", "):-1]
                            if ", " in line.text else ""))
        # RR with one report block, then SDES with the CNAME
        self.assertEqual((data[0], data[1]), (0x81, 201))
        rr_len = (int.from_bytes(data[2:4], "big") + 1) * 4
        self.assertEqual(rr_len, 32)
        sdes = data[rr_len:]
        self.assertGreaterEqual(len(sdes), 12)
        self.assertEqual((sdes[0], sdes[1]), (0x81, 202))
        self.assertEqual((int.from_bytes(sdes[2:4], "big") + 1) * 4, len(sdes),
                         "compound length does not add up: %s" % data.hex())
        own = data[4:8]
        self.assertEqual(sdes[4:8], own, "SDES chunk SSRC differs from the report's")
        self.assertEqual(sdes[8], 1)                       # CNAME
        n = sdes[9]
        self.assertGreater(n, 0)
        self.assertLessEqual(10 + n, len(sdes))
        self.assertEqual(sdes[10 + n:], b"\0" * (len(sdes) - 10 - n),
                         "SDES item list not ended with zeros")
        earlier_srs = [s for s in srs if s.t < g.t]
        reportee = int.from_bytes(data[8:12], "big")
        answering = "answering a server report" in line.text
        if answering:
            self.assertTrue(earlier_srs and g.t - earlier_srs[-1].t <= 0.5,
                            "claims to answer a sender report that did not come")
        if earlier_srs:
            self.assertEqual(reportee, media_ssrc, "report block about the wrong source")
        # highest sequence received: one of the last packets before the report
        highest = int.from_bytes(data[16:20], "big") & 0xFFFF
        before = [int.from_bytes(p.data[2:4], "big") for p in rtp if p.t <= g.t]
        self.assertIn(highest, before[-60:], "highest sequence %d is not recent (last %s)"
                      % (highest, before[-5:]))

    def check_teardown(self, msgs, su, last_report):
        pairs = wire.exchanges(msgs)
        self.assertEqual([r.method for r, _ in pairs],
                         ["OPTIONS", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"], msgs)
        self.assertEqual([p.status if p else None for _, p in pairs], [200] * 5, msgs)
        cseqs = [r.cseq for r, _ in pairs]
        self.assertEqual(cseqs, sorted(set(cseqs)), "CSeq not rising: %s" % cseqs)
        for method in ("PLAY", "TEARDOWN"):
            req = [r for r, _ in pairs if r.method == method][0]
            self.assertEqual(req.header("Session", "").split(";")[0], su.session, req.headers)
        teardown = pairs[-1][0]
        self.assertGreater(teardown.t, last_report)


@unittest.skipUnless(wire.tcpdump_available(), "needs root and tcpdump")
class Interrupt(DumpChecks, unittest.TestCase):
    """Ctrl-C (and natively SIGTERM) in the middle of a long run: it stops
    at once, with the TEARDOWN going out and answered."""

    def interrupt(self, sig):
        with start_camera() as cam, wire.Capture("lo", "tcp port %d" % cam.port) as cap:
            d = Dump(cam.url("/mjpeg"), 60).start()
            try:
                self.assertIsNotNone(d.wait_for(r"^first RTP packet", 20), d.transcript())
                time.sleep(1.5)
                sent = time.monotonic()
                d.signal(sig)
                d.wait(10)
                took = time.monotonic() - sent
            finally:
                d.kill()
            time.sleep(0.3)
            cap.stop()
            msgs = cap.rtsp(cam.port)
        self.assertExit(d, 0)
        self.assertLess(took, 2.0, d.transcript())
        self.assertTeardownTrace(d)
        su = d.setups()[0]
        pairs = wire.exchanges(msgs)
        self.assertEqual([r.method for r, _ in pairs][-1], "TEARDOWN", msgs)
        req, resp = pairs[-1]
        self.assertEqual(req.header("Session", "").split(";")[0], su.session)
        self.assertIsNotNone(resp, "TEARDOWN not answered before the exit")
        self.assertEqual(resp.status, 200)

    def test_ctrl_c(self):
        self.interrupt(signal.SIGINT)

    def test_sigterm(self):
        if not dump.native():
            # a Windows program has no SIGTERM from outside: wine ends it
            self.skipTest("SIGTERM ends a program under wine without notice")
        self.interrupt(signal.SIGTERM)


# --------------------------------------------------------------------------


def kill_camera(cam):
    """Power cut: SIGKILL, no goodbye."""
    os.kill(cam.pid, signal.SIGKILL)
    cam.proc.wait()


class CameraRestart(DumpChecks, unittest.TestCase):
    """The camera dies 4 s into the stream and is back on the same port 2 s
    later.  Unicast: the loop notices when five receive waits of 3 s found
    nothing, tears down, and sets the stream up again."""

    SECONDS = 32

    def test_unicast(self):
        cam = start_camera("--port", quiet_port())
        cam2 = None
        d = Dump(cam.url("/h264"), self.SECONDS).start()
        try:
            self.assertIsNotNone(d.wait_for(r"^first RTP packet", 20), d.transcript())
            time.sleep(4)
            n_before = len(d.snapshot())
            kill_camera(cam)
            killed = time.monotonic()
            time.sleep(2)
            cam2 = start_camera("--port", cam.port)
            ended = d.wait_for(r"^session ended: ", 25, after=n_before)
            self.assertIsNotNone(ended, d.transcript())
            noticed = d.snapshot()[ended].arrival - killed
            d.wait(self.SECONDS + 30)
        finally:
            d.kill()
            cam.close()
            if cam2:
                cam2.close()
        self.assertExit(d, 0)
        # it did not give up on the session before five 3 s waits
        self.assertGreaterEqual(noticed, 11.0, d.transcript())
        self.assertLessEqual(noticed, 20.0, d.transcript())
        self.assertEqual(d.find(r"^connected ", n_before, ended), [], d.transcript())
        self.assertNotEqual(d.snapshot()[ended].text, "session ended: stopped")
        again = self.assertInOrder(d, [r"^reconnecting$", r"^connected 127\.0\.0\.1:%d$"
                                       % cam.port, r"^described codec=H\.264 ",
                                       r"^set up unicast ", r"^playing "], ended)
        self.assertStreamed(d, again[3])
        setups = d.setups()
        self.assertGreaterEqual(len(setups), 2)
        self.assertNotEqual(setups[0].session, setups[-1].session)
        self.assertTrue(all((s.rtp % 2, s.rtcp) == (0, s.rtp + 1) for s in setups))
        s = d.summary
        self.assertGreater(s["attempts"], 1, d.transcript())
        self.assertGreaterEqual(s["reconnects"], 1, d.transcript())
        self.assertTeardownTrace(d)
        print("\n  camera loss noticed after %.1f s" % noticed, file=sys.stderr)


# --------------------------------------------------------------------------


class IsolatedResolver:
    """Wraps a command so that it runs in a mount namespace of its own where
    /etc/hosts is the test's file and /etc/resolv.conf names a nameserver on
    loopback where none listens: names resolve from that file alone and no
    query leaves the machine.  Needs root (unshare --mount)."""

    def __init__(self, *names):
        self.dir = tempfile.mkdtemp(prefix="camvue-hosts-")
        self.hosts = os.path.join(self.dir, "hosts")
        self.resolv = os.path.join(self.dir, "resolv.conf")
        with open(self.hosts, "w") as f:
            f.write("127.0.0.1 localhost\n")
            for name in names:
                f.write("127.0.0.1 %s\n" % name)
        with open(self.resolv, "w") as f:
            f.write("nameserver 127.0.0.1\noptions timeout:1 attempts:1\n")

    def cmd(self, argv):
        script = ('mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf'
                  ' && shift 2 && exec "$@"')
        return ["unshare", "--mount", "sh", "-c", script, "sh", self.hosts,
                self.resolv] + list(argv)

    def close(self):
        shutil.rmtree(self.dir, True)


def isolated_resolver_skip_reason():
    if os.geteuid() != 0:
        return "needs root to mount a hosts file of its own (unshare --mount)"
    if shutil.which("unshare") is None:
        return "needs unshare"
    return None


class HostNames(DumpChecks, unittest.TestCase):
    """A camera named by host name instead of dotted IPv4 text: the name is
    resolved at the set-up, the request lines keep it as written; a name
    that does not resolve is reported once, with the name, and ends the
    run with status 2."""

    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera()

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def resolver(self, *names):
        reason = isolated_resolver_skip_reason()
        if reason:
            self.skipTest(reason)
        r = IsolatedResolver(*names)
        self.addCleanup(r.close)
        return r

    def play_by_name(self, host, resolver=None):
        url = "rtsp://%s:%d/h264" % (host, self.cam.port)
        msgs = None
        if wire.tcpdump_available():
            with wire.Capture("lo", "tcp port %d" % self.cam.port) as cap:
                d = run_dump(url, 3, netns=resolver)
                time.sleep(0.3)
                cap.stop()
                msgs = cap.rtsp(self.cam.port)
        else:
            d = run_dump(url, 3, netns=resolver)
        self.assertExit(d, 0)
        self.assertInOrder(d, [r"^connected %s:%d$" % (re.escape(host), self.cam.port),
                               r"^described codec=H\.264 ", r"^set up unicast ", r"^playing "])
        self.assertEqual(d.find(r"^set-up failed: "), [], d.transcript())
        self.assertStreamed(d)
        self.assertEqual(d.summary["attempts"], 1, d.transcript())
        self.assertTeardownTrace(d)
        if msgs is not None:
            pairs = wire.exchanges(msgs)
            self.assertEqual([r.start_line for r, _ in pairs[:2]],
                             ["OPTIONS rtsp://%s/h264 RTSP/1.0" % host,
                              "DESCRIBE rtsp://%s/h264 RTSP/1.0" % host], msgs)
            self.assertEqual([p.status if p else None for _, p in pairs],
                             [200] * len(pairs), msgs)

    def test_localhost(self):
        self.play_by_name("localhost")

    def test_name_from_the_hosts_file(self):
        self.play_by_name("camera-b.test", self.resolver("camera-b.test"))

    def test_unresolvable_name(self):
        # The lookup stays on this machine (isolated resolver; wine's
        # resolver is the host's, in the same mount namespace).
        resolver = self.resolver()
        d = run_dump("rtsp://nothere.invalid:%d/h264" % self.cam.port, 10, netns=resolver)
        self.assertExit(d, 2)
        failed = d.find(r"^set-up failed: ")
        self.assertEqual([ln.text for ln in failed],
                         ["set-up failed: cannot resolve host nothere.invalid"], d.transcript())
        self.assertEqual(d.find(r"^connected "), [], d.transcript())
        self.assertEqual(d.summary["attempts"], 1, d.transcript())
        errors = [ln for ln in d.stderr.splitlines() if ln.startswith("rtsp-dump: ")]
        self.assertEqual(len(errors), 1, d.transcript())
        self.assertIn("nothere.invalid", errors[0])
        # it gave up at once instead of retrying for the whole budget
        self.assertLess(d.snapshot()[-1].arrival - d.started, 8.0, d.transcript())


class RetryPace(DumpChecks, unittest.TestCase):
    """Set-ups that fail back off (0.1 s doubling up to 5 s), so that a
    wrong password cannot lock a camera account; a camera that comes back
    after an outage is still played again within a second."""

    def test_wrong_password_for_ten_seconds(self):
        seconds = 10
        with start_camera("--auth", "digest", "--user", "alice", "--password", "right",
                          "--log-requests") as cam:
            d = run_dump(cam.url("/h264", "alice", "wrong"), seconds)
            time.sleep(0.2)
            options = cam.stderr_text().count("request OPTIONS")
        s = d.summary
        self.assertIsNotNone(s, d.transcript())
        print("\n  wrong password: %d attempts in %d s" % (s["attempts"], seconds),
              file=sys.stderr)
        self.assertExit(d, 3)
        # 0, 0.1, 0.3, 0.7, 1.5, 3.1, 6.3 s: seven, and never more than 20
        self.assertGreaterEqual(s["attempts"], 5, d.transcript())
        self.assertLessEqual(s["attempts"], 20, d.transcript())
        # the camera saw each attempt (the last one may have been cut short
        # before its OPTIONS), and no more
        self.assertIn(options, (s["attempts"], s["attempts"] - 1), d.transcript())
        # one line at the 1st, 2nd, 4th, 8th ... identical failure
        failed = d.find(r"^set-up failed: ")
        self.assertIn(len(failed), (s["attempts"].bit_length(),
                                    (s["attempts"] - 1).bit_length()), d.transcript())
        self.assertEqual({ln.text for ln in failed}, {"set-up failed: authentication refused"})
        gaps = [b.t - a.t for a, b in zip(failed, failed[1:])]
        self.assertTrue(all(g >= 0.08 for g in gaps), "failures %s apart" % gaps)
        # the count in the final report: failures in a row "of" all attempts
        # when the budget cut the last attempt short
        lines = [ln for ln in d.stderr.splitlines() if REFUSED_STDERR.match(ln)]
        self.assertEqual(len(lines), 1, d.transcript())
        m = re.match(r"^rtsp-dump: no session could be set up within %d s: "
                     r"authentication refused \((\d+)(?: of (\d+))? attempts\)$" % seconds,
                     lines[0])
        self.assertIsNotNone(m, d.transcript())
        run, of = int(m.group(1)), int(m.group(2) or m.group(1))
        self.assertEqual(of, s["attempts"], d.transcript())
        self.assertIn(run, (of, of - 1), d.transcript())

    def test_camera_back_after_an_outage(self):
        outage = 7          # after the loss was noticed: past the 5 s cap
        cam = start_camera("--port", quiet_port())
        cam2 = None
        d = Dump(cam.url("/h264"), 60).start()
        try:
            self.assertIsNotNone(d.wait_for(r"^first RTP packet", 20), d.transcript())
            n_before = len(d.snapshot())
            kill_camera(cam)
            ended = d.wait_for(r"^session ended: ", 25, after=n_before)
            self.assertIsNotNone(ended, d.transcript())
            time.sleep(outage)
            n_down = len(d.snapshot())
            cam2 = start_camera("--port", cam.port)
            back = time.monotonic()
            playing = d.wait_for(r"^playing ", 10, after=n_down)
            self.assertIsNotNone(playing, d.transcript())
            took = d.snapshot()[playing].arrival - back
            self.assertIsNotNone(d.wait_for(r"^first RTP packet", 10, after=playing),
                                 d.transcript())
            d.signal(signal.SIGINT)
            d.wait(30)
        finally:
            d.kill()
            cam.close()
            if cam2:
                cam2.close()
        print("\n  played again %.3f s after the camera's return; %d attempts in all"
              % (took, d.summary["attempts"]), file=sys.stderr)
        self.assertExit(d, 0)
        # played again within a second of the camera's return
        self.assertLessEqual(took, 1.0, d.transcript())
        # while it was down the connects were paced, not one per millisecond
        failed = d.find(r"^set-up failed: ", ended, playing)
        self.assertTrue(failed, d.transcript())
        self.assertEqual({ln.text for ln in failed}, {"set-up failed: connect failed"},
                         d.transcript())
        self.assertLessEqual(d.summary["attempts"], 3 * (outage + 3) + 2, d.transcript())
        self.assertTeardownTrace(d)


# --------------------------------------------------------------------------


def multicast_skip_reason():
    if os.geteuid() != 0:
        return "needs root for network namespaces"
    if not netns_available():
        return "network namespaces cannot be made here"
    if not wire.tcpdump_available():
        return "needs tcpdump"
    return None


@unittest.skipIf(multicast_skip_reason(), multicast_skip_reason() or "")
class Multicast(DumpChecks, unittest.TestCase):
    """Camera in namespace A answering every unicast offer with multicast,
    session timeout 5 s (the server drops a session 10 s after it was last
    touched); rtsp-dump in namespace B."""

    TIMEOUT = 5

    def setUp(self):
        self._ns = make_netns_pair()
        self.a, self.b = self._ns.__enter__()
        self.addCleanup(self._ns.__exit__, None, None, None)
        self.emulator = None
        if not dump.native():
            # Under wine the sockets live in the wineserver's network
            # namespace: the client needs a wineserver of its own, started
            # inside namespace B, so a prefix of its own too.
            prefix = tempfile.mkdtemp(prefix="camvue-wine-ns-")
            words = [w for w in dump.EMULATOR]
            at = words.index("--prefix")
            words[at + 1] = os.path.join(prefix, "wineprefix")
            self.emulator = words
            self.addCleanup(shutil.rmtree, prefix, True)
            self.addCleanup(self.b.run, ["env", "WINEPREFIX=" + words[at + 1],
                                         "/usr/lib/wine/wineserver", "-k"])
            # Create the prefix and start its server now, detached from the
            # test's pipes, so the timed run does not pay for it.
            subprocess.run(self.b.cmd(words + ["cmd", "/c", "exit", "0"]),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)

    def camera(self, *extra):
        return start_camera("--address", self.a.addr, "--force-multicast-answer",
                            "--session-timeout", self.TIMEOUT, *extra, netns=self.a.name)

    def capture(self, cam):
        return wire.Capture(self.b.veth, "tcp port %d" % cam.port, netns=self.b)

    def check_keepalives(self, d, msgs, setup, start, end=None):
        """Keep-alive lines every timeout/2 s after `start` (a line index),
        and each one an OPTIONS with the session, answered 200."""
        period = self.TIMEOUT // 2
        play = d.snapshot()[d.index(r"^playing ", start)]
        lines = d.find(r"^keep-alive sent$", start, end)
        times = [play.t] + [ln.t for ln in lines]
        gaps = [b - a for a, b in zip(times, times[1:])]
        self.assertTrue(gaps, "no keep-alive\n" + d.transcript())
        self.assertTrue(all(period - 0.5 <= g <= period + 1.5 for g in gaps),
                        "keep-alive gaps %s\n%s" % (gaps, d.transcript()))
        kas = [(r, p) for r, p in wire.exchanges(msgs)
               if r.method == "OPTIONS" and r.header("Session")]
        kas = [(r, p) for r, p in kas if r.header("Session").split(";")[0] == setup.session]
        self.assertEqual(len(kas), len(lines), msgs)
        for req, resp in kas:
            self.assertIsNotNone(resp, "keep-alive unanswered: %r" % req)
            self.assertEqual(resp.status, 200, "keep-alive %r answered %r" % (req, resp))
        return gaps

    def test_keepalive_holds_session(self):
        seconds = 16
        with self.camera() as cam, self.capture(cam) as cap:
            url = "rtsp://%s:%d/h264" % (self.a.addr, cam.port)
            d = run_dump(url, seconds, netns=self.b, emulator=self.emulator)
            time.sleep(0.3)
            cap.stop()
            msgs = cap.rtsp(cam.port)
        self.assertExit(d, 0)
        setups = d.setups()
        self.assertEqual(len(setups), 1, d.transcript())
        su = setups[0]
        self.assertEqual((su.mode, su.timeout), ("multicast", self.TIMEOUT), su.line)
        # the group's port pair, used as is
        self.assertEqual((su.rtp, su.rtcp), (su.server_rtp, su.server_rtcp), su.line)
        self.assertEqual((su.rtp % 2, su.rtcp), (0, su.rtp + 1), su.line)
        self.assertEqual(d.find(r"^session ended: ")[0].text, "session ended: stopped")
        rates = self.assertStreamed(d)
        # still flowing past the point where the server would have dropped a
        # silent session (timeout + 5 s), up to the end
        late = [r for r in rates if r[0].t >= 2 * self.TIMEOUT + 1]
        self.assertGreaterEqual(len(late), 3, d.transcript())
        self.assertGreaterEqual(late[-1][0].t, seconds - 2.5, d.transcript())
        self.assertGreater(late[-1][2] - late[0][2], FPS * 2, d.transcript())
        self.assertTrue(all(r[1] > FPS / 2 for r in late), d.transcript())
        gaps = self.check_keepalives(d, msgs, su, 0)
        self.assertGreaterEqual(len(gaps), seconds // (self.TIMEOUT // 2) - 1)
        setup_reqs = [r for r in msgs if r.method == "SETUP"]
        self.assertEqual(len(setup_reqs), 1)
        self.assertIn("unicast", setup_reqs[0].header("Transport"))
        self.assertTeardownTrace(d)

    def test_restart_sets_up_multicast_again(self):
        seconds = 18
        cam = self.camera()
        cam2 = None
        cap = self.capture(cam).start()
        url = "rtsp://%s:%d/h264" % (self.a.addr, cam.port)
        d = Dump(url, seconds, netns=self.b, emulator=self.emulator).start()
        try:
            self.assertIsNotNone(d.wait_for(r"^first RTP packet", 20), d.transcript())
            time.sleep(4)
            n_before = len(d.snapshot())
            kill_camera(cam)
            killed = time.monotonic()
            time.sleep(2)
            down_lines = len(d.snapshot()) - n_before
            cam2 = self.camera("--port", cam.port)
            d.wait(seconds + 30)
            time.sleep(0.3)
            cap.stop()
            msgs = cap.rtsp(cam.port)
            camera2_log = cam2.stderr_text()
        finally:
            d.kill()
            cap.close()
            cam.close()
            if cam2:
                cam2.close()
        self.assertExit(d, 0)
        ended = d.index(r"^session ended: ", n_before)
        self.assertIsNotNone(ended, d.transcript())
        self.assertNotEqual(d.snapshot()[ended].text, "session ended: stopped")
        again = d.index(r"^reconnecting$", ended)
        self.assertIsNotNone(again, d.transcript())
        setups = d.setups()
        self.assertGreaterEqual(len(setups), 2, d.transcript())
        self.assertEqual([s.mode for s in setups], ["multicast"] * len(setups), d.transcript())
        last = d.index(r"^set up multicast ", again)
        self.assertStreamed(d, last)
        self.check_keepalives(d, msgs, setups[-1], last)
        # on the wire: the first SETUP offered unicast, every later one multicast
        offers = [r.header("Transport", "") for r in msgs if r.method == "SETUP"]
        self.assertGreaterEqual(len(offers), 2, "%r\n%s" % (msgs, cap.stderr))
        self.assertIn("unicast", offers[0])
        for offer in offers[1:]:
            self.assertRegex(offer, r"^RTP/AVP;multicast")
            self.assertNotIn("unicast", offer)
        # and the restarted camera never had to turn a unicast offer round
        self.assertNotIn("forced multicast answer", camera2_log)
        s = d.summary
        self.assertGreater(s["attempts"], 1)
        self.assertTeardownTrace(d)
        noticed = d.snapshot()[ended].arrival - killed
        print("\n  camera loss noticed after %.1f s; %d lines printed while it was down"
              % (noticed, down_lines), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
