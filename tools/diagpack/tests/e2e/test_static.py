"""The release executables (make release) need nothing from the host: no
dynamic loader and no shared library, so each runs alone in an empty chroot.
Runs only when DIAGPACK_RELEASE_BIN_DIR names them (a release build sets it);
otherwise skipped, and says so."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness

RELEASE_BIN_DIR = os.environ.get("DIAGPACK_RELEASE_BIN_DIR", "")


class StaticExecutableTest(unittest.TestCase):
    def test_hardening_is_what_the_readme_says(self):
        for key in harness.COMPONENTS:
            path = os.path.join(RELEASE_BIN_DIR, "diagpack-" + key)
            segments = subprocess.run(["readelf", "-lW", path], capture_output=True,
                                      text=True, check=True).stdout
            dynamic = subprocess.run(["readelf", "-dW", path], capture_output=True,
                                     text=True, check=True).stdout
            notes = subprocess.run(["readelf", "-nW", path], capture_output=True,
                                   text=True, check=True).stdout
            self.assertIn("Elf file type is DYN", segments, path)  # static-pie
            self.assertNotIn("INTERP", segments, path)
            self.assertNotIn("(NEEDED)", dynamic, path)
            self.assertIn("GNU_RELRO", segments, path)
            self.assertRegex(dynamic, r"\(FLAGS\) +BIND_NOW\n", path)
            self.assertRegex(dynamic, r"\(FLAGS_1\) +Flags: NOW PIE\n", path)
            self.assertIn("Build ID:", notes, path)
            # The README claims no control-flow protection: the static C
            # library lacks it, so no property may say otherwise.
            properties = " ".join(re.findall(r"Properties: (.*)", notes))
            self.assertNotRegex(properties, r"IBT|SHSTK|BTI|PAC", path)

    def test_runs_alone_in_an_empty_chroot(self):
        harness.skip_under_wrapper(self, "the chroot holds no emulator")
        root = tempfile.mkdtemp(prefix="diagpack-chroot-")
        self.addCleanup(shutil.rmtree, root, True)
        os.chmod(root, 0o755)
        os.mkdir(os.path.join(root, "tmp"), 0o1777)
        shutil.copy2(os.path.join(RELEASE_BIN_DIR, "diagpack-jce"), root)
        proc = subprocess.run(
            ["unshare", "-m", "--propagation", "private", shutil.which("chroot"), root,
             "/diagpack-jce"],
            env={"LANG": "C"}, capture_output=True, text=True, timeout=120)
        self.assertEqual(proc.returncode, 0, proc)
        self.assertEqual(proc.stdout.splitlines(),
                         harness.success_lines("jce", "/tmp/jce-data.tar.gz"))
        missing = "skipping. No such file or directory (os error 2)"
        self.assertEqual(proc.stderr.splitlines(), [
            "Failed to get jce config files, " + missing,
            "Failed to get jce logs, " + missing,
            "Failed to get jce package details, " + missing])
        archive = os.path.join(root, "tmp", "jce-data.tar.gz")
        names = [e[0] for e in harness.python_entries(archive)]
        self.assertEqual(names, ["jce-data", "jce-data/osInfo.txt"])
        self.assertEqual(harness.gnu_tar_names(archive), ["jce-data/", "jce-data/osInfo.txt"])
        self.assertEqual(os.listdir(os.path.join(root, "tmp")), ["jce-data.tar.gz"])


if __name__ == "__main__":
    if not RELEASE_BIN_DIR:
        print("SKIPPED: DIAGPACK_RELEASE_BIN_DIR is unset: no release executables "
              "to check (make release builds them)")
        sys.exit(harness.SKIP)
    harness.main()
