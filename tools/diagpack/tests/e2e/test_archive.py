"""The archive step: the archive beside the output directory, its entries
read back by independent readers, how it is created, its failures and the
removal of the output directory."""

import os
import stat
import subprocess
import tarfile

import harness
from harness import PACKAGE_REPORT as REPORT, banners


def first_header_name(archive):
    """The name field of the archive's first header, as stored."""
    return harness.tar_stream(archive)[:100].rstrip(b"\0")


class ArchiveTest(harness.SandboxCase):
    def every_stage_succeeds(self, plant=""):
        """A configuration, two log files (one sparse) and a package report;
        |plant| is shell that adds to the output directory before the
        archive step."""
        logs = os.path.join(self.box.opt, "quorvane", "log")
        os.makedirs(logs)
        harness.write(os.path.join(logs, "jce.log"), "line one\nline two\n")
        with open(os.path.join(logs, "jce.log.1"), "wb") as f:
            f.write(b"head of an old log\n")
            f.seek(512 * 1024)
            f.write(b"tail of an old log\n")
            f.truncate(1024 * 1024)
        self.box.log_config(self.box.inside(os.path.join(logs, "jce.log")))
        self.box.rpm_that(plant, stdout=REPORT)

    # --- a whole run -----------------------------------------------------------

    def test_successful_run_archives_and_removes_the_output_directory(self):
        # Beside what the stages collect, what the tar format treats apart: a
        # FIFO, an empty file, one of holes only, one of thirty data regions
        # (more than a header holds) and an entry name of exactly 100 bytes.
        self.every_stage_succeeds(
            'mkfifo "$out/fifo"; : > "$out/empty"; truncate -s 1M "$out/holes"\n'
            'for i in $(seq 0 29); do head -c 4096 /dev/urandom |'
            ' dd of="$out/thirty" bs=8192 seek=$i conv=notrunc status=none; done\n'
            'echo 100 > "$out/%s"' % ("n" * 91))
        r = self.box.run()
        files = self.assert_archived(r)
        self.assertIsNone(files["jce-data/fifo"])
        self.assertEqual((files["jce-data/empty"], files["jce-data/holes"]), (b"", bytes(1 << 20)))
        self.assertEqual(len(files["jce-data/thirty"]), 29 * 8192 + 4096)
        self.assertEqual(files["jce-data/" + "n" * 91], b"100\n")
        self.assertEqual(r.err, "", r)
        archive = self.box.archive_path()
        self.assertEqual(first_header_name(archive), b"jce-data/")
        self.assertEqual(harness.python_entries(archive)[0][1], tarfile.DIRTYPE)
        self.assertEqual(files["jce-data/jcePackageInfo.txt"], REPORT.encode())
        self.assertEqual(files["jce-data/jce.log"], b"line one\nline two\n")
        old = files["jce-data/jce.log.1"]
        self.assertEqual(len(old), 1024 * 1024)
        self.assertTrue(old.startswith(b"head of an old log\n"))
        self.assertEqual(old[512 * 1024:512 * 1024 + 19], b"tail of an old log\n")
        self.assertIn("jce-data/osInfo.txt", files)
        self.assertIn("jce-data/quorvane-jce.cfg", files)
        stream = harness.tar_stream(archive)
        self.assertEqual(len(stream) % 512, 0)
        self.assertEqual(stream[-1024:], bytes(1024))

    def test_empty_output_directory_gives_the_top_entry_only(self):
        self.box.etc_file("system-release", b"not \xff utf-8\n")
        self.box.fake_package_manager("rpm", stdout=b"\xff")
        r = self.box.run()
        archive = self.box.archive_path()
        self.assertEqual(r.out.splitlines()[-1],
                         "Logs and config can be found at " + archive, r)
        self.assertEqual(len(r.err.splitlines()), 4, r)
        self.assertEqual([e[0] for e in harness.check_archive(archive, self.scratch)],
                         ["jce-data"])
        self.assertEqual(first_header_name(archive), b"jce-data/")
        self.assertFalse(os.path.lexists(self.box.output_dir()))

    # --- creating the archive file --------------------------------------------

    def test_directory_at_the_archive_path(self):
        os.mkdir(self.box.archive_path())
        r = self.box.run()
        self.assert_archive_failed(r, "Is a directory (os error 21)")
        self.assertEqual(os.listdir(self.box.archive_path()), [])

    def test_planted_link_is_replaced_and_its_target_untouched(self):
        victim = os.path.join(self.box.root, "victim")
        harness.write(victim, "must survive", 0o644)
        os.symlink(victim, self.box.archive_path())
        r = self.box.run()
        self.assertEqual(r.out.splitlines()[-1],
                         "Logs and config can be found at " + self.box.archive_path(), r)
        self.assertEqual(harness.read(victim), b"must survive")
        self.assertEqual(os.stat(victim).st_mode & 0o7777, 0o644)
        self.assertTrue(stat.S_ISREG(os.lstat(self.box.archive_path()).st_mode))
        harness.check_archive(self.box.archive_path(), self.scratch)

    def test_archive_is_readable_by_its_owner_only(self):
        for umask in (0o022, 0o000, 0o077):
            r = self.box.run(umask=umask)
            self.assertEqual(r.status, 0, r)
            mode = os.stat(self.box.archive_path()).st_mode & 0o7777
            self.assertEqual(mode, 0o600, "umask %03o" % umask)

    def test_unwritable_temp_directory(self):
        harness.skip_under_wrapper(self, "its own files in TMPDIR change the outcome")
        # Root ignores permission bits, a read-only mount stops it too. The
        # output directory must be created first, so the temporary directory
        # turns read-only during the run, in the package stage.
        self.box.rpm_that('mount -o remount,ro,bind "$TMPDIR"')
        r = self.box.run(pre="mount --bind '{0}' '{0}'".format(self.box.tmp))
        self.assert_archive_failed(r, "Read-only file system (os error 30)")

    # --- what the walk finds ---------------------------------------------------

    def test_socket_ends_the_walk_and_keeps_the_directory(self):
        self.box.rpm_that('python3 -c "import socket,sys; '
                      's=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1])" '
                      '"$out/agent.sock"')
        r = self.box.run()
        self.assert_archive_failed(r, "jce-data/agent.sock: socket can not be archived")
        archive = self.box.archive_path()
        self.assertTrue(harness.gzip_ok(archive))
        names = [e[0] for e in harness.python_entries(archive)]
        self.assertEqual(first_header_name(archive), b"jce-data/")
        self.assertNotIn("jce-data/agent.sock", names)
        self.assertTrue(os.path.exists(os.path.join(self.box.output_dir(), "agent.sock")))

    def test_link_to_directory_is_stored_as_directory(self):
        elsewhere = os.path.join(self.box.root, "elsewhere")
        harness.write(os.path.join(elsewhere, "inner.txt"), "inner")
        self.box.rpm_that('ln -s "%s" "$out/linked"' % elsewhere)
        r = self.box.run()
        self.assertEqual(r.out.splitlines()[-1],
                         "Logs and config can be found at " + self.box.archive_path(), r)
        entries = {e[0]: e for e in harness.check_archive(self.box.archive_path(), self.scratch)}
        self.assertEqual(entries["jce-data/linked"][1], tarfile.DIRTYPE)
        self.assertEqual(entries["jce-data/linked/inner.txt"][3], b"inner")
        # The removal took the link, not what it points to.
        self.assertFalse(os.path.lexists(self.box.output_dir()))
        self.assertEqual(harness.read(os.path.join(elsewhere, "inner.txt")), b"inner")

    # --- removal and closing ---------------------------------------------------

    def test_removal_takes_a_link_whose_listing_gives_no_type(self):
        """Where listings report no entry types (ext4 without its filetype
        feature, on a loop device), a link to a directory is still removed
        itself and what it points to stays."""
        image = os.path.join(self.box.root, "untyped.img")
        with open(image, "wb") as f:
            f.truncate(8 << 20)
        subprocess.run(["mkfs.ext4", "-q", "-F", "-O", "^filetype", image],
                       capture_output=True, check=True)
        elsewhere = os.path.join(self.box.root, "elsewhere")
        harness.write(os.path.join(elsewhere, "inner.txt"), "inner")
        self.box.rpm_that('ln -s "%s" "$out/linked"' % elsewhere)
        r = self.box.run(pre="mount -o loop '{i}' '{t}' 2>&1 || exit 77; chmod 1777 '{t}'"
                         .format(i=image, t=self.box.tmp))
        if r.status == 77:
            self.skipTest("no loop device for an ext4 image here: " + r.out)
        self.assertEqual(r.out.splitlines()[-1],
                         "Logs and config can be found at " + self.box.archive_path(), r)
        self.assertNotIn("clean up", r.err)
        self.assertEqual(harness.read(os.path.join(elsewhere, "inner.txt")), b"inner")

    def test_unremovable_file_gives_the_clean_up_line(self):
        # A read-only bind mount inside the run's namespace stops even root.
        self.box.rpm_that('mkdir "$out/locked" && echo kept > "$out/locked/f" && '
                      'mount --bind "$out/locked" "$out/locked" && '
                      'mount -o remount,ro,bind "$out/locked"')
        r = self.box.run()
        out_dir = self.box.output_dir()
        self.assertEqual(r.out.splitlines()[-1],
                         "Logs and config can be found at " + self.box.archive_path(), r)
        self.assertEqual(r.err.splitlines()[-1], "Failed to clean up directory, " + out_dir, r)
        self.assertEqual(harness.read(os.path.join(out_dir, "locked", "f")), b"kept\n")
        names = [e[0] for e in harness.check_archive(self.box.archive_path(), self.scratch)]
        self.assertIn("jce-data/locked/f", names)

    def test_full_file_system_never_reports_success(self):
        logs = os.path.join(self.box.opt, "quorvane", "log")
        harness.write(os.path.join(logs, "jce.log"), os.urandom(200 * 1024))
        self.box.log_config(self.box.inside(os.path.join(logs, "jce.log")))
        self.box.fake_package_manager("rpm", stdout=REPORT)
        tmp = self.box.tmp
        r = self.box.run(pre="mount -t tmpfs -o size=256k,mode=1777 tmpfs '%s'" % tmp,
                         post="ls -A '%s'" % tmp)
        self.assertNotIn("Logs and config can be found at", r.out, r)
        self.assert_archive_failed_in_namespace(
            r, "No space left on device (os error 28)")

    def test_error_while_ending_the_archive_removes_it(self):
        # The package stage leaves a small file of random bytes and then caps
        # the size of files the run may write at 1 KiB. Every stage's file
        # fits under the cap, and so do the bytes the compressor gives out
        # during the walk (the gzip header only); the rest arrives when the
        # stream is finished, and that write fails: the unreadable archive
        # goes (SIGXFSZ, which the tool ignores, does not end the run).
        self.box.rpm_that('head -c 3000 /dev/urandom > "$out/blob" && '
                      'prlimit --pid $PPID --fsize=1024')
        r = self.box.run()
        self.assert_archive_failed(r, "File too large (os error 27)")
        self.assertFalse(os.path.lexists(self.box.archive_path()))

    def assert_archive_failed_in_namespace(self, r, error):
        """Like assert_archive_failed for a TMPDIR that vanished with the
        run's namespace: the directory's presence comes from post_log()."""
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines(), banners(), r)
        self.assertEqual(r.err.splitlines()[-1],
                         harness.archive_failure(self.box.output_dir(), error), r)
        self.assertIn("jce-data\n", self.box.post_log())


if __name__ == "__main__":
    harness.main()
