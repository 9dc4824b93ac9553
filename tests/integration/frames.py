"""Decoding what rtsp-dump wrote with Debian's ffmpeg, and comparing per-frame
md5 lists.  Standard library only."""

import glob
import os
import subprocess

FFMPEG = "/usr/bin/ffmpeg"
# How ffmpeg reads our frames once they are concatenated.
DEMUXER = {"h264": "h264", "jpeg": "mjpeg", "mpeg4": "m4v"}
EXTENSION = {"h264": "h264", "jpeg": "jpg", "mpeg4": "m4v"}


def framemd5_lines(text):
    """md5 column of `-f framemd5` output."""
    out = []
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        out.append(line.rsplit(",", 1)[1].strip())
    return out


def decode_frames(out_dir, kind, pix_fmt=None):
    """Concatenates DIR/frame-*.EXT and decodes them; returns (md5 list, ffmpeg's
    error count).  -xerror is not used so that the count tells the damage."""
    files = sorted(glob.glob(os.path.join(out_dir, "frame-*." + EXTENSION[kind])))
    if not files:
        return [], 0
    joined = os.path.join(out_dir, "all." + EXTENSION[kind])
    data = bytearray()
    for name in files:
        with open(name, "rb") as part:
            data += part.read()
    if kind == "h264":
        # Every access unit ends with a delimiter that announces the next one;
        # at the end of the file there is none, and the decoder would count
        # the lone delimiter as a broken picture.
        body = data.rstrip(b"\0")
        if body.endswith(b"\x00\x00\x01\x09\x10"):
            data = body[:-5]
    with open(joined, "wb") as f:
        f.write(data)
    cmd = [FFMPEG, "-nostdin", "-v", "error", "-f", DEMUXER[kind], "-i", joined]
    if pix_fmt:
        cmd += ["-pix_fmt", pix_fmt]
    cmd += ["-f", "framemd5", "-"]
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    errors = len([l for l in p.stderr.splitlines() if l.strip()])
    return framemd5_lines(p.stdout), errors + (0 if p.returncode == 0 else 1)


def reference_client(url, frames, timeout, transport="udp"):
    """ffmpeg's own RTSP client (over UDP unless told): starts at once,
    returns the Popen."""
    cmd = [FFMPEG, "-nostdin", "-v", "error", "-rtsp_transport", transport, "-i", url,
           "-frames:v", str(frames), "-f", "framemd5", "-"]
    return subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def common_run(ours, theirs):
    """Aligns the two md5 lists on the first frame of ours that theirs holds
    (RTP sequence numbers and timestamps are random per run) and returns
    (offset in ours, offset in theirs, length of the overlap, mismatches)."""
    where = {}
    for j, m in enumerate(theirs):
        where.setdefault(m, j)
    for i, m in enumerate(ours):
        if m in where:
            j = where[m]
            n = min(len(ours) - i, len(theirs) - j)
            bad = [k for k in range(n) if ours[i + k] != theirs[j + k]]
            return i, j, n, bad
    return None, None, 0, []
