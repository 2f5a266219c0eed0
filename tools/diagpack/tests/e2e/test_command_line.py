"""The command line of the real executables: what only a real process can
show (exit statuses, which stream gets which text, argv[0], the environment,
streams that cannot be written). The texts themselves, and the colour a
terminal gets, are pinned by the unit tests."""

import os
import subprocess
import tempfile

import harness


class CommandLineTest(harness.SandboxCase):
    def assertNothingCreated(self):
        self.assertEqual(os.listdir(self.box.tmp), [])

    def test_help_and_usage_errors_end_the_process(self):
        """Help goes to standard output with status 0, a usage error to
        standard error with status 2; both name the program by argv[0]'s
        last component and start no run."""
        for args, status, usage in ((["-h"], 0, b"\nUsage: tool\n"),
                                    (["--help", "--bogus"], 0, b"\nUsage: tool\n"),
                                    (["--hel"], 2, b"\nUsage: tool --help\n"),
                                    ([b"a\xffb", "-h"], 2, b"\nUsage: tool\n")):
            with self.subTest(args=args):
                r = self.box.run(args=args, argv0="/some/where/tool")
                self.assertEqual(r.status, status, r)
                text, other = (r.out_bytes, r.err_bytes) if status == 0 else \
                    (r.err_bytes, r.out_bytes)
                self.assertIn(usage, text)
                self.assertEqual(other, b"")
                self.assertNothingCreated()

    def test_forced_colour_from_the_environment(self):
        r = self.box.run(args=["-V"], env={"CLICOLOR_FORCE": "1"})
        self.assertEqual(r.status, 2, r)
        self.assertTrue(r.err_bytes.startswith(b"\x1b[1m\x1b[31merror:\x1b[0m"), r)

    def test_unwritable_streams_keep_the_status(self):
        for args, redirect, status in ((["-h"], ">&-", 0), (["-h"], ">/dev/full", 0),
                                       (["x"], "2>&-", 2), (["x"], "2>/dev/full", 2)):
            r = self.box.run(args=args, shell_redirect=redirect)
            self.assertEqual(r.status, status, (redirect, r))
            self.assertNothingCreated()

    def test_help_into_a_pipe_whose_reader_has_gone(self):
        # The reader is closed before the tool starts, with SIGPIPE at its
        # default as Python leaves it for children.
        r_end, w_end = os.pipe()
        os.close(r_end)
        try:
            with tempfile.TemporaryDirectory() as tmp:
                proc = subprocess.run([harness.exe(), "-h"], stdout=w_end,
                                      stderr=subprocess.PIPE,
                                      env={"TMPDIR": tmp, "PATH": "/usr/bin:/bin"},
                                      timeout=60)
                self.assertEqual(os.listdir(tmp), [])
        finally:
            os.close(w_end)
        self.assertEqual(proc.returncode, 0, proc)
        self.assertEqual(proc.stderr, b"")


if __name__ == "__main__":
    harness.main()
