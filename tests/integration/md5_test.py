"""Frames rebuilt by rtsp-dump decode to exactly the pictures that ffmpeg's
own RTSP client decodes from the same camera at the same time."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))

import dump  # noqa: E402
import frames  # noqa: E402
import peer  # noqa: E402

FRAMES = 45


class AgainstFfmpegClient(unittest.TestCase):
    def compare(self, mount, kind, camera_args=(), transport="udp", expect=()):
        out = tempfile.mkdtemp(prefix="camvue-md5-")
        self.addCleanup(shutil.rmtree, out, True)
        # A fresh camera, so both clients see one pipeline from its start.
        with peer.start_camera("--port", "0", *camera_args) as camera:
            url = camera.url(mount)
            ref = frames.reference_client(url, FRAMES + 30, timeout=60, transport=transport)
            run = dump.run_dump(url, 20, extra=["--frames", str(FRAMES), "--out", out])
            try:
                ref_out, ref_err = ref.communicate(timeout=60)
            finally:
                if ref.poll() is None:
                    ref.kill()
        self.assertEqual(run.rc, 0, run.transcript())
        for pattern in expect:
            self.assertTrue(run.find(pattern), "no line %r\n%s" % (pattern, run.transcript()))
        theirs = frames.framemd5_lines(ref_out)
        ours, errors = frames.decode_frames(out, kind)
        self.assertGreaterEqual(len(ours), FRAMES, run.transcript())
        self.assertEqual(errors, 0, "our frames did not decode cleanly")
        self.assertGreaterEqual(len(theirs), 20, ref_err)
        i, j, n, bad = frames.common_run(ours, theirs)
        self.assertIsNotNone(i, "no frame in common:\nours %s\ntheirs %s" % (ours[:5], theirs[:5]))
        self.assertGreaterEqual(n, 15, "too short an overlap (%d frames)" % n)
        self.assertEqual(bad, [], "frames differ at %s of %d (ours from %d, theirs from %d)"
                         % (bad[:10], n, i, j))
        return ours, i, n

    def test_h264(self):
        self.compare("/h264", "h264")

    def test_h264_aggregated(self):
        # rtph264pay aggregate-mode=zero-latency: the units of a picture that
        # fit one packet go as one STAP-A (the key pictures with their sets):
        # every picture arrives whole, frame for frame with ffmpeg's.
        ours, i, n = self.compare("/h264", "h264", ("--aggregate", "zero-latency"))
        self.assertGreaterEqual(n, 0.95 * (len(ours) - i))

    def test_tcp_only(self):
        # A camera that allows RTP/AVP/TCP alone refuses UDP with 461: the
        # client asks again for interleaved RTP on the same connection, and
        # every mount plays frame for frame with ffmpeg's client over TCP.
        expect = (r"^falling back to TCP: the camera refused UDP \(461\)$",
                  r"^set up tcp interleaved=0-1 ", r"^receiver report sent ")
        for mount, kind in (("/h264", "h264"), ("/mjpeg", "jpeg"), ("/mpeg4", "mpeg4")):
            with self.subTest(mount=mount):
                self.compare(mount, kind, ("--protocols", "tcp"), "tcp", expect)

    def test_mjpeg(self):
        self.compare("/mjpeg", "jpeg")

    def test_mpeg4(self):
        self.compare("/mpeg4", "mpeg4")


if __name__ == "__main__":
    unittest.main()
