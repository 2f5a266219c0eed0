"""Stage 4: <key>PackageInfo.txt from dpkg-query (Ubuntu, Debian) or rpm."""

import os
import shutil

import harness
from harness import package_failure

UBUNTU = 'NAME="Ubuntu"\nVERSION_ID="22.04"\n'


class PackageInfoTest(harness.SandboxCase):
    def run_query(self, key="jce", **kw):
        """Runs the tool; returns (report bytes or None, stderr lines)."""
        r = self.box.run(key, **kw)
        self.assertEqual(r.status, 0, r)
        report = harness.collected(self.box, key).get("%sPackageInfo.txt" % key)
        return report, r.err.splitlines()

    def assert_no_failure(self, err, key="jce"):
        self.assertEqual([l for l in err if l.startswith(package_failure(key=key))], [])

    def argv_file_exists(self, name):
        return os.path.exists(os.path.join(self.box.bin, name + ".argv"))

    def test_ubuntu_host_asks_dpkg_query(self):
        self.box.etc_file("os-release", UBUNTU)
        self.box.fake_package_manager("dpkg-query", stdout="Package: quorvane-jce\n",
                                      stderr="noise\n")
        self.box.fake_package_manager("rpm")
        report, err = self.run_query()
        self.assertEqual(report, b"Package: quorvane-jce\n")
        self.assertEqual(self.box.recorded_argv("dpkg-query")[1:], ["-s", "quorvane-jce"])
        self.assertFalse(self.argv_file_exists("rpm"))
        self.assert_no_failure(err)
        self.assertNotIn("noise", err)

    def test_debian_host_asks_dpkg_query_even_with_rpm_installed(self):
        self.box.etc_file("os-release", 'NAME="Debian GNU/Linux"\nVERSION_ID="11"\n')
        self.box.fake_package_manager("dpkg-query", stdout="Package: quorvane-jce\n")
        self.box.fake_package_manager("rpm", stdout="package quorvane-jce is not installed\n")
        report, err = self.run_query()
        self.assertEqual(report, b"Package: quorvane-jce\n")
        self.assertFalse(self.argv_file_exists("rpm"))
        self.assert_no_failure(err)

    def test_ubuntu_from_lsb_release(self):
        self.box.etc_file("lsb-release", "DISTRIB_ID=Ubuntu\nDISTRIB_RELEASE=24.04\n")
        self.box.fake_package_manager("dpkg-query", stdout="x")
        report, _ = self.run_query()
        self.assertEqual(report, b"x")

    def test_dpkg_query_failure_writes_nothing(self):
        self.box.etc_file("os-release", UBUNTU)
        self.box.fake_package_manager("dpkg-query", stdout="partial\n", status=1)
        report, err = self.run_query()
        self.assertIn(package_failure("dpkg-query failed for package: quorvane-jce"), err)
        self.assertIsNone(report)

    def test_dpkg_query_killed_by_signal_fails(self):
        self.box.etc_file("os-release", UBUNTU)
        self.box.fake_program("dpkg-query", "echo partial; kill -9 $$")
        report, err = self.run_query()
        self.assertIn(package_failure("dpkg-query failed for package: quorvane-jce"), err)
        self.assertIsNone(report)

    def test_rpm_status_is_ignored(self):
        self.box.etc_file("os-release", 'NAME="Fedora Linux"\nVERSION_ID=40\n')
        self.box.fake_package_manager(
            "rpm", stdout="package quorvane-jce is not installed\n", status=1)
        report, err = self.run_query()
        self.assertEqual(report, b"package quorvane-jce is not installed\n")
        self.assertEqual(self.box.recorded_argv("rpm")[1:], ["-qi", "quorvane-jce"])
        self.assert_no_failure(err)

    def test_empty_rpm_output_gives_empty_report(self):
        self.box.fake_package_manager("rpm", stdout="")
        report, err = self.run_query()
        self.assertEqual(report, b"")
        self.assert_no_failure(err)

    def test_lower_case_ubuntu_selects_rpm(self):
        self.box.etc_file("os-release", "NAME=ubuntu\nVERSION_ID=1\n")
        self.box.fake_package_manager("rpm", stdout="rpm answer")
        self.box.fake_package_manager("dpkg-query")
        report, _ = self.run_query()
        self.assertEqual(report, b"rpm answer")
        self.assertFalse(self.argv_file_exists("dpkg-query"))

    def test_rpm_missing_from_path(self):
        system_path = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
        if shutil.which("rpm", path=system_path):
            self.skipTest("this host has rpm on its PATH")
        if harness.WRAPPER:
            self.skipTest("a failed exec is not reported by posix_spawn under " + harness.WRAPPER.split()[0])
        report, err = self.run_query()
        self.assertIn(package_failure("No such file or directory (os error 2)"), err)
        self.assertIsNone(report)

    def test_output_not_utf8_names_first_fault(self):
        self.box.fake_package_manager("rpm", stdout=b"12345\xffrest")
        report, err = self.run_query()
        self.assertIn(package_failure("invalid utf-8 sequence of 1 bytes from index 5"), err)
        self.assertIsNone(report)

    def test_output_is_judged_across_megabytes(self):
        """Output is kept in pieces of 1 MiB: a character cut by a piece's
        end stays whole, a fault's index counts the whole output."""
        head = b"a" * ((1 << 20) - 1) + "\u00e9".encode() + b"b" * (1 << 20)
        self.box.fake_package_manager("rpm", stdout=head + b"\xe2\x82")
        report, err = self.run_query()
        self.assertIn(package_failure("incomplete utf-8 byte sequence from index %d"
                                      % len(head)), err)

    def test_stderr_flood_completes_and_is_not_kept(self):
        harness.skip_under_wrapper(self, "the peak RSS is the wrapper's")
        self.box.fake_program("rpm", "head -c 300000000 /dev/zero >&2; printf done")
        rss = os.path.join(self.box.root, "rss")
        report, err = self.run_query(through="/usr/bin/time -f %%M -o '%s'" % rss)
        self.assertEqual(report, b"done")
        self.assert_no_failure(err)
        # Peak resident set in KiB, as the kernel counted it for the run.
        self.assertLess(int(harness.read(rss).split()[-1]), 64 * 1024)

    def test_child_stdin_is_not_inherited(self):
        # The tool's own stdin stays open and silent: a child that read it
        # would wait for ever.
        read_end, write_end = os.pipe()
        try:
            self.box.fake_program("rpm", "cat; echo stdin-closed")
            report, _ = self.run_query(stdin=read_end, timeout=60)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual(report, b"stdin-closed\n")

    def test_each_executable_queries_its_own_package(self):
        self.box.fake_package_manager("rpm", stdout="info\n")
        for key in harness.COMPONENTS:
            with self.subTest(key=key):
                report, err = self.run_query(key)
                self.assertEqual(self.box.recorded_argv("rpm")[1:],
                                 ["-qi", "quorvane-%s" % key])
                self.assertEqual(report, b"info\n")
                self.assert_no_failure(err, key)


if __name__ == "__main__":
    harness.main()
