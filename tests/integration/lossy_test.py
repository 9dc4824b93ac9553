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


if __name__ == "__main__":
    unittest.main()
