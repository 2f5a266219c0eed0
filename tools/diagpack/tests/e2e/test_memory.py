"""Runs under an address-space limit (prlimit --as), as on a host short of
memory: a large input costs about its own size, and what does not fit
fails the one step that needed it, with its usual line, while the run goes
on to its archive."""

import os

import harness
from harness import os_failure, package_failure

MB = 1000 * 1000
# The limit of the reproduced failures: 150000 KiB.
LIMIT = 150000 * 1024
ENOMEM = "Cannot allocate memory (os error 12)"


def write_large(path, head, size, tail=b""):
    """|head|, then |size| bytes of "x", then |tail|."""
    block = b"x" * (1 << 20)
    with open(path, "wb") as f:
        f.write(head)
        for left in range(size, 0, -len(block)):
            f.write(block[:left])
        f.write(tail)


class MemoryLimitTest(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        harness.skip_without_address_space_limits(self)
        self.box.fake_package_manager("rpm", stdout="report\n")

    def run_limited(self):
        return self.box.run(through="prlimit --as=%d" % LIMIT, timeout=300)

    def test_large_inputs_read_whole_cost_about_their_size(self):
        """Each text the rules read whole is held once: 100 MB of
        configuration and of system-release fit where two or three copies
        would not, and a 200 MB os-release line that cannot match is
        passed over as it streams by."""
        logs = os.path.join(self.box.opt, "log")
        harness.write(os.path.join(logs, "jce.log"), "logged\n")
        write_large(self.box.config_path(),
                    b'{"logging": {"log_file": "/opt/log/jce.log"}, "pad": "', 100 * MB,
                    b'"}\n')
        write_large(self.box.etc_file("system-release", b""), b"", 100 * MB, b"\n")
        write_large(self.box.etc_file("os-release", b""), b"JUNK=", 200 * MB,
                    b'\nNAME="Large"\n')
        r = self.run_limited()
        self.assertEqual(r.err, "", r)
        self.assert_success(r)
        files = harness.collected(self.box)
        self.assertEqual(files["jce.log"], b"logged\n")
        report = files["osInfo.txt"]
        self.assertEqual(report.split(b"\n")[1], b"Version: Linux  Large")
        self.assertEqual(len(report.split(b"\n")[2]), len("System Release: ") + 100 * MB)

    def test_what_does_not_fit_fails_its_step_alone(self):
        """400 MB of package output and a 300 MB system-release cannot be
        held under the limit: those two steps fail, the run goes on."""
        write_large(self.box.etc_file("system-release", b""), b"", 300 * MB)
        self.box.fake_program("rpm", "head -c %d /dev/zero | tr '\\0' a" % (400 * MB))
        r = self.run_limited()
        self.assert_success(r)
        self.assertEqual([l for l in r.err.splitlines() if ENOMEM in l],
                         [os_failure(ENOMEM), package_failure(ENOMEM)], r)
        self.assertNotIn("osInfo.txt", harness.collected(self.box))


if __name__ == "__main__":
    harness.main()
