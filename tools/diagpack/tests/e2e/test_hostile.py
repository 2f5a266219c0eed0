"""Hostile neighbours: what other users (or odd installations) leave where a
run reads or writes. Nothing is followed where it must not be, nothing
hangs, every error has its usual text, and the package manager inherits
no descriptor of the tool but its three standard ones."""

import os
import socket
import stat

import harness
from harness import NOT_REGULAR, Sandbox, log_failure

NOBODY = 65534


def make_socket(path):
    with socket.socket(socket.AF_UNIX) as s:
        s.bind(path)


class ArchivePathTest(harness.SandboxCase):
    """Whatever another user put at the archive path is replaced by a new
    file that only root can read; the old file never receives a byte."""

    def assert_fresh_archive(self, r):
        self.assert_archived(r)
        st = os.lstat(self.box.archive_path())
        self.assertTrue(stat.S_ISREG(st.st_mode))
        self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777), (0, 0, 0o600))
        self.assertEqual(st.st_nlink, 1)

    def test_file_of_another_user(self):
        archive = self.box.archive_path()
        harness.write(archive, b"another user's file\n", 0o666)
        os.chown(archive, NOBODY, NOBODY)
        # The other user keeps the file open: it must not show the archive.
        with open(archive, "rb") as held:
            r = self.box.run()
            self.assert_fresh_archive(r)
            self.assertNotEqual(os.fstat(held.fileno()).st_ino, os.stat(archive).st_ino)
            self.assertEqual(held.read(), b"another user's file\n")

    def test_links_to_a_victim_fifo_or_socket(self):
        archive, victim = self.box.archive_path(), os.path.join(self.box.root, "victim")
        for kind, plant in (("hard link", lambda: os.link(victim, archive)),
                            ("symbolic link", lambda: os.symlink(victim, archive)),
                            ("fifo", lambda: os.mkfifo(archive, 0o666)),
                            ("socket", lambda: make_socket(archive))):
            with self.subTest(kind=kind):
                harness.write(victim, b"must survive\n", 0o644)
                if os.path.lexists(archive):
                    os.unlink(archive)
                plant()
                if kind != "hard link":
                    os.lchown(archive, NOBODY, NOBODY)
                self.assert_fresh_archive(self.box.run(timeout=60))
                st = os.stat(victim)
                self.assertEqual((harness.read(victim), st.st_mode & 0o7777, st.st_nlink),
                                 (b"must survive\n", 0o644, 1))


class LogDirectoryTest(harness.SandboxCase):
    """Odd entries that match the log name, and log directories that are
    links into the system."""

    def setUp(self):
        super().setUp()
        self.logs = os.path.join(self.box.opt, "log")
        os.makedirs(self.logs)
        self.box.fake_package_manager("rpm", stdout="report\n")

    def test_special_files_matching_the_log_name(self):
        cases = {
            "fifo": (lambda p: os.mkfifo(p), NOT_REGULAR),
            "socket": (make_socket, "No such device or address (os error 6)"),
            "link to /dev/zero": (lambda p: os.symlink("/dev/zero", p), NOT_REGULAR),
        }
        for kind, (make, error) in cases.items():
            with self.subTest(kind=kind):
                with Sandbox() as box:
                    logs = os.path.join(box.opt, "log")
                    os.makedirs(logs)
                    make(os.path.join(logs, "jce.log"))
                    box.log_config("/opt/log/jce.log")
                    r = box.run(timeout=60)
                    self.assertEqual(r.status, 0, r)
                    self.assertIn(log_failure(error), r.err.splitlines(), r)
                    self.assertNotIn("jce.log", harness.collected(box))

    def test_log_directory_linked_to_the_root(self):
        os.symlink("/", os.path.join(self.box.opt, "link-to-root"))
        for name in ("jce.log", "proc", "tmp"):
            with self.subTest(name=name):
                self.box.log_config("/opt/link-to-root/" + name)
                if os.path.exists(self.box.archive_path()):
                    os.unlink(self.box.archive_path())
                r = self.box.run()
                self.assertEqual(r.status, 0, r)
                self.assertNotIn(log_failure(), r.err, r)
                # Only regular files of / whose names hold the name would be
                # copied; directories (and links to them) are skipped.
                expected = {n for n in os.listdir("/")
                            if name in n and os.path.isfile(os.path.join("/", n))}
                self.assertEqual(set(harness.collected_logs(self.box)), expected)

    def test_link_planted_by_the_log_directory_owner(self):
        """A link that the log directory's owner planted to a root-only file
        fails as an unreadable file; root's, and the target owner's, do not."""
        harness.write(os.path.join(self.box.opt, "secret"), b"root only\n", 0o600)
        own = os.path.join(self.box.opt, "own")
        harness.write(own, b"nobody's\n", 0o600)
        os.chown(own, NOBODY, NOBODY)
        os.chown(self.logs, NOBODY, NOBODY)
        self.box.log_config("/opt/log/jce.log")

        def run_with_links(*links):
            for name in os.listdir(self.logs):
                os.unlink(os.path.join(self.logs, name))
            for name, target, owner in links:
                os.symlink(target, os.path.join(self.logs, name))
                os.lchown(os.path.join(self.logs, name), owner, owner)
            return self.box.run().err.splitlines(), harness.collected_logs(self.box)

        self.assertEqual(run_with_links(("jce.log.1", "/opt/secret", NOBODY)),
                         ([log_failure("Permission denied (os error 13)")], {}))
        self.assertEqual(run_with_links(("jce.log.2", "/opt/secret", 0),
                                        ("jce.log.3", own, NOBODY)),
                         ([], {"jce.log.2": b"root only\n", "jce.log.3": b"nobody's\n"}))


class ReleaseFilesTest(harness.SandboxCase):
    def test_fifos_as_release_files_do_not_hold_up_the_run(self):
        for name in ("os-release", "lsb-release", "system-release"):
            path = self.box.etc_file(name, "")
            os.unlink(path)
            os.mkfifo(path)
        r = self.box.run(timeout=30)
        self.assertEqual(r.status, 0, r)
        report = harness.collected(self.box)["osInfo.txt"].decode()
        # A FIFO without a writer reads as empty.
        self.assertEqual(report.splitlines()[1:], ["Version: Linux  ", "System Release: "])


class OutputDirectorySwapTest(harness.SandboxCase):
    def test_output_directory_replaced_by_a_link_is_never_emptied(self):
        """The output directory is moved away during the run and a link to
        another directory takes its place: the archive holds what the link
        shows, and the clean-up removes the link only."""
        victim = os.path.join(self.box.root, "victim")
        harness.write(os.path.join(victim, "precious", "data"), "keep me\n")
        moved = os.path.join(self.box.root, "moved")
        self.box.etc_file("os-release", 'NAME="Ubuntu"\nVERSION_ID="22.04"\n')
        # dpkg-query fails, so the package stage writes nothing through the link.
        self.box.fake_program("dpkg-query", 'out="$TMPDIR/jce-data"\n'
                              'mv "$out" "%s" && ln -s "%s" "$out"\nexit 1' % (moved, victim))
        r = self.box.run()
        files = self.assert_archived(r)
        self.assertIn("Failed to get jce package details, skipping. "
                      "dpkg-query failed for package: quorvane-jce", r.err.splitlines())
        self.assertEqual(files["jce-data/precious/data"], b"keep me\n")
        self.assertFalse(os.path.lexists(self.box.output_dir()))
        self.assertEqual(harness.read(os.path.join(victim, "precious", "data")), b"keep me\n")
        self.assertEqual(os.listdir(moved), ["osInfo.txt"])


class PermissiveUmaskTest(harness.SandboxCase):
    def test_links_planted_in_the_output_directory_are_never_written_through(self):
        """While the package manager runs, a link to a victim is planted as
        the package report: by nobody under umask 000 (the directory, 0755
        whatever the umask, refuses it), and by root itself under umask 022
        (the report's open refuses to follow it)."""
        victim = os.path.join(self.box.root, "victim")
        out = '"$TMPDIR/jce-data"'
        for umask, planter, failure in [
                (0o000, "setpriv --reuid=%d --regid=%d --clear-groups " % (NOBODY, NOBODY), []),
                (0o022, "", ["Failed to get jce package details, skipping. "
                             "Too many levels of symbolic links (os error 40)"])]:
            with self.subTest(umask=umask):
                harness.write(victim, b"victim\n", 0o644)
                self.box.fake_program("rpm", 'stat -c %%a %s > "%s/mode"\n'
                                      '%sln -s "%s" %s/jcePackageInfo.txt 2>/dev/null\n'
                                      'echo report'
                                      % (out, self.box.root, planter, victim, out))
                r = self.box.run(umask=umask)
                self.assertEqual(r.status, 0, r)
                self.assertEqual([l for l in r.err.splitlines() if "package" in l], failure, r)
                self.assertEqual(harness.read(victim), b"victim\n")
                self.assertEqual(harness.read(os.path.join(self.box.root, "mode")), b"755\n")
                os.unlink(self.box.archive_path())

    def test_reports_are_never_group_or_world_writable(self):
        """The reports are masked as the output directory is: 0644 before
        the umask."""
        self.box.fake_package_manager("rpm", stdout="report\n")
        for umask, mode in ((0o000, 0o644), (0o077, 0o600)):
            self.assert_archived(self.box.run(umask=umask))
            self.assertEqual([harness.collected_mode(self.box, name) for name in
                              ("osInfo.txt", "jcePackageInfo.txt")], [mode, mode], umask)


class InheritedDescriptorsTest(harness.SandboxCase):
    def test_package_manager_gets_only_the_standard_descriptors(self):
        """The package manager lists its descriptors, and those of the tool
        that waits for it, into its report."""
        harness.skip_under_wrapper(self, "it holds descriptors of its own")
        self.box.fake_program("rpm", "\n".join(
            'for f in /proc/%s/fd/*; do printf "%s %%s " "${f##*/}"; readlink "$f" || echo gone; '
            'done' % (pid, who) for pid, who in (("$$", "child"), ("$PPID", "tool"))))
        for redirect in ("", "<&- >&- 2>&-"):
            with self.subTest(redirect=redirect):
                if os.path.exists(self.box.archive_path()):
                    os.unlink(self.box.archive_path())
                r = self.box.run(shell_redirect=redirect)
                self.assertEqual(r.status, 0, r)
                report = harness.collected(self.box)["jcePackageInfo.txt"]
                fds = {"child": {}, "tool": {}}
                for line in report.decode().splitlines():
                    who, fd, target = line.split(" ", 2)
                    fds[who][int(fd)] = target
                child, tool = fds["child"], fds["tool"]
                # The shell's own descriptors: the script it reads, and the
                # directory of the glob (closed again before readlink runs).
                script = os.path.join(self.box.bin, "rpm")
                child = {fd: t for fd, t in child.items() if t not in (script, "gone")}
                self.assertEqual(sorted(child), [0, 1, 2], report)
                self.assertEqual(child[0], "/dev/null")
                self.assertTrue(child[1].startswith("pipe:") and child[2].startswith("pipe:"))
                self.assertNotEqual(child[1], child[2])
                # The tool holds nothing but its standard descriptors, the
                # reading ends of the child's two pipes and the signalfd of
                # its stop signals: no file, directory or /dev/null left open
                # by an earlier stage or the spawn.
                extra = sorted(t for fd, t in tool.items() if fd > 2)
                self.assertEqual(extra, sorted([child[1], child[2], "anon_inode:[signalfd]"]),
                                 report)


if __name__ == "__main__":
    harness.main()
