"""A run under the address-space limit of the reproduced failures (prlimit
--as, 150000 KiB): each large text costs about its own size, and what does
not fit fails only the step that needed it, with its usual line."""

import os

import harness
from harness import package_failure

MB = 1000 * 1000


def write_large(path, head, size, tail=b""):
    with open(path, "wb") as f:
        f.write(head)
        for left in range(size, 0, -MB):
            f.write(b"x" * min(left, MB))
        f.write(tail)


class MemoryLimitTest(harness.SandboxCase):
    def test_large_inputs_cost_about_their_size(self):
        """100 MB of configuration and of system-release fit, as does a 200 MB
        os-release line that cannot match; 400 MB of package output cannot."""
        harness.skip_under_wrapper(self, "the address space is the wrapper's")
        if os.environ.get("DIAGPACK_SANITIZED"):  # set by CMake
            self.skipTest("a sanitizer build reserves address space of its own")
        harness.write(os.path.join(self.box.opt, "log", "jce.log"), "logged\n")
        write_large(self.box.config_path(),
                    b'{"logging": {"log_file": "/opt/log/jce.log"}, "pad": "', 100 * MB, b'"}')
        write_large(self.box.etc_file("system-release", ""), b"", 100 * MB)
        write_large(self.box.etc_file("os-release", ""), b"JUNK=", 200 * MB, b'\nNAME="Big"\n')
        self.box.fake_program("rpm", "head -c %d /dev/zero | tr '\\0' a" % (400 * MB))
        r = self.box.run(through="prlimit --as=%d" % (150000 * 1024), timeout=300)
        self.assertEqual(r.err.splitlines(),
                         [package_failure("Cannot allocate memory (os error 12)")], r)
        self.assert_success(r)
        files = harness.collected(self.box)
        self.assertEqual(files["jce.log"], b"logged\n")
        self.assertEqual(files["osInfo.txt"].split(b"\n")[1:],
                         [b"Version: Linux  Big", b"System Release: " + b"x" * (100 * MB), b""])


if __name__ == "__main__":
    harness.main()
