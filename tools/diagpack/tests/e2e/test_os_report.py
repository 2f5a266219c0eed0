"""Stage 1: osInfo.txt from uname and the release files under /etc."""

import os

import harness
from harness import os_failure


def platform_line():
    raw = os.uname().release.encode("utf-8", "surrogateescape")
    release = raw.replace(b"\0", b"").decode("latin-1").encode("utf-8")
    return b"Platform: linux-" + release + b"\n"


class OsReportTest(harness.SandboxCase):
    def test_fedora_with_system_release(self):
        self.box.etc_file("os-release", 'NAME="Fedora Linux"\nVERSION_ID=40\n')
        self.box.etc_file("system-release", "Fedora release 40 (Forty)\n")
        r = self.box.run()
        self.assertNotIn(os_failure(), r.err, r)
        self.assertEqual(harness.collected(self.box)["osInfo.txt"], platform_line() +
                         b"Version: Linux 40 Fedora Linux\n"
                         b"System Release: Fedora release 40 (Forty)\n\n")


if __name__ == "__main__":
    harness.main()
