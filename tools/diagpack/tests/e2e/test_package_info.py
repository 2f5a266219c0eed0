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

    def test_the_release_picks_the_package_manager(self):
        """Ubuntu and Debian, named by os-release or else lsb-release, ask
        dpkg-query -s; every other host (a lower-case "ubuntu" too) asks
        rpm -qi, whose status is ignored. Standard error is not kept."""
        self.box.fake_package_manager("dpkg-query", stdout="dpkg-query says\n", stderr="noise\n")
        self.box.fake_package_manager("rpm", stdout="rpm says\n", status=1, stderr="noise\n")
        for release, text, asked, option in (
                ("os-release", UBUNTU, "dpkg-query", "-s"),
                ("os-release", 'NAME="Debian GNU/Linux"\nVERSION_ID="11"\n', "dpkg-query", "-s"),
                ("lsb-release", "DISTRIB_ID=Ubuntu\nDISTRIB_RELEASE=24.04\n", "dpkg-query", "-s"),
                ("os-release", 'NAME="Fedora Linux"\nVERSION_ID=40\n', "rpm", "-qi"),
                ("os-release", "NAME=ubuntu\nVERSION_ID=1\n", "rpm", "-qi")):
            with self.subTest(text=text):
                for name in ("os-release", "lsb-release"):
                    self.box.etc_file(name, text if name == release else harness.Sandbox.ABSENT)
                argv = lambda: [n for n in os.listdir(self.box.bin) if n.endswith(".argv")]
                for name in argv():
                    os.unlink(os.path.join(self.box.bin, name))
                report, err = self.run_query()
                self.assertEqual(report, (asked + " says\n").encode())
                self.assertEqual(argv(), [asked + ".argv"])
                self.assertEqual(self.box.recorded_argv(asked)[1:], [option, "quorvane-jce"])
                self.assertEqual([l for l in err if "package" in l or "noise" in l], [])

    def test_dpkg_query_that_fails_or_is_killed_writes_nothing(self):
        self.box.etc_file("os-release", UBUNTU)
        for body in ("echo partial; exit 1", "echo partial; kill -9 $$"):
            with self.subTest(body=body):
                self.box.fake_program("dpkg-query", body)
                report, err = self.run_query()
                self.assertIn(package_failure("dpkg-query failed for package: quorvane-jce"), err)
                self.assertIsNone(report)

    def test_empty_rpm_output_gives_empty_report(self):
        self.box.fake_package_manager("rpm", stdout="")
        report, err = self.run_query()
        self.assertEqual(report, b"")
        self.assert_no_failure(err)

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


if __name__ == "__main__":
    harness.main()
