"""The collection run as a whole: the output directory, banners, failure
lines, exit statuses and the process prelude."""

import os
import signal
import tempfile
import threading
import time

import harness
from harness import banners, config_failure, log_failure, package_failure, success_lines


class OutputDirectoryTest(harness.SandboxCase):
    def test_existing_directory_stops_the_run(self):
        os.mkdir(self.box.output_dir())
        r = self.box.run()
        self.assertEqual(r.status, 1, r)
        self.assertEqual(r.out, "")
        self.assertEqual(r.err, "Output directory %s already exists.\n" % self.box.output_dir())
        self.assertEqual(os.listdir(self.box.output_dir()), [])

    def test_existing_file_or_link_stops_the_run(self):
        harness.write(self.box.output_dir(), "x")
        r = self.box.run()
        self.assertEqual((r.status, r.out), (1, ""), r)
        self.assertIn("already exists.", r.err)
        os.unlink(self.box.output_dir())
        os.symlink(self.box.tmp, self.box.output_dir())
        r = self.box.run()
        self.assertEqual(r.err, "Output directory %s already exists.\n" % self.box.output_dir())

    def test_dangling_link_fails_creation_with_eexist(self):
        os.symlink("/nonexistent/target", self.box.output_dir())
        r = self.box.run()
        self.assertEqual(r.status, 1, r)
        self.assertEqual(
            r.err, "Failed to create output directory %s due to: File exists (os error 17).\n"
            % self.box.output_dir())
        self.assertEqual(r.out, "")

    def test_missing_tmpdir_is_not_created(self):
        missing = os.path.join(self.box.root, "nope")
        r = self.box.run(tmpdir=missing)
        self.assertEqual(r.status, 1, r)
        self.assertEqual(
            r.err, "Failed to create output directory %s/jce-data due to: "
            "No such file or directory (os error 2).\n" % missing)
        self.assertFalse(os.path.exists(missing))

    def test_tmpdir_with_trailing_slash_is_joined_once(self):
        r = self.box.run(tmpdir=self.box.tmp + "/")
        self.assertEqual(r.status, 0, r)
        self.assertNotIn("//", r.out + r.err)

    def test_empty_tmpdir_means_working_directory(self):
        r = self.box.run(tmpdir="")
        self.assertEqual(r.status, 0, r)
        work = os.listdir(self.box.work)
        self.assertTrue("jce-data" in work or "jce-data.tar.gz" in work, work)
        if "jce-data.tar.gz" in work:
            self.assertIn("Logs and config can be found at jce-data.tar.gz", r.out.splitlines())

    def test_unset_tmpdir_means_slash_tmp(self):
        # /tmp of the namespace is the host's /tmp: give the run a private
        # one. The sandbox and the executable may themselves lie below /tmp,
        # so they are bound back into the private /tmp at their own paths.
        private = os.path.join(self.box.root, "private-tmp")
        os.mkdir(private)
        keep = " ".join("'%s'" % p for p in (self.box.root, os.path.dirname(harness.exe())))
        pre = "\n".join([
            "mount --rbind /tmp /mnt",
            "mount --bind '%s' /tmp" % private,
            "for p in %s; do case \"$p\" in /tmp/*)" % keep,
            '  mkdir -p "$p" && mount --bind "/mnt/${p#/tmp/}" "$p";; esac; done',
        ])
        r = self.box.run(env={"TMPDIR": None}, pre=pre)
        self.assertEqual(r.status, 0, r)
        self.assertTrue(set(os.listdir(private)) & {"jce-data", "jce-data.tar.gz"})
        if "jce-data.tar.gz" in os.listdir(private):
            self.assertIn("Logs and config can be found at /tmp/jce-data.tar.gz", r.out)

    def test_path_that_is_not_utf8_is_a_conversion_error(self):
        odd = os.path.join(self.box.tmp.encode(), b"\xff")
        os.mkdir(odd)
        r = self.box.run(tmpdir=odd)
        self.assertEqual(r.status, 1, r)
        self.assertEqual(r.err, "Failed to create output directory due to conversion issues.\n")
        self.assertEqual(r.out, "")
        # Nothing stays behind to stop the next run.
        self.assertEqual(os.listdir(odd), [])

    def test_already_exists_shows_invalid_utf8_as_replacement(self):
        odd = os.path.join(self.box.tmp.encode(), b"\xff")
        os.makedirs(os.path.join(odd, b"jce-data"))
        r = self.box.run(tmpdir=odd)
        self.assertEqual(r.status, 1, r)
        self.assertEqual(r.err_bytes, b"Output directory " + self.box.tmp.encode()
                         + b"/\xef\xbf\xbd/jce-data already exists.\n")


class RunTest(harness.SandboxCase):
    def test_host_without_sdk_prints_banners_and_three_failures(self):
        """The README's run on a Debian build host, line for line."""
        self.box.etc_file("os-release", 'NAME="Debian GNU/Linux"\nVERSION_ID="12"\n')
        self.box.fake_package_manager("dpkg-query", status=1,
                                      stderr="dpkg-query: package 'quorvane-jce' is not installed\n")
        r = self.box.run()
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines(),
                         harness.success_lines("jce", self.box.archive_path()), r)
        missing = "No such file or directory (os error 2)"
        self.assertEqual(r.err.splitlines(), [
            config_failure(missing), log_failure(missing),
            package_failure("dpkg-query failed for package: quorvane-jce")], r)

    def test_each_executable_uses_its_own_names(self):
        for key in harness.COMPONENTS:
            with self.subTest(key=key):
                r = self.box.run(key=key)
                self.assertEqual(r.status, 0, r)
                self.assertEqual(r.out.splitlines()[3], "Collecting %s info" % key)
                self.assertIn(config_failure("No such file or directory (os error 2)", key),
                              r.err.splitlines())
                names = os.listdir(self.box.tmp)
                self.assertTrue({"%s-data" % key, "%s-data.tar.gz" % key} & set(names), names)

    def test_reader_gone_does_not_stop_the_run(self):
        r = self.box.run(shell_redirect="2>&1 | true; exit ${PIPESTATUS[0]}")
        self.assertEqual(r.status, 0, r)
        self.assertIn("osInfo.txt", harness.collected(self.box))


MIB = 1 << 20


class InterruptTest(harness.SandboxCase):
    def interrupt_copy(self, name):
        """Runs the tool; once its copy <output dir>/|name| has passed 64 MiB,
        sends SIGINT to the process that has it open and watches the copy
        until the run ends. Returns the run, the copy's size just after the
        signal, the largest size seen and the seconds from the signal on."""
        copy = os.path.join(self.box.output_dir(), name)
        done = {}
        thread = threading.Thread(target=lambda: done.update(r=self.box.run()))
        thread.start()
        size = lambda: os.stat(copy).st_size if os.path.exists(copy) else 0
        while thread.is_alive() and size() < 64 * MIB:
            time.sleep(0.001)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                fds = "/proc/%s/fd" % pid
                if any(os.readlink(os.path.join(fds, fd)) == copy for fd in os.listdir(fds)):
                    os.kill(int(pid), signal.SIGINT)
                    break
            except OSError:
                continue
        else:
            self.fail("the copy ended before it could be interrupted")
        signalled = time.monotonic()
        at_signal = largest = size()
        while thread.is_alive():
            largest = max(largest, size())
            time.sleep(0.001)
        thread.join()
        return done["r"], at_signal, largest, time.monotonic() - signalled

    def test_sigint_during_a_multi_gib_copy(self):
        """Copies go in bounded pieces and stop at the first piece boundary
        after the signal: the run ends by SIGINT long before a copy of 2 GiB
        (written out, so no file system can shortcut it) could have ended,
        and leaves nothing behind."""
        harness.skip_under_wrapper(self, "the copy must outpace the watcher")
        big = os.path.join(self.box.opt, "big")
        with open(big, "wb") as f:
            for _ in range(2048):
                f.write(bytes(MIB))
        os.makedirs(os.path.join(self.box.opt, "log"))
        for name, place, stages in (("quorvane-jce.cfg", self.box.config_path(), 2),
                                    ("jce.log", self.box.opt + "/log/jce.log", 3)):
            with self.subTest(copy=name):
                if stages == 3:  # a small configuration, no longer a link to big
                    os.unlink(self.box.config_path())
                    self.box.log_config("/opt/log/jce.log")
                os.link(big, place)
                r, at_signal, largest, seconds = self.interrupt_copy(name)
                self.assertEqual(r.status, 128 + signal.SIGINT, r)
                self.assertEqual((r.out.splitlines(), r.err), (banners()[:stages], ""), r)
                self.assertEqual(os.listdir(self.box.tmp), [])
                # At most a few pieces after the signal, and in good time.
                self.assertLess(largest - at_signal, 256 * MIB, r)
                self.assertLess(seconds, 10, r)

    def test_stop_signal_while_the_package_manager_runs(self):
        """The package manager signals the tool and sleeps: the tool stops it
        (and its own child), removes what it made and ends by that signal;
        the next run collects as usual."""
        pids = os.path.join(self.box.root, "pids")
        for signo in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=signo.name):
                self.box.fake_program("rpm", 'sleep 8 & echo $$ $! > "%s"\n'
                                      'kill -%d $PPID; wait' % (pids, signo))
                started = time.monotonic()
                r = self.box.run()
                self.assertLess(time.monotonic() - started, 5)
                self.assertEqual(r.status, 128 + signo, r)
                self.assertNotIn("package details", r.err)
                self.assertEqual(os.listdir(self.box.tmp), [])
                for pid in harness.read(pids).split():
                    try:  # the state follows the parenthesised command name
                        state = harness.read(b"/proc/%s/stat" % pid).rsplit(b")", 1)[1].split()[0]
                    except FileNotFoundError:
                        state = b"gone"
                    self.assertIn(state, (b"gone", b"Z"), pid)

        self.box.fake_package_manager("rpm", stdout="Name: quorvane-jce\n")
        r = self.box.run()
        self.assertEqual(r.out.splitlines(),
                         harness.success_lines("jce", self.box.archive_path()), r)

    def test_sigterm_while_a_release_file_is_read(self):
        """An endless writer keeps os-release, a FIFO, full (holding it open
        for reading too, it never sees end of file). SIGTERM (a background
        job of sh ignores SIGINT), sent once the tool has it open, ends the
        run cleanly."""
        harness.skip_under_wrapper(self, "the signal must reach the tool itself")
        os.unlink(self.box.etc_file("os-release", ""))
        os.mkfifo(os.path.join(self.box.etc_upper, "os-release"))
        pre = "exec 3<>/etc/os-release; yes JUNK >&3 & writer=$!; exec 3>&-"
        signal_when_reading = (
            "sh -c '\"$@\" & pid=$!; "
            "until ls -l /proc/$pid/fd 2>/dev/null | grep -q os-release; do sleep 0.01; done; "
            "kill -TERM $pid; wait $pid' sh")
        r = self.box.run(pre=pre, through=signal_when_reading, post="kill $writer",
                         timeout=60)
        self.assertEqual(r.status, 128 + signal.SIGTERM, r)
        self.assertEqual(r.out, "Collecting os info\n", r)
        self.assertEqual(os.listdir(self.box.tmp), [])

    def test_a_signal_the_caller_blocked_or_ignored_stays_so(self):
        """A caller that blocks SIGINT, or ignores SIGHUP (nohup), keeps it
        from ending the run."""
        harness.skip_under_wrapper(self, "the caller's choice is set for the tool itself")
        block = ("python3 -c 'import os, signal, sys; "
                 "signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT]); "
                 "os.execv(sys.argv[1], sys.argv[1:])'")
        for name, through in (("INT", block), ("HUP", "nohup")):
            with self.subTest(signal=name):
                self.box.fake_program("rpm", "kill -%s $PPID; echo report" % name)
                self.assert_success(self.box.run(through=through))


class StatusLineTest(harness.SandboxCase):
    """On a terminal a long phase shows one line on standard error, taken
    away again before anything else is printed; elsewhere nothing changes."""

    def waiting_run(self, seconds, term, stdout, stderr):
        """A run whose package manager takes |seconds| and whose config and
        logs are missing, so both streams have lines. Returns them as
        printed, both streams in order."""
        self.box.fake_program("rpm", "sleep %s; echo report" % seconds)
        r = self.box.run(env={"TERM": term}, stdout=stdout, stderr=stderr)
        self.assertEqual(r.status, 0, r)
        out = success_lines("jce", self.box.archive_path())
        enoent = "No such file or directory (os error 2)"
        return out[:2] + [config_failure(enoent)] + out[2:3] + [log_failure(enoent)] + out[3:]

    def test_waiting_line_on_a_terminal_leaves_todays_screen(self):
        terminal = harness.Terminal()
        lines = self.waiting_run(4, "xterm", terminal.fd, terminal.fd)
        seen = terminal.read()
        self.assertIn(b"\rwaiting for rpm -qi quorvane-jce: 3 s, Ctrl-C stops cleanly", seen)
        self.assertNotIn(b"\x1b", seen)
        self.assertEqual(harness.screen(seen), lines)

    def test_elsewhere_both_streams_are_todays(self):
        """Standard error in a file (standard output on a terminal), and a
        terminal whose TERM is "dumb"."""
        with tempfile.TemporaryFile() as err:
            terminal = harness.Terminal()
            lines = self.waiting_run(2.5, "xterm", terminal.fd, err)
            err.seek(0)
            failed = [l.startswith("Failed") for l in lines]
            self.assertEqual(err.read(), "".join(
                l + "\n" for l, f in zip(lines, failed) if f).encode())
            self.assertEqual(terminal.read(), "".join(
                l + "\r\n" for l, f in zip(lines, failed) if not f).encode())
        os.unlink(self.box.archive_path())
        terminal = harness.Terminal()
        lines = self.waiting_run(2.5, "dumb", terminal.fd, terminal.fd)
        self.assertEqual(terminal.read(), "".join(l + "\r\n" for l in lines).encode())


if __name__ == "__main__":
    harness.main()
