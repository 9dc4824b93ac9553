#!/usr/bin/python3
"""CPU of RTSP clients on one real stream, one after the other.

The GStreamer test camera serves 1280x720 H.264 at 25 fps, about 4 Mbit/s
(--pattern snow --bitrate 4000), and each client plays /h264 over UDP for the
same time on a fresh session:

  rtsp-dump      ours, optimised native build, frames printed to /dev/null
  ffmpeg         FFmpeg's client: -c copy -f null
  gstreamer      rtspsrc ! rtph264depay ! fakesink
  rtsp-dump.exe  ours, win64 build under wine64 (its process only; the
                 wineserver's share is printed apart)

Printed: user+sys CPU seconds of each client, datagrams received, and our
ratio to the best reference. Then system calls per datagram of the native
rtsp-dump, counted with strace -c over a second run.

  cpu_bench.py --dump PATH [--dump-exe PATH --wine-run SCRIPT --prefix DIR]
               [--seconds 20]
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "peers"))
from peer import start_camera  # noqa: E402

SUMMARY = re.compile(r"datagrams=(\d+)")


def cpu_of(argv, seconds, stop_signal=None, env=None, stdout=subprocess.DEVNULL):
    """Runs argv; after `seconds` sends stop_signal (None: it ends itself).
    Returns (user+sys seconds, output text when captured)."""
    capture = stdout is subprocess.PIPE
    out_file = tempfile.TemporaryFile() if capture else None
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                            stdout=out_file if capture else stdout,
                            stderr=subprocess.DEVNULL, env=env)
    if stop_signal is not None:
        time.sleep(seconds)
        proc.send_signal(stop_signal)
    deadline = time.monotonic() + seconds + 30
    while True:
        pid, _, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            break
        if time.monotonic() > deadline:
            proc.kill()
            pid, _, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.05)
    text = ""
    if capture:
        out_file.seek(0)
        text = out_file.read().decode(errors="replace")
    return usage.ru_utime + usage.ru_stime, text


def cpu_of_pid(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / tick


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dump", required=True)
    ap.add_argument("--dump-exe")
    ap.add_argument("--wine-run")
    ap.add_argument("--prefix")
    ap.add_argument("--seconds", type=int, default=20)
    args = ap.parse_args()
    s = args.seconds

    camera = start_camera("--size", "1280x720", "--fps", "25", "--pattern", "snow",
                          "--bitrate", "4000")
    url = camera.url("/h264")
    results = []
    try:
        cpu, text = cpu_of([args.dump, url, "--seconds", str(s)], s, stdout=subprocess.PIPE)
        m = SUMMARY.search(text)
        datagrams = int(m.group(1)) if m else 0
        results.append(("rtsp-dump", cpu, datagrams))
        cpu, _ = cpu_of(["ffmpeg", "-v", "error", "-rtsp_transport", "udp", "-i", url,
                         "-c", "copy", "-f", "null", "-"], s, signal.SIGINT)
        results.append(("ffmpeg", cpu, None))
        cpu, _ = cpu_of(["gst-launch-1.0", "-q", "rtspsrc", "location=" + url, "protocols=udp",
                         "!", "rtph264depay", "!", "fakesink"], s, signal.SIGINT)
        results.append(("gstreamer", cpu, None))

        print("== CPU seconds over %d s of 1280x720 H.264, 25 fps, ~4 Mbit/s (user+sys)" % s)
        for name, cpu, datagrams in results:
            extra = "  datagrams=%d" % datagrams if datagrams else ""
            print("%-14s %6.2f%s" % (name, cpu, extra))
        ours = results[0][1]
        best = min(r[1] for r in results[1:])
        print("ratio rtsp-dump / best reference: %.2f (goal <= 0.5)" % (ours / best if best else 0))

        with tempfile.NamedTemporaryFile(suffix=".strace") as trace:
            _, text = cpu_of(["strace", "-f", "-c", "-o", trace.name, args.dump, url,
                              "--seconds", str(s)], s, stdout=subprocess.PIPE)
            m = SUMMARY.search(text)
            datagrams = int(m.group(1)) if m else 0
            total = 0
            for line in open(trace.name):
                fields = line.split()
                if fields and fields[-1] == "total":
                    total = int(fields[3])  # % time, seconds, usecs/call, calls

            print("system calls per datagram (native rtsp-dump, strace -c): %.2f "
                  "(%d calls, %d datagrams; goal <= 1.2)"
                  % (total / datagrams if datagrams else 0, total, datagrams))

        if args.dump_exe and args.wine_run and args.prefix:
            server = subprocess.run(["pgrep", "-f", "-n", "wineserver"], capture_output=True,
                                    text=True).stdout.split()
            server_before = cpu_of_pid(int(server[0])) if server else None
            cpu, text = cpu_of(["bash", args.wine_run, "--prefix", args.prefix, args.dump_exe,
                                url, "--seconds", str(s)], s, stdout=subprocess.PIPE)
            m = SUMMARY.search(text)
            datagrams = int(m.group(1)) if m else 0
            line = "rtsp-dump.exe (wine64) %6.2f  datagrams=%d  ratio to native %.2f" % (
                cpu, datagrams, cpu / ours if ours else 0)
            if server_before is not None:
                line += "  (wineserver %.2f more)" % (cpu_of_pid(int(server[0])) - server_before)
            print(line)
    finally:
        camera.close()


if __name__ == "__main__":
    main()
