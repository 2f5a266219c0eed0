"""contrib/ansible/collect.yml over real SSH on loopback: each simulated
machine is an sshd of its own in a private mount namespace with its own /etc
(an overlay: machine id, sshd and sudo settings, and the users ops, ops2 and
nosudo, who exist nowhere else), /opt, /home, /root, /run, /tmp and
/usr/local/bin (installed executable, fake rpm). self.box is the controller."""

import os
import re
import shutil
import signal
import socket
import subprocess
import time

import harness

RPM_INFO = "Name        : quorvane-jce\n"
# crypt(3) of "ops2-secret", ops2's sudo password.
OPS2_HASH = ("$6$diagpack$uSPPPQOz96HtcQimgD9s25evBkwtPEpFdLMroA2nk.g.0Lho2/8kfa7rrr"
             "s5tDVgAUrtCcb4Swv0TPI5KylAW0")
SSHD_CONFIG = """Port {port}
ListenAddress 127.0.0.1
HostKey /etc/ssh/diagpack_host_key
UsePAM no
PasswordAuthentication no
Subsystem sftp /usr/lib/openssh/sftp-server
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Machine:
    """One sshd in its own mount namespace, stopped (with whatever still
    runs in that namespace) by PID when the test ends."""

    def __init__(self, test, noexec=False, installed=True):
        self.box = box = harness.Sandbox()
        test.addCleanup(box.close)
        up, self.home, self.roothome = box.etc_upper, box.root + "/home", box.root + "/root"
        os.makedirs(box.root + "/prefix")
        os.symlink(up, box.root + "/prefix/etc")  # useradd --prefix edits <prefix>/etc
        for name in ("passwd", "group", "shadow", "gshadow"):
            shutil.copy2("/etc/" + name, up)
        for uid, user, password in ((40001, "ops", "*"), (40002, "ops2", OPS2_HASH),
                                    (40003, "nosudo", "*")):
            subprocess.run(["useradd", "--prefix", box.root + "/prefix", "-M", "-s", "/bin/sh",
                            "-u", str(uid), "-d", "/home/" + user, "-p", password, user],
                           check=True)
            home = os.path.join(self.home, user)
            harness.write(home + "/.ssh/authorized_keys", harness.read(test.key + ".pub"))
            subprocess.run(["chown", "-R", "%d:%d" % (uid, uid), home], check=True)
            subprocess.run(["chmod", "-R", "go=", home], check=True)
        os.mkdir(self.roothome, 0o700)
        harness.write(up + "/sudoers.d/diagpack-e2e",
                      "ops ALL=(ALL:ALL) NOPASSWD: ALL\nops2 ALL=(ALL:ALL) ALL\n", 0o440)
        harness.write(up + "/machine-id", os.urandom(16).hex() + "\n")
        os.mkdir(up + "/ssh")
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                        up + "/ssh/diagpack_host_key"], check=True)
        self.port = free_port()
        harness.write(up + "/ssh/diagpack_sshd_config", SSHD_CONFIG.format(port=self.port))
        box.fake_program("rpm", "sleep ${RPM_DELAY:-0}; printf '%s'" % RPM_INFO)
        if installed:
            shutil.copy(harness.exe(), box.bin + "/diagpack-jce")
        binds = ((box.opt, "/opt"), (self.home, "/home"), (self.roothome, "/root"),
                 (box.bin, "/usr/local/bin"), (box.tmp, "/tmp"))
        script = "; ".join(
            ["set -e", "mount -t overlay overlay -o lowerdir=/etc,upperdir=%s,workdir=%s /etc"
             % (up, box.etc_work), "mount -t tmpfs -o mode=755 tmpfs /run", "mkdir /run/sshd"] +
            ["mount --bind %s %s" % b for b in binds] +
            ["mount -o remount,bind,noexec /tmp" if noexec else ":",
             "exec /usr/sbin/sshd -D -e -f /etc/ssh/diagpack_sshd_config"])
        with open(box.root + "/sshd.log", "wb") as log:
            self.sshd = subprocess.Popen(["unshare", "-m", "--propagation", "private",
                                          "sh", "-c", script], stderr=log)
        test.addCleanup(self.stop)
        self.namespace = None
        deadline = time.time() + 30
        while b"Server listening" not in harness.read(box.root + "/sshd.log"):
            test.assertIsNone(self.sshd.poll(), harness.read(box.root + "/sshd.log"))
            test.assertLess(time.time(), deadline, "sshd did not start")
            time.sleep(0.05)
        self.namespace = os.readlink("/proc/%d/ns/mnt" % self.sshd.pid)
        key_type, key = harness.read(up + "/ssh/diagpack_host_key.pub").decode().split()[:2]
        with open(test.known_hosts, "a") as f:
            f.write("[127.0.0.1]:%d %s %s\n" % (self.port, key_type, key))

    def login(self, user, **variables):
        """Inventory variables of a host that logs in here as |user|."""
        return dict({"ansible_host": "127.0.0.1", "ansible_port": self.port,
                     "ansible_user": user},
                    **({"ansible_become_password": "ops2-secret"} if user == "ops2" else {}),
                    **variables)

    def processes(self):
        """PIDs of what runs in this machine's namespace, sshd aside."""
        return harness.pids_where(lambda pid: os.readlink("/proc/%s/ns/mnt" % pid) ==
                                  self.namespace and harness.read("/proc/%s/comm" % pid) != b"sshd\n")

    def left(self):
        """What a collection left: entries of the machine's /tmp and /root,
        private directories in /opt, processes."""
        return (sorted(os.listdir(self.box.tmp)) + sorted(os.listdir(self.roothome)) +
                sorted(n for n in os.listdir(self.box.opt) if n.startswith("diagpack-")) +
                ["pid %d" % pid for pid in self.processes()])

    def stop(self):
        self.sshd.terminate()
        self.sshd.wait()
        for pid in self.processes():
            os.kill(pid, signal.SIGKILL)


class AnsibleSshTest(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        harness.skip_under_wrapper(self, "ansible runs its own Python on every host")
        self.key, self.known_hosts = self.box.root + "/id", self.box.root + "/known_hosts"
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", self.key], check=True)
        self.addCleanup(self.close_shared_connections)

    def close_shared_connections(self):
        # Ansible's ssh keeps each connection for 60 s after its last use.
        sockets = os.path.join(self.box.root, ".ansible", "cp")
        for name in os.listdir(sockets) if os.path.isdir(sockets) else []:
            subprocess.run(["ssh", "-O", "exit", "-o", "ControlPath=" + os.path.join(sockets, name),
                            "x"], capture_output=True, timeout=30)

    def play(self, hosts, *args, **how):
        common = {"ansible_ssh_private_key_file": self.key,
                  "ansible_ssh_common_args": "-o UserKnownHostsFile=" + self.known_hosts}
        return harness.ansible_playbook(self.box, {"all": {"hosts": hosts, "vars": common}},
                                        *args, **how)

    def recap(self, out):
        """{host: 'ok', 'failed' or 'unreachable'} from the play's recap."""
        found = re.findall(r"^(\S+)\s+: ok=\d+\s+changed=\d+\s+unreachable=(\d+)\s+failed=(\d+)",
                           out, re.M)
        return {h: "unreachable" if u != "0" else "failed" if f != "0" else "ok"
                for h, u, f in found}

    def results(self, name):
        """{stamp: {file name: bytes}} of what reached the controller for |name|."""
        top = os.path.join(self.box.work, "collected")
        return {stamp: {f: harness.read(os.path.join(top, stamp, name, f))
                        for f in os.listdir(os.path.join(top, stamp, name))}
                for stamp in sorted(os.listdir(top))
                if os.path.isdir(os.path.join(top, stamp, name))}

    def archive(self, name, stamp):
        """Where |name|'s archive of run |stamp| went, and its entries."""
        path = os.path.join(self.box.work, "collected", stamp, name, "jce-data.tar.gz")
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
        shutil.rmtree(self.scratch, ignore_errors=True)
        return path, {n: d for n, _, _, d in harness.check_archive(path, self.scratch)}

    def test_fleet_interrupted_then_collected_again(self):
        one, two = Machine(self), Machine(self, noexec=True, installed=False)
        three = Machine(self, installed=False)
        harness.write(one.box.opt + "/log/jce.log", "today\n")
        config = harness.read(one.box.log_config("/opt/log/jce.log"))
        one.box.etc_file("os-release", 'NAME="Fleet"\nVERSION_ID=7\n')
        os.mkdir(two.box.output_dir())
        stale_line = "Output directory /tmp/jce-data already exists."
        # Every run on one lasts a second: aliases of one machine that
        # overlapped would meet each other's staging directory.
        slow = {"diagpack_environment": {"RPM_DELAY": "1"}}
        rc, out = self.play({
            "ops": one.login("ops", **slow), "ops2": one.login("ops2", **slow),
            "stale": two.login("ops", diagpack_binary=harness.exe(), diagpack_binary_dir="/opt"),
            "cli": three.login("ops", diagpack_binary=harness.exe("cli")),
            "late": three.login("ops2", diagpack_binary=harness.exe(), diagpack_timeout=1,
                                diagpack_environment={"RPM_DELAY": "30"}),
            "down": {"ansible_host": "127.0.0.1", "ansible_port": free_port()}})
        self.assertEqual(self.recap(out), {"ops": "ok", "ops2": "ok", "stale": "failed",
                                           "cli": "failed", "late": "failed",
                                           "down": "unreachable"}, out)
        (first, files), = self.results("ops").items()
        self.assertEqual(files["jce-stderr.txt"], b"")
        path, entries = self.archive("ops", first)
        self.assertIn('"msg": "%s (' % path, out)
        self.assertEqual(entries["jce-data/osInfo.txt"].split(b"\n")[-2],
                         b"Version: Linux 7 Fleet")
        self.assertEqual((entries["jce-data/quorvane-jce.cfg"], entries["jce-data/jce.log"],
                          entries["jce-data/jcePackageInfo.txt"]),
                         (config, b"today\n", RPM_INFO.encode()))
        self.assertEqual(self.results("ops2")[first]["jce-stderr.txt"], b"")
        verdict = "diagpack-jce exited with status 1"
        self.assertIn(verdict + ": " + stale_line, out)
        self.assertEqual(self.results("stale")[first],
                         {"jce-stderr.txt": (stale_line + "\n" + verdict + "\n").encode()})
        for name, says in (("cli", "diagpack-jce made cli-data.tar.gz, not jce-data.tar.gz"),
                           ("late", "diagpack-jce did not finish within diagpack_timeout (1 s) "
                                    "and was stopped; it removed its staging directory")):
            self.assertIn(says, out)
            self.assertIn(says, self.results(name)[first]["jce-stderr.txt"].decode())
        self.assertEqual((one.left(), two.left(), three.left()), ([], ["jce-data"], []))

        # Ctrl-C on the controller while runs are going stops them, over a
        # terminal (a hang-up) or without one (the session's pipe closes),
        # and they leave nothing behind.
        os.rmdir(two.box.output_dir())
        slow = {"diagpack_environment": {"RPM_DELAY": "30"}}
        notty = two.login("ops", ansible_ssh_use_tty=False, diagpack_binary=harness.exe(),
                          diagpack_binary_dir="/opt", **slow)
        p = self.play({"ops": one.login("ops", **slow), "notty": notty}, wait=False)
        while not all(os.path.exists(m.box.output_dir()) for m in (one, two)):
            if p.poll() is not None:
                self.fail(p.stdout.read())
            time.sleep(0.1)
        os.killpg(p.pid, signal.SIGINT)
        self.assertIn("User interrupted execution", p.communicate(timeout=60)[0])
        deadline = time.time() + 30
        while one.left() + two.left() and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual((one.left(), two.left()), ([], []))

        # A second collection succeeds there and keeps the first; the bare
        # binary goes by a relative path to a host whose run writes where
        # its login cannot go.
        rc, out = self.play({
            "ops": one.login("ops"),
            "bare": two.login("ops", diagpack_environment={"TMPDIR": "/root"},
                              diagpack_binary=os.path.relpath(harness.exe(), self.box.work),
                              diagpack_binary_dir="/opt")})
        self.assertEqual(rc, 0, out)
        first_again, second = self.results("ops")
        self.assertEqual(first_again, first)
        self.assertIn('"msg": "%s (' % self.archive("ops", second)[0], out)
        self.assertEqual(self.archive("bare", second)[1]["jce-data/jcePackageInfo.txt"],
                         RPM_INFO.encode())
        self.assertEqual((one.left(), two.left()), ([], []))

    def test_checks_touch_no_host(self):
        one = Machine(self)
        hosts = {"ops": one.login("ops"), "nosudo": one.login("nosudo")}
        full = self.box.work + "/full"
        os.mkdir(full)
        in_full = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                   harness.tmpfs_shell(full, "512k") + ' && exec "$@"', "sh"]
        for args, wrap, says in (
                (["-e", "diagpack_key=jcee"], (),
                 "diagpack_key must be one of dyn, jce, pkcs11, cli (got 'jcee')"),
                (["-e", "diagpack_results_dir=full"], in_full,
                 " has 512.0 KiB free; a collection needs at least 1 MiB")):
            with self.subTest(args[-1]):
                rc, out = self.play(hosts, *args, wrap=wrap)
                self.assertEqual(out.count(says), 2, out)
        self.assertNotIn(b"Accepted", harness.read(one.box.root + "/sshd.log"))
        for extra, says in ((["--check"], "diagpack-jce (installed) would run as root"),
                            (["--tags", "preflight"], "")):
            with self.subTest(extra[0]):
                rc, out = self.play(hosts, *extra)
                self.assertIn(says, out)
                self.assertRegex(out, r"\nops\s+: ok=\d+\s+changed=0\s+unreachable=0\s+failed=0")
                self.assertIn("nosudo cannot become root on nosudo (Missing sudo password)", out)
                self.assertFalse(os.path.exists(os.path.join(self.box.work, "collected")))
                self.assertEqual(one.left(), [])


if __name__ == "__main__":
    harness.main(programs=["ansible-playbook", "sshd", "sudo"])
