"""Runs at scale and at the limits of names: many log files, a huge sparse
log, the longest file name, and output-directory entries whose names sit at
and around the tar header's 100-byte name field or run to 4000 bytes. Every
archive is read back by GNU tar, bsdtar and Python's tarfile."""

import os
import shutil
import tarfile

import harness

GIB = 1 << 30


class ScaleTestCase(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        self.logs = os.path.join(self.box.opt, "log")
        os.makedirs(self.logs)
        self.box.fake_package_manager("rpm", stdout="report\n")
        self.box.log_config("/opt/log/jce.log")

    def assert_clean_run(self, r):
        """A successful run without a failure line; returns the archive's path."""
        self.assertEqual(r.err, "", r)
        return self.assert_success(r)


class ManyLogsTest(ScaleTestCase):
    def test_ten_thousand_log_files(self):
        # The logs and the temporary directory live on tmpfs mounts of the
        # run's namespace, so that 30,000 small files cost no disk time.
        names = ["jce.log.%05d" % i for i in range(10000)]
        maker = os.path.join(self.box.root, "make_logs.py")
        harness.write(maker, "import os\nfor n in %r:\n"
                      "    fd = os.open(n, os.O_WRONLY | os.O_CREAT, 0o644)\n"
                      "    os.write(fd, (n + '\\n').encode())\n"
                      "    os.close(fd)\n" % names)
        kept = os.path.join(self.box.root, "kept")
        pre = "\n".join([harness.tmpfs_shell(self.box.tmp, "256m"),
                         harness.tmpfs_shell("/opt/log", "64m", "mode=755"),
                         "(cd /opt/log && python3 '%s')" % maker])
        r = self.box.run(pre=pre, post=harness.keep_shell(self.box.tmp, kept), timeout=300)
        self.assert_clean_run(r)
        self.assertEqual(os.listdir(kept), ["jce-data.tar.gz"])
        files = {name: data for name, _, _, data in
                 harness.check_archive(os.path.join(kept, "jce-data.tar.gz"), self.scratch)}
        logs = {n: d for n, d in files.items() if n.startswith("jce-data/jce.log.")}
        self.assertEqual(logs, {"jce-data/" + n: (n + "\n").encode() for n in names})
        self.assertEqual(len(files), 10000 + 4)


class SparseLogTest(ScaleTestCase):
    SIZE = 40 * GIB
    # Block-aligned, so that the file system reports exactly these.
    REGIONS = [(0, 4096), (10 * GIB, 65536), (SIZE - 4096, 4096)]

    def test_forty_gib_sparse_log(self):
        log = os.path.join(self.logs, "jce.log")
        data = {}
        with open(log, "wb") as f:
            f.truncate(self.SIZE)
            for offset, length in self.REGIONS:
                data[offset] = os.urandom(length)
                f.seek(offset)
                f.write(data[offset])
        self.box.log_config("/opt/log/jce.log")
        archive = self.assert_clean_run(self.box.run(timeout=300))
        self.assertLess(os.path.getsize(archive), 1 << 20)
        self.assertTrue(harness.gzip_ok(archive))

        names = ["jce-data", "jce-data/jce.log", "jce-data/jcePackageInfo.txt",
                 "jce-data/osInfo.txt", "jce-data/quorvane-jce.cfg"]
        with tarfile.open(archive, "r:gz") as tf:
            self.assertEqual(sorted(tf.getnames()), names)
            member = tf.getmember("jce-data/jce.log")
            self.assertTrue(member.issparse())
            self.assertEqual(member.size, self.SIZE)
            # The map ends with the pair (file size, 0).
            self.assertEqual(member.sparse, self.REGIONS + [(self.SIZE, 0)])
            f = tf.extractfile(member)
            for offset, length in self.REGIONS:
                f.seek(offset)
                self.assertEqual(f.read(length), data[offset])
        for lister in (harness.gnu_tar_names, harness.bsdtar_names):
            self.assertEqual(sorted(n.rstrip("/") for n in lister(archive)), names)

        # Both tools extract a sparse file: holes stay holes.
        for tool in ("tar", "bsdtar"):
            dest = os.path.join(self.scratch, tool)
            harness.extract_with(tool, archive, dest)
            path = os.path.join(dest, "jce-data", "jce.log")
            st = os.stat(path)
            self.assertEqual(st.st_size, self.SIZE, tool)
            self.assertLess(st.st_blocks * 512, 1 << 20, tool)
            with open(path, "rb") as f:
                for offset, length in self.REGIONS:
                    f.seek(offset)
                    self.assertEqual(f.read(length), data[offset], tool)
                f.seek(5 * GIB)
                self.assertEqual(f.read(4096), bytes(4096), tool)
            shutil.rmtree(dest)


class LongNamesTest(ScaleTestCase):
    def test_log_name_of_255_bytes(self):
        # The entry name's byte 100 falls inside a two-byte character, so the
        # header's own name field stops one byte short of it.
        name = "a" * 90 + "\u00e9" * 80 + ".log0"
        self.assertEqual(len(name.encode()), 255)
        harness.write(os.path.join(self.logs, name), "longest name\n")
        self.box.log_config("/opt/log/" + name)
        archive = self.assert_clean_run(self.box.run())
        files = {n: d for n, _, _, d in harness.check_archive(archive, self.scratch)}
        self.assertEqual(files["jce-data/" + name], b"longest name\n")
        stream = harness.tar_stream(archive)
        headers = [stream[i:i + 512] for i in range(0, len(stream), 512)]
        field = ("jce-data/" + name).encode()[:99]
        self.assertIn(field + b"\0", [h[:100] for h in headers])

    def test_entry_names_around_the_name_field_and_a_deep_path(self):
        # Entry names are "jce-data/" (9 bytes) and the path below it.
        flat = {"f" * (n - 9): n for n in (99, 100, 101)}
        directory = "d" * 91           # a directory entry of exactly 100 bytes
        # Fifteen directories of 250 bytes and a file: 4000 bytes in all.
        deep = "/".join(["%02d" % i + "p" * 248 for i in range(15)] + ["q" * 226])
        self.assertEqual(len("jce-data/" + deep), 4000)
        script = ['cd "$out"']
        script += ['printf "%%s" "%s" > "%s"' % (n, f) for f, n in flat.items()]
        script += ['mkdir "%s" && printf inner > "%s/x"' % (directory, directory),
                   'mkdir -p "%s" && printf deep > "%s"' % (os.path.dirname(deep), deep)]
        self.box.rpm_that("\n".join(script), stdout="")
        archive = self.assert_clean_run(self.box.run())
        files = {n: d for n, _, _, d in harness.check_archive(archive, self.scratch)}
        for f, n in flat.items():
            self.assertEqual(files["jce-data/" + f], str(n).encode())
        self.assertIsNone(files["jce-data/" + directory])
        self.assertEqual(files["jce-data/%s/x" % directory], b"inner")
        self.assertEqual(files["jce-data/" + deep], b"deep")
        self.assertEqual(max(len(n.encode()) for n in files), 4000)

    def test_path_beyond_the_system_limit_fails_the_archive_cleanly(self):
        # Below the output directory, a path that with the directory's own
        # path exceeds PATH_MAX (4096 bytes): the walk cannot name it.
        parts = ["%02d" % i + "p" * 248 for i in range(17)]
        self.box.fake_program("rpm", 'cd "$TMPDIR/jce-data"\n' + "\n".join(
            'mkdir "%s" && cd "%s"' % (p, p) for p in parts) + "\nprintf deep > f")
        r = self.box.run()
        self.assert_archive_failed(r, "File name too long (os error 36)")
        self.assertTrue(os.path.isdir(os.path.join(self.box.output_dir(), parts[0])))
        self.assertTrue(harness.gzip_ok(self.box.archive_path()))


if __name__ == "__main__":
    harness.main()
