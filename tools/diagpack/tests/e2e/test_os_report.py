"""Stage 1: osInfo.txt from uname and the release files under /etc."""

import os

import harness
from harness import Sandbox, os_failure


def platform_line():
    raw = os.uname().release.encode("utf-8", "surrogateescape")
    release = raw.replace(b"\0", b"").decode("latin-1").encode("utf-8")
    return b"Platform: linux-" + release + b"\n"


def etc_dir(box, name):
    """Makes /etc/<name> a directory in the run's view."""
    path = box.etc_file(name, Sandbox.ABSENT)
    os.unlink(path)
    os.mkdir(path)


class OsReportTest(harness.SandboxCase):
    def run_report(self, key="jce"):
        """Runs the tool; returns (osInfo.txt bytes or None, stderr lines)."""
        r = self.box.run(key)
        self.assertEqual(r.status, 0, r)
        return harness.collected(self.box, key).get("osInfo.txt"), r.err.splitlines()

    def assert_no_failure(self, err):
        self.assertEqual([l for l in err if l.startswith(os_failure())], [])

    def test_fedora_with_system_release(self):
        self.box.etc_file("os-release", 'NAME="Fedora Linux"\nVERSION_ID=40\n')
        self.box.etc_file("system-release", "Fedora release 40 (Forty)\n")
        report, err = self.run_report()
        self.assertEqual(report, platform_line() +
                         b"Version: Linux 40 Fedora Linux\n"
                         b"System Release: Fedora release 40 (Forty)\n\n")
        self.assert_no_failure(err)

    def test_lsb_release_only(self):
        self.box.etc_file("lsb-release", "DISTRIB_ID=Debian\nDISTRIB_RELEASE=12\n")
        report, _ = self.run_report()
        self.assertEqual(report, platform_line() + b"Version: Linux 12 Debian\n")

    def test_system_release_directory_fails_without_report(self):
        etc_dir(self.box, "system-release")
        report, err = self.run_report()
        self.assertIn(os_failure("Is a directory (os error 21)"), err)
        self.assertIsNone(report)


if __name__ == "__main__":
    harness.main()
