"""Faults from outside while a run collects: a temporary directory that
fills up at each step, an output directory taken away or frozen during the
run, a file that changes size under the archive step, standard streams that
cannot be written, and two runs at once.

Whatever happens, a run never hangs, ends with its documented status, prints
each failing step's own line and never the success line for an archive
that an independent reader rejects."""

import os
import shutil
import signal
import threading
import time

import harness
from harness import (PACKAGE_REPORT as REPORT, archive_failure, banners, config_failure,
                     log_failure, os_failure, package_failure)

ENOSPC = "No space left on device (os error 28)"
PAGE = 4096
MIB = 1024 * 1024


class FaultTestCase(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        self.kept = os.path.join(self.box.root, "kept")
        self.logs = os.path.join(self.box.opt, "log")
        os.makedirs(self.logs)

    def add_log(self, content, name="jce.log"):
        harness.write(os.path.join(self.logs, name), content)
        self.box.log_config("/opt/log/jce.log")

    def run_on_tmpfs(self, free=None, size="1m", **kwargs):
        """A run whose TMPDIR is a fresh tmpfs of |size|, with |free| bytes
        left free by a filler file when given. What the run left there is
        copied to self.kept before the namespace (and the tmpfs) goes."""
        pre = harness.tmpfs_shell(self.box.tmp, size)
        if free is not None:
            pre += "\n" + harness.fill_shell(self.box.tmp, free)
        if os.path.exists(self.kept):
            shutil.rmtree(self.kept)
        return self.box.run(pre=pre, post=harness.keep_shell(self.box.tmp, self.kept),
                            **kwargs)

    def kept_path(self, *names):
        return os.path.join(self.kept, *names)

    def assert_outcome(self, r, kept=None):
        """The run ended normally and its archive step either succeeded with
        an archive that every reader accepts (the output directory gone) or
        printed its failure line and kept the output directory. |kept| is
        where the temporary directory's content can be found (default: the
        temporary directory itself). Returns the archive's entries, or None
        when the archive step failed."""
        where = kept or self.box.tmp
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines()[:4], banners(), r)
        archive = self.box.archive_path()
        success = "Logs and config can be found at " + archive
        if success in r.out.splitlines():
            self.assertEqual(r.out.splitlines(), harness.success_lines("jce", archive), r)
            self.assertFalse(os.path.lexists(os.path.join(where, "jce-data")), r)
            entries = harness.check_archive(os.path.join(where, "jce-data.tar.gz"),
                                            self.scratch)
            return {name: data for name, _, _, data in entries}
        self.assertEqual(r.out.splitlines(), banners(), r)
        self.assertTrue(r.err.splitlines()[-1].startswith(
            archive_failure(self.box.output_dir(), "")), r)
        self.assertTrue(os.path.isdir(os.path.join(where, "jce-data")), r)
        return None


class FullDiskTest(FaultTestCase):
    """TMPDIR on a small tmpfs that is full before a given step."""

    def setUp(self):
        harness.skip_under_wrapper(self, "its own files take the space counted here")
        super().setUp()

    def test_full_from_the_start(self):
        self.add_log("a log line\n" * 100)
        # The disk stays full: every step fails on its first byte.
        self.box.rpm_that("")
        r = self.run_on_tmpfs(free=0)
        self.assertEqual(r.err.splitlines(), [
            os_failure(ENOSPC), config_failure(ENOSPC), log_failure(ENOSPC),
            package_failure(ENOSPC), archive_failure(self.box.output_dir(), ENOSPC)], r)
        self.assertIsNone(self.assert_outcome(r, self.kept))
        # Each step created its file before it found no room.
        self.assertEqual(sorted(os.listdir(self.kept_path("jce-data"))),
                         ["jce.log", "jcePackageInfo.txt", "osInfo.txt", "quorvane-jce.cfg"])

        # The package manager frees the disk: the rest of the run succeeds,
        # with the empty files the earlier steps left.
        self.box.rpm_that('rm "$TMPDIR/filler"')
        r = self.run_on_tmpfs(free=0)
        self.assertEqual(r.err.splitlines(), [
            os_failure(ENOSPC), config_failure(ENOSPC), log_failure(ENOSPC)], r)
        files = self.assert_outcome(r, self.kept)
        self.assertEqual(files, {"jce-data": None, "jce-data/osInfo.txt": b"",
                                 "jce-data/quorvane-jce.cfg": b"", "jce-data/jce.log": b"",
                                 "jce-data/jcePackageInfo.txt": REPORT.encode()})

    def test_full_during_a_log_copy(self):
        log = os.urandom(MIB)
        self.add_log(log)
        self.box.rpm_that('rm "$TMPDIR/filler"')
        r = self.run_on_tmpfs(free=3 * PAGE)
        self.assertEqual(r.err.splitlines(), [log_failure(ENOSPC)], r)
        files = self.assert_outcome(r, self.kept)
        copy = files["jce-data/jce.log"]
        self.assertTrue(0 < len(copy) < len(log) and log.startswith(copy))
        self.assertIn("jce-data/quorvane-jce.cfg", files)
        self.assertEqual(files["jce-data/jcePackageInfo.txt"], REPORT.encode())

    def test_full_during_the_package_report(self):
        # The report takes what is left, so the archive finds no room either;
        # its bytes all come out when the stream is finished.
        self.add_log("")
        self.box.rpm_that("", stdout="r" * MIB)
        r = self.run_on_tmpfs(free=4 * PAGE)
        self.assertEqual(r.err.splitlines(), [
            package_failure(ENOSPC), archive_failure(self.box.output_dir(), ENOSPC)], r)
        self.assertIsNone(self.assert_outcome(r, self.kept))
        report = harness.read(self.kept_path("jce-data", "jcePackageInfo.txt"))
        self.assertTrue(0 < len(report) < MIB)
        self.assertEqual(report, b"r" * len(report))

    def test_no_inode_left(self):
        # Room for the output directory and one file: osInfo.txt. Every later
        # file, the archive included, cannot even be created.
        self.add_log("a log line\n")
        self.box.rpm_that("")
        r = self.run_on_tmpfs(size="1m,nr_inodes=3")
        self.assertEqual(r.err.splitlines(), [
            config_failure(ENOSPC), log_failure(ENOSPC), package_failure(ENOSPC),
            archive_failure(self.box.output_dir(), ENOSPC)], r)
        self.assertIsNone(self.assert_outcome(r, self.kept))
        self.assertEqual(os.listdir(self.kept), ["jce-data"])
        self.assertEqual(os.listdir(self.kept_path("jce-data")), ["osInfo.txt"])

    def test_archive_never_claims_a_partial_archive(self):
        """The package manager leaves k pages for the archive, for k up to
        the archive's size: the step succeeds with a complete archive or
        fails with the failure line, whichever part of the stream (during
        the walk or while ending it) meets the full disk."""
        # The package report is empty: it takes no room after the filler.
        self.add_log(os.urandom(288 * 1024))
        self.box.rpm_that("", stdout="")
        r = self.run_on_tmpfs(size="2m")
        self.assert_outcome(r, self.kept)
        size = os.path.getsize(self.kept_path("jce-data.tar.gz"))
        pages = -(-size // PAGE)
        # Room for a third or two thirds of it, then for its last few pages.
        for k in [pages // 3, 2 * pages // 3] + list(range(pages - 6, pages + 2)):
            with self.subTest(free_pages=k):
                self.box.rpm_that(harness.fill_shell("$TMPDIR", k * PAGE), stdout="")
                r = self.run_on_tmpfs(size="2m")
                files = self.assert_outcome(r, self.kept)
                if k * PAGE >= size + 512:
                    self.assertIsNotNone(files, r)
                    self.assertEqual(r.err, "", r)
                elif k * PAGE <= size - 512:
                    self.assertIsNone(files, r)
                    self.assertEqual(r.err.splitlines(),
                                     [archive_failure(self.box.output_dir(), ENOSPC)], r)


class FileSizeLimitTest(FaultTestCase):
    def test_write_beyond_the_limit_fails_the_step_and_the_run_goes_on(self):
        """SIGXFSZ is ignored, so the write fails with EFBIG in the step's own
        line; the package manager gets the signal back at its default."""
        harness.skip_under_wrapper(self, "its own files count against the limit")
        config = '{"logging": {"log_file": "/opt/log/jce.log"}, "pad": "%s"}' % ("p" * 8192)
        self.box.write_config(config)
        self.box.fake_program("rpm", "grep SigIgn /proc/self/status")
        r = self.box.run(pre="ulimit -f 4")
        self.assertEqual(r.err.splitlines(), [config_failure("File too large (os error 27)")], r)
        files = self.assert_outcome(r)
        self.assertEqual(files["jce-data/quorvane-jce.cfg"], config.encode()[:4096])
        ignored = int(files["jce-data/jcePackageInfo.txt"].split()[1], 16)
        self.assertEqual(ignored & (1 << (signal.SIGXFSZ - 1)), 0)


class ChangingDirectoriesTest(FaultTestCase):
    def test_output_directory_removed_during_the_run(self):
        self.box.rpm_that('rm -r "$out"')
        r = self.box.run()
        enoent = "No such file or directory (os error 2)"
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines(), banners(), r)
        self.assertEqual(r.err.splitlines()[-2:], [
            package_failure(enoent), archive_failure(self.box.output_dir(), enoent)], r)
        # What was written is closed properly: an archive without entries.
        archive = self.box.archive_path()
        self.assertTrue(harness.gzip_ok(archive))
        self.assertEqual(harness.tar_stream(archive), bytes(1024))
        self.assertFalse(os.path.lexists(self.box.output_dir()))

    def test_output_directory_made_read_only_during_the_run(self):
        self.box.rpm_that('mount --bind "$out" "$out" && mount -o remount,ro,bind "$out"')
        r = self.box.run()
        out_dir = self.box.output_dir()
        self.assertEqual(r.out.splitlines(),
                         harness.success_lines("jce", self.box.archive_path()), r)
        self.assertEqual(r.err.splitlines()[-2:], [
            package_failure("Read-only file system (os error 30)"),
            "Failed to clean up directory, " + out_dir], r)
        files = harness.check_archive(self.box.archive_path(), self.scratch)
        self.assertEqual([name for name, _, _, _ in files], ["jce-data", "jce-data/osInfo.txt"])
        self.assertEqual(os.listdir(out_dir), ["osInfo.txt"])


class FileChangingWhileArchivedTest(FaultTestCase):
    """A file of the output directory changes size while the archive step
    copies it (another process writes there). The header holds the size
    from the file's status and the data are read to the file's end."""

    def run_with_change(self, change):
        """The package manager leaves a 4 MiB file and a helper that waits
        until the archive step is busy with it, stops the tool, runs
        |change| on the file ($big) and lets the tool go on. The helper
        notes whether the tool had the file open at that moment. The file
        is random hex digits: they compress, so the encoder does not copy them
        into stored blocks at memory speed as it would random bytes, but
        slowly (a few MB/s), so the step stays on the file for about a
        second after the archive passes 512 KiB."""
        note = os.path.join(self.box.root, "changed")
        self.box.rpm_that(r'''
big="$out/big.log"; tool=$PPID
rm -f "$TMPDIR/jce-data.tar.gz"
head -c 1536K /dev/urandom | od -An -vtx1 | head -c 4M > "$big"
(
  n=0
  while [ "$(stat -c %%s "$TMPDIR/jce-data.tar.gz" 2>/dev/null || echo 0)" -lt 524288 ]; do
    n=$((n + 1)); [ $n -lt 6000 ] || exit 0
    sleep 0.01
  done
  kill -STOP $tool
  state=closed
  for f in /proc/$tool/fd/*; do [ "$(readlink "$f")" = "$big" ] && state=open; done
  %s
  echo $state > "%s"
  kill -CONT $tool
) </dev/null >/dev/null 2>&1 &''' % (change, note))
        r = self.box.run(timeout=120)
        if harness.read(note).strip() != b"open":
            self.skipTest("the archive step was not reading the file when it changed")
        return r

    SHRINK = 'truncate -s 64K "$big"'
    GROW = 'head -c 1M /dev/urandom >> "$big"'

    def test_file_that_shrinks_fails_the_walk_and_stays_readable(self):
        r = self.run_with_change(self.SHRINK)
        self.assertIsNone(self.assert_outcome(r), r)
        self.assertEqual(r.err.splitlines()[-1], archive_failure(
            self.box.output_dir(), "file ended before the size recorded in its header. "
            "Did the file change while appending?"), r)
        # The entry was filled up to its recorded size: readers keep step.
        archive = self.box.archive_path()
        self.assertTrue(harness.gzip_ok(archive))
        names = harness.gnu_tar_names(archive)
        self.assertIn("jce-data/big.log", names)

    def test_file_that_grows_is_archived_at_its_recorded_size(self):
        r = self.run_with_change(self.GROW)
        entries = self.assert_outcome(r)
        self.assertIsNotNone(entries, r)
        self.assertEqual(len(entries["jce-data/big.log"]), 4 << 20)


class StandardStreamsTest(FaultTestCase):
    """Streams that cannot be written change nothing but what is printed."""

    def test_unwritable_streams_leave_the_same_files(self):
        # One stage fails, so both streams have something to say.
        self.box.log_config("/opt/missing/jce.log")
        self.box.fake_package_manager("rpm", stdout=REPORT)
        reference = self.box.run()
        self.assertEqual(reference.status, 0, reference)
        expected = harness.collected(self.box)
        self.assertEqual(len(reference.err.splitlines()), 1, reference)
        cases = [
            (">/dev/full", "err"),
            ("2>/dev/full", "out"),
            (">&-", "err"),
            ("2>&-", "out"),
            ("<&- >&- 2>&-", None),
            # The reader of standard output (or of standard error) is gone.
            ("| (exec <&-; true); exit ${PIPESTATUS[0]}", "err"),
            ("2>&1 >/dev/null | (exec <&-; true); exit ${PIPESTATUS[0]}", None),
        ]
        for redirect, kept_stream in cases:
            with self.subTest(redirect=redirect):
                os.unlink(self.box.archive_path())
                r = self.box.run(shell_redirect=redirect, timeout=60)
                self.assertEqual(r.status, 0, r)
                if kept_stream == "out":
                    self.assertEqual(r.out, reference.out, r)
                elif kept_stream == "err":
                    self.assertEqual(r.err, reference.err, r)
                # Nothing the tool printed landed in a file it wrote.
                harness.check_archive(self.box.archive_path(), self.scratch)
                self.assertEqual(harness.collected(self.box), expected)
                self.assertFalse(os.path.lexists(self.box.output_dir()))


class TwoRunsAtOnceTest(FaultTestCase):
    def test_second_run_stops_and_the_first_is_unharmed(self):
        started = os.path.join(self.box.root, "rpm-started")
        self.add_log("first run's log\n")
        self.box.rpm_that('echo started >> "%s"; sleep 2' % started)
        first = {}
        thread = threading.Thread(target=lambda: first.update(r=self.box.run()))
        thread.start()
        deadline = time.monotonic() + 60
        while not os.path.exists(started) and time.monotonic() < deadline:
            time.sleep(0.02)
        # The second run lives in a namespace of its own over the same TMPDIR.
        second = self.box.run()
        thread.join()
        r = first["r"]

        self.assertEqual(second.status, 1, second)
        self.assertEqual(second.out, "", second)
        self.assertEqual(second.err, "Output directory %s already exists.\n"
                         % self.box.output_dir(), second)
        self.assertEqual(harness.read(started), b"started\n")

        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.err, "", r)
        files = self.assert_outcome(r)
        self.assertEqual(sorted(files), ["jce-data", "jce-data/jce.log",
                                         "jce-data/jcePackageInfo.txt", "jce-data/osInfo.txt",
                                         "jce-data/quorvane-jce.cfg"])
        self.assertEqual(files["jce-data/jce.log"], b"first run's log\n")


if __name__ == "__main__":
    harness.main()
