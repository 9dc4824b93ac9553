"""The installer as a user meets it (win64, wine64 in a fresh prefix, on the
Xvfb display): run setup-rtsp-plugin-x64.exe, read its message box and press
OK (message-box-answer.exe), then look for the installed files, the
registration and the temporary folder; the edge cases once each on the real
program; and finally page-host finds the installed plug-in through the
registry alone and plays the test camera with the installed codecs.

Environment (set by ctest): CAMVUE_SETUP, CAMVUE_ANSWER, CAMVUE_PAGE_HOST,
CAMVUE_PLUGIN, CAMVUE_CODECS (the folder of the build's codec
libraries), CAMVUE_WINE_RUN (scripts/wine-run.sh), DISPLAY.
"""

import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))

from page_host_test import bars_seen  # noqa: E402
from peer import start_camera  # noqa: E402

ENV = {name: os.environ.get("CAMVUE_" + name, "") for name in (
    "SETUP", "ANSWER", "PAGE_HOST", "PLUGIN", "CODECS", "WINE_RUN")}
MIME = "application/mozilla-npcamvue-scriptable-plugin"
SUCCESS = "Browser RTSP plugin was installed successfully."
KEY = r"HKLM\SOFTWARE\MozillaPlugins\@velmora.example/npcamvue"
INSTALL = r"C:\Program Files\Corvina Browser Plugins\RTSP Plugin"


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not all(ENV.values()) or not os.environ.get("DISPLAY"):
            raise unittest.SkipTest("CAMVUE_* or DISPLAY not set")
        cls.work = tempfile.mkdtemp(prefix="setup-e2e-")
        cls.prefix = os.path.join(cls.work, "prefix")
        # A fresh prefix, and its desktop process held on the display for
        # the whole test (no program of the test starts it, so none of them
        # lends it its output).
        cls.holder = subprocess.Popen(
            cls.wine_command(["cmd", "/c", "set /p x="]), env=cls.wine_env(),
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):
            if os.path.exists(os.path.join(cls.prefix, ".camvue-ready")):
                break
            time.sleep(0.1)
        subprocess.run(cls.wine_command(["rundll32.exe", "user32.dll,GetDesktopWindow"]),
                       env=cls.wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        cls.drive = os.path.join(cls.prefix, "drive_c")
        cls.setup_dir = os.path.join(cls.drive, "setup")
        os.makedirs(cls.setup_dir)
        shutil.copy(ENV["SETUP"], cls.setup_dir)
        cls.temp = os.path.join(cls.setup_dir, "setup_rtsp_plugin_temp")
        cls.install = os.path.join(cls.drive, "Program Files", "Corvina Browser Plugins",
                                   "RTSP Plugin")

    @classmethod
    def tearDownClass(cls):
        cls.holder.stdin.close()
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=cls.wine_env())
        cls.holder.wait(timeout=60)
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def wine_env(cls):
        return dict(os.environ, CAMVUE_NEEDS_DISPLAY="1", WINEPREFIX=cls.prefix)

    @classmethod
    def wine_command(cls, args):
        return ["bash", ENV["WINE_RUN"], "--prefix", cls.prefix] + args

    def start(self, args, name, cwd=None):
        """Starts a program of the prefix, its output to a file (a pipe
        could be held open by a wine process it starts)."""
        out = open(os.path.join(self.work, name + ".log"), "wb")
        process = subprocess.Popen(self.wine_command(args), env=self.wine_env(), cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT)
        process.log, process.out = out.name, out
        return process

    def finish(self, process, timeout=300):
        """Waits for a started program; its output."""
        process.wait(timeout=timeout)
        process.out.close()
        with open(process.log, "rb") as f:
            return f.read().decode(errors="replace").replace("\r", "")

    def run_program(self, args, name, cwd=None):
        process = self.start(args, name, cwd)
        output = self.finish(process)
        return output, process.returncode

    def run_setup(self, lock=None):
        """Runs the installer and answers its boxes; (exit code, boxes)."""
        answer_args = [ENV["ANSWER"]] + (["--lock", lock] if lock else [])
        answer = self.start(answer_args, "answer")
        if lock:
            for _ in range(300):
                with open(answer.log, "rb") as f:
                    if b"lock: held" in f.read():
                        break
                time.sleep(0.1)
            else:
                self.fail("the install folder's plug-in could not be locked")
        setup = self.start([r"C:\setup\setup-rtsp-plugin-x64.exe"], "setup")
        setup_log = self.finish(setup, timeout=300)
        answers = self.finish(answer, timeout=120)
        boxes = [(c, t) for c, t in re.findall(r"caption: (.*)\ntext: (.*)\n", answers)]
        return setup.returncode, boxes, setup_log

    def registered(self):
        output, _ = self.run_program(["reg", "query", KEY], "reg")
        return dict(re.findall(r"^\s+(\w+)\s+REG_SZ\s+(.*?)\s*$", output, re.M))

    def assert_installed(self, context):
        for name, built in (("npcamvue.dll", ENV["PLUGIN"]),
                            (os.path.join("codec", "h264.dll"),
                             os.path.join(ENV["CODECS"], "h264.dll")),
                            (os.path.join("codec", "picdec.dll"),
                             os.path.join(ENV["CODECS"], "picdec.dll"))):
            self.assertTrue(filecmp.cmp(os.path.join(self.install, name), built, shallow=False),
                            "%s: %s differs from the build's" % (context, name))
        self.assertEqual(self.registered(), {
            "Description": "RTSP Plugin", "Path": INSTALL + r"\npcamvue.dll",
            "ProductName": "RTSP Plugin", "Vendor": "Velmora", "Version": "1.0.0.1"}, context)
        self.assertFalse(os.path.exists(self.temp), context)

    def test_install_edge_cases_and_the_installed_plugin_plays(self):
        code, boxes, log = self.run_setup()
        self.assertEqual(code, 0, log)
        self.assertEqual(boxes, [("Error", SUCCESS)], log)  # no caption: the system's
        self.assert_installed("fresh prefix")

        # An interrupted run left the first payload behind: refused, cleaned.
        os.makedirs(self.temp)
        with open(os.path.join(self.temp, "kiv.memory.dll"), "w") as f:
            f.write("left")
        code, boxes, log = self.run_setup()
        self.assertEqual((code, [t for _, t in boxes]), (0, [
            r"file 'C:\setup\setup_rtsp_plugin_temp\kiv.memory.dll' already exists."
            "Try to relocate this file"]), log)
        self.assertFalse(os.path.exists(self.temp))

        # A leftover plug-in payload: refused after the codecs; it stays.
        os.makedirs(self.temp)
        with open(os.path.join(self.temp, "npcamvue.dll"), "w") as f:
            f.write("left")
        code, boxes, log = self.run_setup()
        self.assertEqual([t for _, t in boxes], [
            r"file 'C:\setup\setup_rtsp_plugin_temp\npcamvue.dll' already exists."
            "Try to relocate this file"], log)
        self.assertEqual(os.listdir(self.temp), ["npcamvue.dll"])
        with open(os.path.join(self.temp, "npcamvue.dll")) as f:
            self.assertEqual(f.read(), "left")
        shutil.rmtree(self.temp)

        # Over an existing (changed) installation: rewritten.
        with open(os.path.join(self.install, "codec", "h264.dll"), "wb") as f:
            f.write(b"old")
        code, boxes, log = self.run_setup()
        self.assertEqual([t for _, t in boxes], [SUCCESS], log)
        self.assert_installed("re-install")

        # The installed plug-in in use by another program: still a success.
        code, boxes, log = self.run_setup(lock=INSTALL + r"\npcamvue.dll")
        self.assertEqual([t for _, t in boxes], [SUCCESS], log)
        self.assert_installed("plug-in in use")

        # A browser stand-in finds the plug-in by the registry and its MIME
        # type only, and it plays with the codecs from its "codec" folder.
        with start_camera("--pattern", "smpte100") as camera:
            page_dir = os.path.join(self.drive, "page")
            os.makedirs(page_dir)
            with open(os.path.join(page_dir, "page.html"), "w") as f:
                f.write('<embed type="%s" id="cam" width=320 height=240 url="%s" '
                        'autostart="true">' % (MIME, camera.url("/h264")))
            with open(os.path.join(page_dir, "steps.txt"), "w") as f:
                f.write("wait 4000\nsave s\nstats\nquit\n")
            out, code = self.run_program([ENV["PAGE_HOST"], "--steps", "steps.txt", "page.html"],
                                 "page-host", cwd=page_dir)
        self.assertEqual(code, 0, out)
        self.assertIn("plug-in %s\\npcamvue.dll for %s" % (INSTALL, MIME), out)
        self.assertRegex(out, r"cam picture 320x240 frames [1-9]\d*")
        # Decoded pictures on the screen: the codecs were found.
        self.assertGreaterEqual(bars_seen(os.path.join(page_dir, "s", "cam.png")), 6, out)


if __name__ == "__main__":
    unittest.main()
