#!/usr/bin/python3
"""Checks that the local test camera (camera.py) behaves as the integration
tests expect, with FFmpeg as the reference client and a small hand-made RTSP
client (peer.RtspConnection) where FFmpeg cannot tell.

    /usr/bin/python3 -m unittest tests/peers/selftest.py -v
    /usr/bin/python3 tests/peers/selftest.py -v

Multicast checks need root (two network namespaces joined by a veth pair);
without it they are skipped and say so.  FFmpeg's time to the first decoded
frame per mount is printed at the end.
"""

import os
import re
import select
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer  # noqa: E402
from peer import (PYTHON, RtspConnection, basic_authorization,  # noqa: E402
                  digest_authorization, make_netns_pair, netns_available,
                  netns_cmd, parse_challenge, parse_transport, rtp_header,
                  sdp_controls, start_camera)

FFMPEG = "/usr/bin/ffmpeg"
MOUNTS = ("/h264", "/mjpeg", "/mpeg4")
FRAMES = 10
TIMINGS = {}        # label -> (first frame s, all frames s)


LOW_DELAY = ["-probesize", "32", "-analyzeduration", "0", "-fflags", "nobuffer"]


def ffmpeg_frames(url, transport="udp", netns=None, timeout=25.0, frames=FRAMES,
                  input_opts=()):
    """Run FFmpeg on `url` until it has decoded `frames` video frames.

    Returns dict: rc, frames (list of (pts, md5) from framemd5), first (s to
    the first frame line), total (s), stderr."""
    argv = [FFMPEG, "-nostdin", "-hide_banner", "-loglevel", "error",
            "-rtsp_transport", transport] + list(input_opts) + ["-i", url, "-map", "0:v:0",
            "-frames:v", str(frames), "-flush_packets", "1",
            "-f", "framemd5", "-"]
    t0 = time.monotonic()
    proc = subprocess.Popen(netns_cmd(netns, argv), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    err = []
    reader = threading.Thread(target=lambda: err.append(proc.stderr.read()))
    reader.start()
    out, first, buf = [], None, b""
    deadline = t0 + timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            proc.kill()
            break
        ready, _, _ = select.select([proc.stdout], [], [], left)
        if not ready:
            continue
        chunk = os.read(proc.stdout.fileno(), 65536)
        if not chunk:
            break
        buf += chunk
        while b"\n" in buf:
            line, buf = buf.split(b"\n", 1)
            text = line.decode("ascii", "replace").strip()
            if not text or text.startswith("#"):
                continue
            # stream, dts, pts, duration, size, md5
            fields = [f.strip() for f in text.split(",")]
            if len(fields) == 6:
                if first is None:
                    first = time.monotonic() - t0
                out.append((int(fields[2]), fields[5]))
    rc = proc.wait()
    total = time.monotonic() - t0
    reader.join()
    proc.stdout.close()
    proc.stderr.close()
    return {"rc": rc, "frames": out, "first": first, "total": total,
            "stderr": b"".join(err).decode("utf-8", "replace")}


class DecodeMixin:
    def assertDecoded(self, res, frames=FRAMES, label=None):
        msg = "ffmpeg rc=%s stderr:\n%s" % (res["rc"], res["stderr"][-1500:])
        self.assertEqual(res["rc"], 0, msg)
        self.assertEqual(len(res["frames"]), frames, msg)
        pts = [p for p, _ in res["frames"]]
        self.assertEqual(pts, sorted(set(pts)),
                         "frame timestamps not strictly increasing: %s" % pts)
        # the test pattern moves: a live camera does not repeat one picture
        self.assertGreater(len({m for _, m in res["frames"]}), 1,
                           "all decoded frames are identical")
        if label:
            TIMINGS[label] = (res["first"], res["total"])


def rtsp_describe(cam, mount, conn=None, headers=()):
    own = conn is None
    rc = conn or RtspConnection(cam.host, cam.port)
    try:
        return rc.request("DESCRIBE", cam.url(mount),
                          [("Accept", "application/sdp")] + list(headers))
    finally:
        if own:
            rc.close()


# --------------------------------------------------------------------------


class TestMounts(DecodeMixin, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera()

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def test_listening_line(self):
        self.assertRegex(self.cam.base_url, r"^rtsp://127\.0\.0\.1:\d+$")
        self.assertGreater(self.cam.port, 0)
        with socket.create_connection((self.cam.host, self.cam.port), timeout=5):
            pass

    def _decode(self, mount):
        res = ffmpeg_frames(self.cam.url(mount))
        self.assertDecoded(res, label=mount)

    # the first client of a mount starts its pipeline: these run first
    # (alphabetical order) so the timings include that cost
    def test_a_decode_h264(self):
        self._decode("/h264")

    def test_a_decode_mjpeg(self):
        self._decode("/mjpeg")

    def test_a_decode_mpeg4(self):
        self._decode("/mpeg4")

    def test_b_decode_low_delay(self):
        # FFmpeg with its stream probing cut short, for comparison
        for mount in MOUNTS:
            with self.subTest(mount=mount):
                res = ffmpeg_frames(self.cam.url(mount), input_opts=LOW_DELAY)
                self.assertDecoded(res, label=mount + " (low delay)")

    def test_sdp(self):
        expect = {
            "/h264": (r"m=video 0 RTP/AVP 96", r"a=rtpmap:96 H264/90000",
                      r"a=fmtp:96 .*packetization-mode=1.*sprop-parameter-sets=\S+"),
            "/mjpeg": (r"m=video 0 RTP/AVP 26", r"a=rtpmap:26 JPEG/90000"),
            "/mpeg4": (r"m=video 0 RTP/AVP 96", r"a=rtpmap:96 MP4V-ES/90000",
                       r"a=fmtp:96 .*config=000001b0[0-9a-fA-F]+"),
        }
        for mount, patterns in expect.items():
            with self.subTest(mount=mount):
                r = rtsp_describe(self.cam, mount)
                self.assertEqual(r.status, 200, r.status_line)
                self.assertEqual(r.header("Content-Type"), "application/sdp")
                for pat in patterns:
                    self.assertRegex(r.body, pat)
                self.assertEqual(len(sdp_controls(r.body, r.header("Content-Base"))), 1)

    def test_unknown_mount_is_404(self):
        self.assertEqual(rtsp_describe(self.cam, "/nothing").status, 404)

    def test_teardown_keeps_connection(self):
        # the TEARDOWN reply says "Connection: close", yet the server leaves
        # the connection open and answers further requests on it
        with RtspConnection(self.cam.host, self.cam.port) as rc:
            d = rtsp_describe(self.cam, "/mjpeg", conn=rc)
            base = d.header("Content-Base")
            s = rc.request("SETUP", sdp_controls(d.body, base)[0],
                           [("Transport", "RTP/AVP;unicast;client_port=41100-41101")])
            self.assertEqual(s.status, 200)
            self.assertEqual(rc.request("PLAY", base).status, 200)
            t = rc.request("TEARDOWN", base)
            self.assertEqual(t.status, 200)
            self.assertEqual(t.header("Connection", "").lower(), "close")
            time.sleep(0.3)
            self.assertEqual(rc.request("OPTIONS", self.cam.url("/mjpeg")).status, 200)

    def test_tcp_interleaved(self):
        res = ffmpeg_frames(self.cam.url("/h264"), transport="tcp")
        self.assertDecoded(res, label="/h264 (tcp)")


class TestLifecycle(unittest.TestCase):
    def test_sigterm_exits_zero(self):
        cam = start_camera("--fps", "10", "--size", "160x120")
        try:
            # with a session running, so a pipeline has to be shut down
            r = rtsp_describe(cam, "/h264")
            self.assertEqual(r.status, 200)
        finally:
            status = cam.stop()
            cam.close()
        self.assertEqual(status, 0)

    def test_fixed_port(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with start_camera("--port", port) as cam:
            self.assertEqual(cam.port, port)
            self.assertEqual(rtsp_describe(cam, "/mjpeg").status, 200)

    def test_multicast_refused_outside_private_namespace(self):
        # here (not a private namespace) multicast would leave the machine:
        # the camera must refuse to start unless pinned to lo
        others = [a for a in subprocess.run(
            ["ip", "-4", "-o", "addr", "show"], capture_output=True,
            text=True).stdout.split() if re.match(r"^\d+\.\d+\.\d+\.\d+/", a)
            and not a.startswith("127.")]
        if not others:
            self.skipTest("this namespace has only loopback addresses")
        for flags in (["--multicast"], ["--force-multicast-answer"]):
            with self.subTest(flags=flags):
                with self.assertRaises(peer.CameraError) as ctx:
                    start_camera(*flags).close()
                self.assertIn("refusing multicast", str(ctx.exception))
        # pinned to lo it starts
        with start_camera("--multicast", "--multicast-iface", "lo") as cam:
            self.assertEqual(rtsp_describe(cam, "/h264").status, 200)

    def test_bad_arguments_fail(self):
        r = subprocess.run([PYTHON, peer.CAMERA, "--size", "banana"],
                           capture_output=True, text=True, timeout=30)
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(r.stdout, "")


# --------------------------------------------------------------------------


class AuthChecks(DecodeMixin):
    mode = None
    USER, PASSWORD = "alice", "s3cr3t-pw"

    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera("--auth", cls.mode, "--user", cls.USER,
                               "--password", cls.PASSWORD)

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def challenges(self, conn=None):
        r = rtsp_describe(self.cam, "/h264", conn=conn)
        self.assertEqual(r.status, 401, r.status_line)
        return [parse_challenge(v) for v in r.all("WWW-Authenticate")]

    def test_ffmpeg_right_password(self):
        url = self.cam.url("/h264", self.USER, self.PASSWORD)
        self.assertDecoded(ffmpeg_frames(url))

    def test_ffmpeg_wrong_password(self):
        url = self.cam.url("/h264", self.USER, "not-" + self.PASSWORD)
        res = ffmpeg_frames(url, timeout=15)
        self.assertNotEqual(res["rc"], 0)
        self.assertEqual(res["frames"], [])
        self.assertIn("401", res["stderr"])

    def test_ffmpeg_no_credentials(self):
        res = ffmpeg_frames(self.cam.url("/mjpeg"), timeout=15)
        self.assertNotEqual(res["rc"], 0)
        self.assertEqual(res["frames"], [])

    def test_challenge_headers(self):
        schemes = [s for s, _ in self.challenges()]
        expected = {"basic": ["basic"], "digest": ["digest"],
                    "both": ["basic", "digest"]}[self.mode]
        self.assertEqual(schemes, expected)
        for scheme, params in self.challenges():
            self.assertTrue(params.get("realm"), "challenge without realm")
            if scheme == "digest":
                self.assertTrue(params.get("nonce"))

    def _digest(self, password):
        with RtspConnection(self.cam.host, self.cam.port) as rc:
            chal = dict(self.challenges(conn=rc)).get("digest")
            if chal is None:
                return None
            url = self.cam.url("/h264")
            auth = digest_authorization(self.USER, password, "DESCRIBE", url, chal)
            return rtsp_describe(self.cam, "/h264", conn=rc,
                                 headers=[("Authorization", auth)]).status

    def _basic(self, password):
        auth = basic_authorization(self.USER, password)
        return rtsp_describe(self.cam, "/h264",
                             headers=[("Authorization", auth)]).status

    def test_raw_credentials(self):
        basic_ok = self.mode in ("basic", "both")
        digest_ok = self.mode in ("digest", "both")
        self.assertEqual(self._basic(self.PASSWORD), 200 if basic_ok else 401)
        self.assertEqual(self._basic("x" + self.PASSWORD), 401)
        if digest_ok:
            self.assertEqual(self._digest(self.PASSWORD), 200)
            self.assertEqual(self._digest("x" + self.PASSWORD), 401)
        else:
            self.assertIsNone(self._digest(self.PASSWORD))


class TestAuthBasic(AuthChecks, unittest.TestCase):
    mode = "basic"


class TestAuthDigest(AuthChecks, unittest.TestCase):
    mode = "digest"

    def test_nonce_bound_to_connection(self):
        # A nonce is bound to the first connection that presents it: it may
        # be reused there, but is refused on another connection.
        url = self.cam.url("/h264")
        with RtspConnection(self.cam.host, self.cam.port) as first:
            chal = dict(self.challenges(conn=first))["digest"]
            auth = digest_authorization(self.USER, self.PASSWORD, "DESCRIBE", url, chal)
            hdr = [("Authorization", auth)]
            self.assertEqual(rtsp_describe(self.cam, "/h264", conn=first, headers=hdr).status, 200)
            self.assertEqual(rtsp_describe(self.cam, "/h264", conn=first, headers=hdr).status, 200)
            self.assertEqual(rtsp_describe(self.cam, "/h264", headers=hdr).status, 401)


class TestAuthBoth(AuthChecks, unittest.TestCase):
    mode = "both"


# --------------------------------------------------------------------------


class TestSessionTimeout(unittest.TestCase):
    TIMEOUT = 5

    @classmethod
    def setUpClass(cls):
        cls.cam = start_camera("--session-timeout", cls.TIMEOUT)

    @classmethod
    def tearDownClass(cls):
        cls.cam.close()

    def _setup(self, rc, mount, rtp_port):
        d = rtsp_describe(self.cam, mount, conn=rc)
        self.assertEqual(d.status, 200)
        base = d.header("Content-Base")
        s = rc.request("SETUP", sdp_controls(d.body, base)[0],
                       [("Transport", "RTP/AVP;unicast;client_port=%d-%d"
                         % (rtp_port, rtp_port + 1))])
        self.assertEqual(s.status, 200, s.status_line)
        return base, s

    def test_timeout_in_session_header(self):
        with RtspConnection(self.cam.host, self.cam.port) as rc:
            self.assertEqual(rc.request("OPTIONS", self.cam.url("/h264")).status, 200)
            _, s = self._setup(rc, "/h264", 0)
            self.assertRegex(s.header("Session"), r"^[^;\s]+;\s*timeout=%d$" % self.TIMEOUT)

    def test_streaming_stops_without_keepalive(self):
        """A silent client stops receiving about timeout + 5 s after PLAY;
        one that sends GET_PARAMETER keep-alives goes on receiving."""
        results = {}

        def client(name, keepalive):
            rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtp.bind(("127.0.0.1", 0))
            port = rtp.getsockname()[1]
            try:
                with RtspConnection(self.cam.host, self.cam.port) as rc:
                    base, _ = self._setup(rc, "/mjpeg", port)
                    t0 = time.monotonic()
                    self.assertEqual(rc.request("PLAY", base).status, 200)
                    last, count, next_ka = None, 0, t0 + 2
                    rtp.settimeout(0.2)
                    while time.monotonic() - t0 < 2 * self.TIMEOUT + 4:
                        if keepalive and time.monotonic() >= next_ka:
                            ka = rc.request("GET_PARAMETER", base)
                            self.assertEqual(ka.status, 200)
                            next_ka += 2
                        try:
                            data = rtp.recv(65536)
                        except socket.timeout:
                            continue
                        if rtp_header(data):
                            count += 1
                            last = time.monotonic() - t0
                    results[name] = (count, last)
            finally:
                rtp.close()

        threads = [threading.Thread(target=client, args=("silent", False)),
                   threading.Thread(target=client, args=("alive", True))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(set(results), {"silent", "alive"}, "a client thread failed")
        count, last = results["silent"]
        self.assertGreater(count, 0)
        # the server allows timeout + 5 s; its cleanup runs every 0.5 s
        self.assertGreater(last, self.TIMEOUT + 2, results)
        self.assertLess(last, 2 * self.TIMEOUT + 2.5, results)
        count, last = results["alive"]
        self.assertGreater(last, 2 * self.TIMEOUT + 3, results)
        print("\n  session-timeout %d: silent client's stream stopped after %.1f s"
              % (self.TIMEOUT, results["silent"][1]), file=sys.stderr)


# --------------------------------------------------------------------------


def probe_in(ns, url, seconds=2.0, offer=None):
    import json
    r = ns.run([PYTHON, os.path.join(os.path.dirname(peer.__file__), "peer.py"),
                "multicast-probe", url, str(seconds)] + ([offer] if offer else []),
               capture_output=True, text=True, timeout=seconds + 20)
    if r.returncode != 0:
        raise AssertionError("multicast probe failed:\n" + r.stderr)
    return json.loads(r.stdout)


@unittest.skipUnless(netns_available(), "needs root to create network namespaces")
class TestMulticast(DecodeMixin, unittest.TestCase):
    """Camera in namespace A, clients in namespace B (veth pair)."""

    @classmethod
    def setUpClass(cls):
        cls._ns = make_netns_pair()
        cls.a, cls.b = cls._ns.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls._ns.__exit__(None, None, None)

    def camera(self, *args):
        return start_camera("--address", self.a.addr, *args, netns=self.a.name)

    def test_forced_multicast_answer(self):
        with self.camera("--force-multicast-answer") as cam:
            cases = (("/h264", 96, None), ("/mjpeg", 26, None),
                     ("/mpeg4", 96, "RTP/AVP;unicast;destination=%s;"
                      "client_port=41200-41201" % self.b.addr))
            for mount, pt, offer in cases:
                with self.subTest(mount=mount, offer=offer):
                    res = probe_in(self.b, cam.url(mount), 2.0, offer)
                    self.assertEqual(res.get("setup"), 200, res)
                    tr = parse_transport(res["transport"])
                    self.assertEqual(tr["protocol"], "RTP/AVP")
                    self.assertIn("multicast", tr)
                    self.assertNotIn("unicast", tr)
                    self.assertRegex(tr["destination"], r"^239\.255\.\d+\.\d+$")
                    self.assertRegex(tr["port"], r"^\d+-\d+$")
                    lo, hi = map(int, tr["port"].split("-"))
                    self.assertEqual((lo % 2, hi), (0, lo + 1))
                    self.assertIn("ttl", tr)
                    self.assertEqual(res["play"], 200)
                    self.assertGreater(res["rtp_packets"], 5, res)
                    self.assertEqual(res["payload_types"], [pt])
                    self.assertEqual(res["ssrc_count"], 1)
                    self.assertEqual(res["sources"], [self.a.addr])

    def test_multicast_iface_lo_keeps_traffic_home(self):
        # the same request, but the camera sends multicast on lo only:
        # nothing may reach the other namespace
        with self.camera("--force-multicast-answer", "--multicast-iface", "lo") as cam:
            res = probe_in(self.b, cam.url("/h264"), 1.5)
            self.assertEqual(res.get("play"), 200, res)
            self.assertEqual(res["rtp_packets"], 0, res)

    def test_ffmpeg_multicast(self):
        with self.camera("--multicast") as cam:
            res = ffmpeg_frames(cam.url("/h264"), transport="udp_multicast",
                                netns=self.b.name)
            self.assertDecoded(res, label="/h264 (multicast)")
            # unicast still offered on a multicast-capable mount
            res = probe_in(self.b, cam.url("/mjpeg"), 0.5)
            self.assertEqual(res["setup"], 200, res)
            self.assertIn("unicast", parse_transport(res["transport"]))

    def test_multicast_only_refuses_unicast(self):
        with self.camera("--multicast-only") as cam:
            res = probe_in(self.b, cam.url("/h264"), 0.5)
            self.assertEqual(res.get("setup"), 461, res)


def tearDownModule():
    if not TIMINGS:
        return
    lines = ["", "ffmpeg time to first decoded frame (from launch; %d frames total;"
             " low delay = %s):" % (FRAMES, " ".join(LOW_DELAY))]
    for label, (first, total) in sorted(TIMINGS.items()):
        lines.append("  %-22s first frame %5.2f s   %d frames %5.2f s"
                     % (label, first if first is not None else float("nan"),
                        FRAMES, total))
    print("\n".join(lines), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
