"""The archive step: the archive beside the output directory, its entries
read back by independent readers, how it is created, its failures and the
removal of the output directory."""

import os
import subprocess

import harness
from harness import PACKAGE_REPORT as REPORT


class ArchiveTest(harness.SandboxCase):
    def test_successful_run_archives_and_removes_the_output_directory(self):
        # Two log files (one sparse) and, beside what the stages collect,
        # what the tar format treats apart: a FIFO, an empty file, one of
        # holes only and one of thirty data regions (more than a header holds).
        logs = os.path.join(self.box.opt, "log")
        harness.write(os.path.join(logs, "jce.log"), "line one\nline two\n")
        with open(os.path.join(logs, "jce.log.1"), "wb") as f:
            f.write(b"head of an old log\n")
            f.seek(512 * 1024)
            f.write(b"tail of an old log\n")
            f.truncate(1024 * 1024)
        self.box.log_config("/opt/log/jce.log")
        self.box.rpm_that(
            'mkfifo "$out/fifo"; : > "$out/empty"; truncate -s 1M "$out/holes"\n'
            'for i in $(seq 0 29); do head -c 4096 /dev/urandom |'
            ' dd of="$out/thirty" bs=8192 seek=$i conv=notrunc status=none; done', stdout=REPORT)
        r = self.box.run()
        files = self.assert_archived(r)
        self.assertEqual(r.err, "", r)
        self.assertIsNone(files["jce-data/fifo"])
        self.assertEqual((files["jce-data/empty"], files["jce-data/holes"]), (b"", bytes(1 << 20)))
        self.assertEqual(len(files["jce-data/thirty"]), 29 * 8192 + 4096)
        self.assertEqual(files["jce-data/jcePackageInfo.txt"], REPORT.encode())
        self.assertEqual(files["jce-data/jce.log"], b"line one\nline two\n")
        old = files["jce-data/jce.log.1"]
        self.assertEqual(len(old), 1024 * 1024)
        self.assertTrue(old.startswith(b"head of an old log\n"))
        self.assertEqual(old[512 * 1024:512 * 1024 + 19], b"tail of an old log\n")
        self.assertIn("jce-data/osInfo.txt", files)
        self.assertIn("jce-data/quorvane-jce.cfg", files)

    def test_directory_at_the_archive_path(self):
        os.mkdir(self.box.archive_path())
        r = self.box.run()
        self.assert_archive_failed(r, "Is a directory (os error 21)")
        self.assertEqual(os.listdir(self.box.archive_path()), [])

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


if __name__ == "__main__":
    harness.main()
