"""Stream cores of the plug-in against the GStreamer test camera.

core_camera_tests.exe (win64 build, under wine with the Xvfb display) plays
the camera (scrolling colour bars, requests logged) into windows.  This
harness starts the camera on a fixed quiet port and serves the program's
control connection on loopback:

  restart     the camera is killed and started again on the same port; "ok"
  teardowns   the number of TEARDOWN requests the camera has seen

The ctest entry picks the program's cases with CAMVUE_CORE_FILTER.
"""

import os
import socket
import subprocess
import sys
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
sys.path.insert(0, HERE)

from peer import start_camera  # noqa: E402
from gst_camera_test import quiet_port  # noqa: E402

PROGRAM = os.environ.get("CAMVUE_CORE_TESTS", "")
EMULATOR = [w for w in os.environ.get("CAMVUE_EMULATOR", "").split("|") if w]
FILTER = os.environ.get("CAMVUE_CORE_FILTER", "*")
TIMEOUT = int(os.environ.get("CAMVUE_CORE_TIMEOUT", "600"))


class Harness:
    def __init__(self):
        self.port = quiet_port()
        self.args = ["--port", str(self.port), "--pattern", "smpte100", "--speed", "4",
                     "--log-requests"]
        self.camera = start_camera(*self.args)
        self.earlier_teardowns = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def teardowns(self):
        return self.earlier_teardowns + self.camera.stderr_text().count("request TEARDOWN")

    def restart(self):
        self.earlier_teardowns = self.teardowns()
        self.camera.close()
        self.camera = start_camera(*self.args)
        return "ok"

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with conn:
                line = conn.makefile("r").readline().strip()
                with self.lock:
                    if line == "restart":
                        answer = self.restart()
                    elif line == "teardowns":
                        answer = str(self.teardowns())
                    else:
                        answer = "?"
                conn.sendall((answer + "\n").encode())

    def close(self):
        self.listener.close()
        self.camera.close()


class CoreCamera(unittest.TestCase):
    def test_cases(self):
        if not PROGRAM:
            self.skipTest("CAMVUE_CORE_TESTS is not set")
        harness = Harness()
        try:
            env = dict(os.environ,
                       CAMVUE_CAMERA_URL=harness.camera.base_url,
                       CAMVUE_CAMERA_CONTROL=str(harness.listener.getsockname()[1]),
                       CAMVUE_NEEDS_DISPLAY="1")
            run = subprocess.run(EMULATOR + [PROGRAM, "--gtest_filter=" + FILTER],
                                 env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=TIMEOUT)
            out = run.stdout.decode(errors="replace").replace("\r", "")
            sys.stdout.write(out)
            self.assertEqual(run.returncode, 0, "core_camera_tests failed")
            self.assertIn("[  PASSED  ]", out)
            self.assertNotIn("SKIPPED", out)
        finally:
            harness.close()


if __name__ == "__main__":
    unittest.main()
