"""A lossy path between camera and client: every frame rtsp-dump delivers
still decodes cleanly, and delivery resumes at the next key frame after each
loss."""

import csv
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))

import dump  # noqa: E402
import frames  # noqa: E402
import lossy_relay  # noqa: E402
import peer  # noqa: E402

SECONDS = 12
FPS = 15
INTERVAL = 10_000_000 // FPS  # presentation-time units per frame


class LossyPath(unittest.TestCase):
    def run_lossy(self, mount, kind):
        out = tempfile.mkdtemp(prefix="camvue-lossy-")
        self.addCleanup(shutil.rmtree, out, True)
        with peer.start_camera("--port", "0", "--fps", str(FPS)) as camera:
            with lossy_relay.LossyRelay(camera.host, camera.port, drop=0.04, duplicate=0.03,
                                        reorder=0.03, seed=7) as relay:
                run = dump.run_dump(relay.url(mount), SECONDS, extra=["--out", out])
                stats = dict(relay.stats)
        self.assertEqual(run.rc, 0, run.transcript())
        self.assertGreater(stats["dropped"], 2, stats)
        self.assertGreater(stats["duplicated"], 2, stats)
        self.assertGreater(stats["reordered"], 2, stats)

        with open(os.path.join(out, "frames.tsv")) as f:
            rows = list(csv.DictReader(f, delimiter="\t"))
        # Each loss costs the rest of its group of pictures; some frames of
        # every second still get through.
        self.assertGreater(len(rows), SECONDS, run.transcript())
        # Delivery starts at a key frame and, after frames went missing,
        # resumes only at a key frame.
        self.assertEqual(rows[0]["key"], "1")
        resumed = 0
        for before, after in zip(rows, rows[1:]):
            step = int(after["pts"]) - int(before["pts"])
            if step > INTERVAL * 3 // 2:
                resumed += 1
                self.assertEqual(after["key"], "1", "frame %s follows a gap of %d units but is "
                                 "not a key frame" % (after["index"], step))
        self.assertGreater(resumed, 0, "no frame went missing: the path was not lossy enough")

        md5s, errors = frames.decode_frames(out, kind)
        self.assertEqual(len(md5s), len(rows))
        self.assertEqual(errors, 0, "a delivered frame did not decode cleanly")

    def test_h264(self):
        self.run_lossy("/h264", "h264")

    def test_mjpeg(self):
        self.run_lossy("/mjpeg", "jpeg")

    def test_mpeg4(self):
        self.run_lossy("/mpeg4", "mpeg4")


class UdpBlocked(unittest.TestCase):
    """Every RTP datagram is lost on the way (a firewall that drops UDP): the
    client notices within 3 s of PLAY, tears down, sets up RTP/AVP/TCP through
    the same path and plays; it stays on TCP."""

    def test_falls_back_to_tcp(self):
        with peer.start_camera("--port", "0", "--fps", str(FPS)) as camera:
            with lossy_relay.LossyRelay(camera.host, camera.port, drop=1.0) as relay:
                d = dump.run_dump(relay.url("/h264"), 10)
                stats = dict(relay.stats)
        self.assertEqual(d.rc, 0, d.transcript())
        self.assertGreater(stats["dropped"], 10, stats)
        self.assertEqual(stats["forwarded"], 0, stats)
        playing = d.find(r"^playing ")
        fell = d.find(r"^falling back to TCP: no RTP over UDP within 3 s of PLAY$")
        ended = d.find(r"^session ended: no RTP over UDP within 3 s$")
        tcp = d.find(r"^set up tcp interleaved=0-1 ")
        first = d.find(r"^first RTP packet ")
        self.assertTrue(playing and fell and ended and tcp and first, d.transcript())
        self.assertEqual(len(fell), 1, d.transcript())
        self.assertEqual(len(d.find(r"^set up unicast ")), 1, d.transcript())
        waited = fell[0].t - playing[0].t
        self.assertGreaterEqual(waited, 2.9, d.transcript())
        self.assertLessEqual(waited, 3.5, d.transcript())
        # From PLAY over UDP to the first packet over TCP: the 3 s wait plus
        # TEARDOWN and one more set-up.
        fallback = first[0].t - playing[0].t
        self.assertLess(fallback, 4.5, d.transcript())
        frames_after = d.summary["frame_ends"]
        self.assertGreater(frames_after, 3 * FPS, d.transcript())
        print("\n  fallback to TCP: first packet %.2f s after PLAY over UDP" % fallback,
              file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
