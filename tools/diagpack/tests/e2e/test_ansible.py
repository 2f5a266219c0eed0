"""contrib/ansible/collect.yml run with -c local against aliases of this
machine. Each alias's modules run through a Python wrapper that enters a mount
namespace with the alias's own Sandbox /opt and /etc; its runs get the alias's
TMPDIR and PATH. self.box is the controller; results land in work/collected."""

import json
import os
import shutil
import subprocess

import harness

PLAYBOOK = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                        "..", "..", "..", "..", "contrib", "ansible", "collect.yml")
RPM_INFO = "Name        : quorvane-jce\n"
# Aliases of one sandbox run modules at the same time: each module gets an
# overlay work directory of its own, as two mounts cannot share one.
PYTHON = """#!/bin/sh
echo "$@" >> {r}/touched
work=$(mktemp -d {r}/etc-work.XXXXXX) || exit 1
exec unshare -m --propagation private sh -c 'mount --bind {r}/opt /opt && mount -t overlay \
overlay -o lowerdir=/etc,upperdir={r}/etc-upper,workdir='"$work"' /etc && exec python3 "$@"' sh "$@"
"""


class AnsibleFleetTest(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        harness.skip_under_wrapper(self, "ansible runs its own Python on every host")

    def host(self, installed=True, rpm_delay=0):
        box = harness.Sandbox()
        self.addCleanup(box.close)
        box.fake_program("rpm", "sleep %d; printf '%s'" % (rpm_delay, RPM_INFO))
        if installed:
            os.symlink(harness.exe(), os.path.join(box.bin, "diagpack-jce"))
        harness.write(os.path.join(box.root, "python"), PYTHON.format(r=box.root), 0o755)
        return box

    def play(self, hosts, *extra):
        inventory = {name: {
            "ansible_connection": "local", "ansible_become_method": "su",
            "ansible_python_interpreter": os.path.join(box.root, "python"),
            "diagpack_environment": {"TMPDIR": box.tmp, "PATH": box.bin + ":/usr/bin:/bin"},
        } for name, box in hosts.items()}
        root = self.box.root
        harness.write(root + "/inventory.yml", json.dumps({"all": {"hosts": inventory}}))
        harness.write(root + "/ansible.cfg", "")
        env = dict(os.environ, HOME=root, ANSIBLE_CONFIG=root + "/ansible.cfg", ANSIBLE_NOCOLOR="1",
                   ANSIBLE_LOCAL_TEMP=root + "/a-local", ANSIBLE_REMOTE_TEMP=root + "/a-remote")
        p = subprocess.run(["ansible-playbook", "-i", root + "/inventory.yml", PLAYBOOK,
                            "-e", "diagpack_key=jce"] + list(extra), cwd=self.box.work,
                           env=env, capture_output=True, text=True, timeout=150)
        return p.returncode, p.stdout + p.stderr

    def fetched(self, name):
        """({name in the archive: bytes}, stderr text) fetched from a host."""
        path = os.path.join(self.box.work, "collected", name, "jce-")
        entries = harness.check_archive(path + "data.tar.gz", self.box.root + "/x-" + name)
        return ({n[len("jce-data/"):]: d for n, _, _, d in entries if n != "jce-data"},
                harness.read(path + "stderr.txt").decode())

    def test_fleet_of_three_aliases(self):
        full, unconfigured, stale = self.host(), self.host(), self.host()
        harness.write(full.opt + "/log/jce.log", "today\n")
        harness.write(full.opt + "/log/jce.log.1", "yesterday\n")
        config = harness.read(full.log_config("/opt/log/jce.log"))
        full.etc_file("os-release", 'NAME="Fleet"\nVERSION_ID=7\n')
        os.mkdir(stale.output_dir())
        rc, out = self.play({"full": full, "unconfigured": unconfigured, "stale": stale})
        self.assertEqual(rc, 2, out)
        recap = {l.split()[0]: l.split("failed=")[1].split()[0]
                 for l in out.splitlines() if " failed=" in l}
        self.assertEqual(recap, {"full": "0", "unconfigured": "0", "stale": "1"}, out)
        stale_line = "Output directory %s already exists." % stale.output_dir()
        self.assertIn("exited with status 1: " + stale_line, out)
        stale_dir = os.path.join(self.box.work, "collected", "stale")
        self.assertEqual(os.listdir(stale_dir), ["jce-stderr.txt"])
        self.assertEqual(harness.read(stale_dir + "/jce-stderr.txt"), (stale_line + "\n").encode())
        self.assertEqual(os.listdir(stale.tmp), ["jce-data"])

        files, errors = self.fetched("full")
        self.assertEqual((errors, files.pop("osInfo.txt").split(b"\n")[-2]),
                         ("", b"Version: Linux 7 Fleet"))
        self.assertEqual(files, {"quorvane-jce.cfg": config, "jce.log": b"today\n",
                                 "jce.log.1": b"yesterday\n",
                                 "jcePackageInfo.txt": RPM_INFO.encode()})
        files, errors = self.fetched("unconfigured")
        self.assertEqual(sorted(files), ["jcePackageInfo.txt", "osInfo.txt"])
        self.assertEqual([l.split(",")[0] for l in errors.splitlines()],
                         ["Failed to get jce config files", "Failed to get jce logs"])
        self.assertEqual(os.listdir(full.tmp) + os.listdir(unconfigured.tmp), [])

    def test_bare_binary_on_two_aliases_of_one_machine(self):
        # Both aliases share one TMPDIR, and rpm makes each run last a
        # second: runs that overlapped would meet each other's staging
        # directory or archive.
        box = self.host(installed=False, rpm_delay=1)
        rc, out = self.play({"one": box, "other": box}, "-e", "diagpack_binary=" + harness.exe())
        self.assertEqual(rc, 0, out)
        for name in ("one", "other"):
            self.assertEqual(self.fetched(name)[0]["jcePackageInfo.txt"], RPM_INFO.encode())
        self.assertEqual(os.listdir(box.tmp), [])  # no archive, no binary left

    def test_bad_input_stops_before_any_host(self):
        box = self.host()
        harness.write(self.box.root + "/file", "")
        for extra, says in ((["-e", "diagpack_key=jcee"], "one of dyn, jce, pkcs11, cli"),
                            (["-e", "diagpack_results_dir=%s/file/x" % self.box.root],
                             "Not a directory")):
            with self.subTest(extra[-1]):
                rc, out = self.play({"host": box}, *extra)
                self.assertNotEqual(rc, 0, out)
                self.assertIn(says, out)
                self.assertFalse(os.path.exists(box.root + "/touched"), out)

    def test_playbook_passes_the_linter(self):
        check = (["ansible-lint", "--offline", "--nocolor"] if shutil.which("ansible-lint")
                 else ["ansible-playbook", "--syntax-check"])
        # ansible-lint passes over files outside the directory it runs in.
        p = subprocess.run(check + ["collect.yml"], cwd=os.path.dirname(PLAYBOOK),
                           env=dict(os.environ, HOME=self.box.root), capture_output=True,
                           text=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)


if __name__ == "__main__":
    harness.main(programs=["ansible-playbook"])
