"""The command line of the real executables: help, usage errors, colours,
and the exit status when the text cannot be written."""

import os
import subprocess
import tempfile

import harness

HELP = (b"Collects Quorvane SDK logs and config files\n"
        b"\n"
        b"Usage: diagpack-jce\n"
        b"\n"
        b"Options:\n"
        b"  -h, --help  Print help\n")

HEL_ERROR = (b"error: unexpected argument '--hel' found\n"
             b"\n"
             b"  tip: a similar argument exists: '--help'\n"
             b"\n"
             b"Usage: diagpack-jce --help\n"
             b"\n"
             b"For more information, try '--help'.\n")


def unexpected(echo):
    return (b"error: unexpected argument '" + echo + b"' found\n\nUsage: diagpack-jce"
            b"\n\nFor more information, try '--help'.\n")


class CommandLineTest(harness.SandboxCase):
    def assertNothingCreated(self):
        self.assertEqual(os.listdir(self.box.tmp), [])

    def test_help_short_and_long_are_identical(self):
        for args in (["-h"], ["--help"], ["-hx", "junk"], ["--help", "--bogus"]):
            r = self.box.run(args=args, argv0="diagpack-jce")
            self.assertEqual(r.status, 0, r)
            self.assertEqual(r.out_bytes, HELP, args)
            self.assertEqual(r.err_bytes, b"", args)
            self.assertNothingCreated()

    def test_usage_error(self):
        r = self.box.run(args=["--hel"], argv0="/some/where/diagpack-jce")
        self.assertEqual(r.status, 2, r)
        self.assertEqual(r.err_bytes, HEL_ERROR)
        self.assertEqual(r.out_bytes, b"")
        self.assertNothingCreated()

    def test_bad_token_before_help_decides(self):
        r = self.box.run(args=[b"a\xffb", "-h"], argv0="diagpack-jce")
        self.assertEqual(r.status, 2, r)
        self.assertEqual(r.err_bytes, unexpected(b"a\xef\xbf\xbdb"))
        self.assertNothingCreated()

    def test_lone_double_dash_starts_the_run(self):
        r = self.box.run(args=["--"])
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines()[0], "Collecting os info", r)

    def test_forced_colour(self):
        r = self.box.run(args=["-h"], argv0="diagpack-jce",
                         env={"CLICOLOR_FORCE": "1"})
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out_bytes.split(b"\n")[4],
                         b"\x1b[1m\x1b[4mOptions:\x1b[0m")
        self.assertEqual(r.out_bytes.split(b"\n")[2],
                         b"\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mdiagpack-jce\x1b[0m")
        r = self.box.run(args=["-V"], argv0="diagpack-jce",
                         env={"CLICOLOR_FORCE": "1"})
        self.assertEqual(r.status, 2, r)
        self.assertTrue(r.err_bytes.startswith(
            b"\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m-V\x1b[0m' found\n"), r)

    def test_unwritable_streams_keep_the_status(self):
        for args, redirect, status in ((["-h"], ">&-", 0), (["-h"], ">/dev/full", 0),
                                       (["x"], "2>&-", 2), (["x"], "2>/dev/full", 2)):
            r = self.box.run(args=args, shell_redirect=redirect)
            self.assertEqual(r.status, status, (redirect, r))
            self.assertNothingCreated()

    def test_help_into_a_pipe_whose_reader_has_gone(self):
        # Through the harness: the status of the tool, not of the reader.
        r = self.box.run(args=["-h"],
                         shell_redirect="| (exec <&-; true); (exit ${PIPESTATUS[0]})")
        self.assertEqual(r.status, 0, r)
        # And deterministically: the reader is closed before the tool starts,
        # with SIGPIPE at its default as Python leaves it for children.
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

    def test_colour_follows_each_stream_on_a_terminal(self):
        import pty
        master, slave = pty.openpty()
        try:
            with tempfile.TemporaryDirectory() as tmp, \
                    tempfile.TemporaryFile() as err_file:
                env = {"TMPDIR": tmp, "PATH": "/usr/bin:/bin", "TERM": "xterm"}
                # Help on the terminal: coloured.
                proc = subprocess.run([harness.exe(), "-h"], stdout=slave,
                                      stderr=err_file, env=env, timeout=60)
                self.assertEqual(proc.returncode, 0)
                seen = os.read(master, 65536)
                self.assertIn(b"\x1b[1m\x1b[4mUsage:\x1b[0m", seen)
                # The error to a file while standard output is the terminal.
                proc = subprocess.run([harness.exe(), "--hel"], stdout=slave,
                                      stderr=err_file, env=env, timeout=60)
                self.assertEqual(proc.returncode, 2)
                err_file.seek(0)
                self.assertEqual(err_file.read(), HEL_ERROR)
                self.assertEqual(os.listdir(tmp), [])
        finally:
            os.close(master)
            os.close(slave)


if __name__ == "__main__":
    harness.main()
