"""Frames rebuilt by rtsp-dump from VLC's RTSP streams decode to exactly the
pictures that ffmpeg's own RTSP client decodes from the same stream at the
same time (as md5_test does against the GStreamer camera), and to pictures
of the clip VLC plays, one after the other.

VLC (#rtp{sdp=rtsp://...}) broadcasts from its launch: each client joins the
one running stream wherever it is (a client that comes 4 s after launch gets
the clip's pictures from about 4 s on), on server ports of its own.  Both
clients here start right after VLC is ready, well inside the 30 s clip, so
no loop restart (new tracks, RTCP BYE) falls into the run.  Each client
starts at a picture of its own (rtsp-dump at the first key frame it gets,
ffmpeg wherever its first packet lands), so the two md5 lists are aligned on
the first picture they share.

Run by ctest (tests/integration/vlc.cmake); by hand, from this directory:
  /usr/bin/python3 -m unittest -v vlc_md5_test
"""

import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))

import dump  # noqa: E402
import frames  # noqa: E402
import vlc  # noqa: E402

# A key frame every 25 pictures: should ffmpeg's client lose the first key
# frame rtsp-dump delivers (its first packets can land mid-picture), the
# overlap still holds FRAMES - 25 pictures.
FRAMES = 60
MIN_OVERLAP = 15


def clip_md5s(path):
    """Per-picture md5 of the clip itself, decoded by ffmpeg from the file."""
    p = subprocess.run([frames.FFMPEG, "-nostdin", "-v", "error", "-i", path,
                        "-f", "framemd5", "-"], capture_output=True, text=True,
                       timeout=120)
    if p.returncode != 0:
        raise RuntimeError("ffmpeg could not decode %s: %s" % (path, p.stderr))
    return frames.framemd5_lines(p.stdout)


def frame_index(out_dir):
    """Rows of DIR/frames.tsv as dicts."""
    with open(os.path.join(out_dir, "frames.tsv"), newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


class AgainstFfmpegClient(unittest.TestCase):
    def compare(self, kind, decoder):
        out = tempfile.mkdtemp(prefix="camvue-vlc-md5-")
        self.addCleanup(shutil.rmtree, out, True)
        with vlc.make_media(kind) as media:
            clip = clip_md5s(media.path)
            with vlc.start_vlc(media.path, kind) as v:
                ref = frames.reference_client(v.url, FRAMES + 40, timeout=60)
                try:
                    run = dump.run_dump(v.url, 20, extra=["--frames", str(FRAMES),
                                                          "--out", out])
                    ref_out, ref_err = ref.communicate(timeout=60)
                finally:
                    if ref.poll() is None:
                        ref.kill()
                        ref.wait()
                alive = v.running()
                log = v.log_text()
        self.assertTrue(alive, "VLC died during the run:\n" + log)
        self.assertEqual(run.rc, 0, run.transcript())
        self.assertGreaterEqual(len(clip), vlc.MEDIA_SECONDS * vlc.MEDIA_RATE)

        theirs = frames.framemd5_lines(ref_out)
        ours, errors = frames.decode_frames(out, decoder)
        self.assertGreaterEqual(len(ours), FRAMES, run.transcript())
        self.assertEqual(errors, 0, "our frames did not decode cleanly\n" + run.transcript())
        self.assertGreaterEqual(len(theirs), 20, "ffmpeg's client: " + ref_err)

        where = {}
        for pos, m in enumerate(clip):
            where.setdefault(m, pos)
        at = [where.get(m) for m in ours]

        i, j, n, bad = frames.common_run(ours, theirs)
        self.assertIsNotNone(i, "no frame in common:\nours %s\ntheirs %s\nffmpeg: %s"
                             % (ours[:5], theirs[:5], ref_err))
        sys.stderr.write("%s: overlap %d frames (ours from %d = clip picture %s, "
                         "theirs from %d of %d)\n" % (kind, n, i, at[i], j, len(theirs)))
        rows = frame_index(out)
        detail = ["our frame %s (%s bytes, key=%s): ours %s theirs %s (clip picture "
                  "%s / %s)" % (rows[i + k]["index"], rows[i + k]["length"],
                                rows[i + k]["key"], ours[i + k], theirs[j + k],
                                at[i + k], where.get(theirs[j + k]))
                  for k in bad[:10]]
        self.assertEqual(bad, [], "frames differ at %s of %d (ours from %d, theirs from "
                         "%d):\n%s" % (bad[:10], n, i, j, "\n".join(detail)))
        self.assertGreaterEqual(n, MIN_OVERLAP, "too short an overlap (%d frames; ours "
                                "from %d, theirs from %d)\nffmpeg: %s" % (n, i, j, ref_err))

        # Every picture we rebuilt is one of the clip's, in the clip's order.
        self.assertIsNotNone(at[0], "our first picture is none of the clip's")
        self.assertEqual(at, list(range(at[0], at[0] + len(ours))),
                         "our pictures against the clip's (clip index, None: not in "
                         "the clip): %s" % at)

    def test_h264(self):
        self.compare("h264", "h264")

    def test_mjpeg(self):
        self.compare("mjpeg", "jpeg")

    def test_mpeg4(self):
        self.compare("mpeg4", "mpeg4")


if __name__ == "__main__":
    unittest.main()
