"""contrib/ansible/collect.yml with a local connection and su, run in a
private mount namespace that sees the sandbox's /opt and /etc; test_ansible_ssh
covers the rest over SSH. self.box is both the controller and the host."""

import os
import shutil
import subprocess

import harness


class AnsibleLocalTest(harness.SandboxCase):
    def test_local_connection_with_su(self):
        harness.skip_under_wrapper(self, "ansible runs its own Python on the host")
        box = self.box
        box.fake_package_manager(stdout=harness.PACKAGE_REPORT)
        os.symlink(harness.exe(), os.path.join(box.bin, "diagpack-jce"))
        here = {"ansible_connection": "local", "ansible_become_method": "su",
                "diagpack_environment": {"TMPDIR": box.tmp, "PATH": box.bin + ":/usr/bin:/bin"}}
        script = ("mount --bind {r}/opt /opt && mount -t overlay overlay -o lowerdir=/etc,"
                  "upperdir={r}/etc-upper,workdir={r}/etc-work /etc && exec \"$@\"").format(
                      r=box.root)
        rc, out = harness.ansible_playbook(box, {"all": {"hosts": {"here": here}}}, wrap=[
            "unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"])
        self.assertEqual(rc, 0, out)
        (stamp,) = os.listdir(box.work + "/collected")
        path = os.path.join(box.work, "collected", stamp, "here", "jce-")
        entries = {n: d for n, _, _, d in harness.check_archive(path + "data.tar.gz", self.scratch)}
        self.assertEqual(entries["jce-data/jcePackageInfo.txt"], harness.PACKAGE_REPORT.encode())
        errors = harness.read(path + "stderr.txt").decode().splitlines()
        self.assertEqual([l.split(",")[0] for l in errors],
                         ["Failed to get jce config files", "Failed to get jce logs"])
        self.assertEqual(os.listdir(box.tmp), [])

    def test_playbook_passes_the_linter(self):
        check = (["ansible-lint", "--offline", "--nocolor"] if shutil.which("ansible-lint")
                 else ["ansible-playbook", "--syntax-check"])
        # ansible-lint passes over files outside the directory it runs in.
        p = subprocess.run(check + ["collect.yml"], cwd=os.path.dirname(harness.PLAYBOOK),
                           env=dict(os.environ, HOME=self.box.root), capture_output=True,
                           text=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)


if __name__ == "__main__":
    harness.main(programs=["ansible-playbook"])
