"""The collection run as a whole: the output directory, banners, failure
lines, exit statuses and the process prelude."""

import os
import shutil
import signal
import tempfile
import threading
import time

import harness
from harness import banners, config_failure, log_failure, package_failure, success_lines


class OutputDirectoryTest(harness.SandboxCase):
    def test_what_stops_the_run_at_the_output_directory(self):
        """Status 1, one line on standard error and nothing else: what was
        at the output directory's path stays as it was and nothing is made."""
        tmp, out = self.box.tmp, self.box.output_dir()
        odd = os.path.join(tmp.encode(), b"\xff")
        nope, not_a_dir = os.path.join(tmp, "nope"), os.path.join(self.box.root, "file")
        harness.write(not_a_dir, "")
        failed = "Failed to create output directory %s/jce-data due to: %s.\n"
        tree = lambda: sorted((d, sorted(ds + fs)) for d, ds, fs in os.walk(tmp.encode()))
        for what, make, tmpdir, pre, err in (
                ("a directory", lambda: os.mkdir(out), None, "",
                 "Output directory %s already exists.\n" % out),
                ("a file", lambda: harness.write(out, "x"), None, "",
                 "Output directory %s already exists.\n" % out),
                ("a link to a directory", lambda: os.symlink(tmp, out), None, "",
                 "Output directory %s already exists.\n" % out),
                ("a dangling link", lambda: os.symlink("/nonexistent/target", out), None, "",
                 failed % (tmp, "File exists (os error 17)")),
                ("a directory below a name that is not UTF-8",
                 lambda: os.makedirs(os.path.join(odd, b"jce-data")), odd, "",
                 "Output directory %s/\ufffd/jce-data already exists.\n" % tmp),
                ("a TMPDIR whose name is not UTF-8", lambda: os.mkdir(odd), odd, "",
                 "Failed to create output directory due to conversion issues.\n"),
                ("a missing TMPDIR", lambda: None, nope, "",
                 failed % (nope, "No such file or directory (os error 2)")),
                ("a TMPDIR that is a file", lambda: None, not_a_dir, "",
                 failed % (not_a_dir, "Not a directory (os error 20)")),
                ("a read-only tmpfs", lambda: None, None, "mount -t tmpfs -o ro tmpfs '%s'" % tmp,
                 failed % (tmp, "Read-only file system (os error 30)")),
                ("a read-only bind mount", lambda: None, None,
                 "mount --bind '{0}' '{0}' && mount -o remount,ro,bind '{0}'".format(tmp),
                 failed % (tmp, "Read-only file system (os error 30)")),
                ("no inode left", lambda: None, None,
                 harness.tmpfs_shell(tmp, "1m", "nr_inodes=1"),
                 failed % (tmp, "No space left on device (os error 28)"))):
            with self.subTest(what):
                shutil.rmtree(tmp)
                os.mkdir(tmp)
                os.chmod(tmp, 0o1777)
                make()
                before = tree()
                r = self.box.run(tmpdir=tmpdir, pre=pre)
                self.assertEqual((r.status, r.out, r.err_bytes), (1, "", err.encode()), r)
                self.assertEqual(tree(), before)

    def test_where_the_archive_goes(self):
        """TMPDIR with a trailing slash, empty (the working directory) and
        unset (/tmp: a private one here, into which the sandbox and the
        executable, which may lie below the host's /tmp, are bound back)."""
        private = os.path.join(self.box.root, "private-tmp")
        os.mkdir(private)
        keep = " ".join("'%s'" % p for p in (self.box.root, os.path.dirname(harness.exe())))
        private_tmp = "\n".join([
            "mount --rbind /tmp /mnt",
            "mount --bind '%s' /tmp" % private,
            "for p in %s; do case \"$p\" in /tmp/*)" % keep,
            '  mkdir -p "$p" && mount --bind "/mnt/${p#/tmp/}" "$p";; esac; done',
        ])
        for tmpdir, pre, where, shown in (
                (self.box.tmp + "/", "", self.box.tmp, self.box.archive_path()),
                ("", "", self.box.work, "jce-data.tar.gz"),
                (None, private_tmp, private, "/tmp/jce-data.tar.gz")):
            with self.subTest(tmpdir=tmpdir):
                r = self.box.run(env={"TMPDIR": tmpdir}, pre=pre)
                self.assertEqual(r.out.splitlines()[-1],
                                 "Logs and config can be found at " + shown, r)
                self.assertTrue(os.path.isfile(os.path.join(where, "jce-data.tar.gz")))


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
        """Its banner, configuration file, log failure line, package query,
        report and archive; the other components' files stay out."""
        self.box.fake_package_manager("rpm", stdout="info\n")
        for key in harness.COMPONENTS:
            self.box.log_config("/opt/no-%s/x.log" % key, key)
        for key in harness.COMPONENTS:
            with self.subTest(key=key):
                r = self.box.run(key=key)
                files = self.assert_archived(r, key)
                self.assertEqual(r.err.splitlines(),
                                 [log_failure("No such file or directory (os error 2)", key)], r)
                self.assertEqual(self.box.recorded_argv("rpm")[1:], ["-qi", "quorvane-" + key])
                top = key + "-data"
                self.assertEqual(sorted(files), sorted([top, top + "/osInfo.txt",
                                                        top + "/%sPackageInfo.txt" % key,
                                                        top + "/quorvane-%s.cfg" % key]))
                self.assertEqual((files[top + "/%sPackageInfo.txt" % key],
                                  files[top + "/quorvane-%s.cfg" % key]),
                                 (b"info\n", harness.read(self.box.config_path(key))))


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
        fds = "/proc/%s/fd"
        holders = harness.pids_where(lambda pid: any(
            os.readlink(os.path.join(fds % pid, fd)) == copy for fd in os.listdir(fds % pid)))
        if not holders:
            self.fail("the copy ended before it could be interrupted")
        os.kill(holders[0], signal.SIGINT)
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
