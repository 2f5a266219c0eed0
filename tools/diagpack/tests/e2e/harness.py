"""Runs the real executables as a user would, each run in a private mount
namespace that sees its own /opt and /etc and never the host's.

Inside the namespace:
  /opt  is a bind mount of <sandbox>/opt (holding quorvane/etc);
  /etc  is an overlay whose upper layer holds the run's release files; a
        file that must be absent is a whiteout (a 0/0 character device);
  PATH  starts with <sandbox>/bin, where fake dpkg-query / rpm live;
  TMPDIR is <sandbox>/tmp unless a test sets it otherwise.

A test module calls harness.main() instead of unittest.main(): it exits 77
(skipped) when namespaces are unavailable and says so.
"""

import gzip
import json
import os
import pty
import shutil
import signal
import stat
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

BIN_DIR = os.environ.get("DIAGPACK_BIN_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "..", "..", "build", "bin")
SKIP = 77
# A command that every run of the tool goes through, e.g. valgrind's
# memcheck (make memcheck): "valgrind --error-exitcode=99 -q".
WRAPPER = os.environ.get("DIAGPACK_E2E_WRAPPER", "")

COMPONENTS = {"dyn": 0, "jce": 1, "pkcs11": 2, "cli": 3}
# What the fake rpm prints by default, and the copy stages' text for a
# source that is no regular file.
PACKAGE_REPORT = "Name        : quorvane-jce\nVersion     : 1.2.3\n"
NOT_REGULAR = "the source path is neither a regular file nor a symlink to a regular file"


def namespaces_available():
    if os.geteuid() != 0:
        return False, "not running as root"
    if shutil.which("unshare") is None:
        return False, "unshare not found"
    probe = subprocess.run(
        ["unshare", "-m", "--propagation", "private", "sh", "-c",
         "mount -t tmpfs tmpfs /mnt"],
        capture_output=True)
    if probe.returncode != 0:
        return False, "unshare -m failed: " + probe.stderr.decode(errors="replace")
    return True, ""


def main(programs=()):
    """Runs the module's tests; exits 77 (skipped) without namespaces or
    without one of |programs| on PATH."""
    ok, why = namespaces_available()
    if not ok:
        print("SKIPPED: private mount namespaces unavailable (%s)" % why)
        sys.exit(SKIP)
    for program in programs:
        if shutil.which(program) is None:
            print("SKIPPED: %s is not installed" % program)
            sys.exit(SKIP)
    unittest.main(verbosity=2)


def run_to_end(cmd, timeout, stdout=None, stderr=None, **popen_args):
    """subprocess.run(cmd, capture_output=True, timeout=timeout), except that
    |cmd| starts a session of its own, and every process still in it is
    killed should the run time out (or the wait be interrupted): killing the
    first process alone would leave the tool (which blocks SIGTERM) and its
    package manager (in a process group of its own) running. |stdout| or
    |stderr|, when given, replaces that pipe (its output is then None)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE if stdout is None else stdout,
                            stderr=subprocess.PIPE if stderr is None else stderr,
                            start_new_session=True, **popen_args)
    try:
        out, err = proc.communicate(timeout=timeout)
    finally:
        if proc.returncode is None:
            kill_session(proc.pid)
            proc.communicate()
    return subprocess.CompletedProcess(cmd, proc.returncode, out, err)


def kill_session(sid):
    """Sends SIGKILL to every live process of session |sid| until none is
    left (giving up after ten seconds of processes that do not die)."""
    def alive_in_session(pid):  # state, parent, process group and session follow the name
        fields = read("/proc/%s/stat" % pid).rsplit(b")", 1)[1].split()
        return int(fields[3]) == sid and fields[0] not in (b"Z", b"X")
    for _ in range(1000):
        members = pids_where(alive_in_session)
        if not members:
            return
        for pid in members:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.01)


def pids_where(test):
    """The PIDs for which |test|(pid as a string) holds, of the processes
    that /proc lists; one that goes away meanwhile (|test| raises) is left
    out."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if test(pid):
                found.append(int(pid))
        except (OSError, IndexError):
            pass
    return found


def skip_under_wrapper(test, why):
    """Skips |test| when runs go through DIAGPACK_E2E_WRAPPER (valgrind keeps
    files in TMPDIR and descriptors of its own, which such tests count)."""
    if WRAPPER:
        test.skipTest("under %s: %s" % (WRAPPER.split()[0], why))


def exe(key="jce"):
    return os.path.abspath(os.path.join(BIN_DIR, "diagpack-" + key))


class Result:
    def __init__(self, proc):
        self.status = proc.returncode
        self.out_bytes = proc.stdout or b""
        self.err_bytes = proc.stderr or b""
        self.out = self.out_bytes.decode("utf-8", errors="replace")
        self.err = self.err_bytes.decode("utf-8", errors="replace")

    def __repr__(self):
        return "status=%r\nstdout=%r\nstderr=%r" % (self.status, self.out, self.err)


class Sandbox:
    """A private world for runs. Files written here show up inside the
    namespace at /opt, /etc and on PATH."""

    ABSENT = object()

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="diagpack-e2e-")
        os.chmod(self.root, 0o755)
        self.opt = os.path.join(self.root, "opt")
        self.config_dir = os.path.join(self.opt, "quorvane", "etc")
        self.etc_upper = os.path.join(self.root, "etc-upper")
        self.etc_work = os.path.join(self.root, "etc-work")
        self.bin = os.path.join(self.root, "bin")
        self.tmp = os.path.join(self.root, "tmp")
        self.work = os.path.join(self.root, "work")
        for d in (self.config_dir, self.etc_upper, self.etc_work, self.bin,
                  self.tmp, self.work):
            os.makedirs(d)
        os.chmod(self.tmp, 0o1777)
        # Defaults: an rpm host with no release files at all and no SDK.
        for name in ("os-release", "lsb-release", "system-release"):
            self.etc_file(name, self.ABSENT)

    def close(self):
        subprocess.run(["chattr", "-R", "-i", self.root], capture_output=True)
        for dirpath, dirnames, _ in os.walk(self.root):
            for d in dirnames:
                p = os.path.join(dirpath, d)
                if not os.path.islink(p):
                    try:
                        os.chmod(p, 0o755)
                    except OSError:
                        pass
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- files the run sees -------------------------------------------------

    def etc_file(self, name, content):
        """Puts /etc/<name> in the run's view: bytes/str content, or ABSENT."""
        path = os.path.join(self.etc_upper, name)
        if os.path.lexists(path):
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        if content is self.ABSENT:
            os.mknod(path, stat.S_IFCHR | 0o000, os.makedev(0, 0))
            return path
        write(path, content)
        return path

    def config_path(self, key="jce"):
        return os.path.join(self.config_dir, "quorvane-%s.cfg" % key)

    def write_config(self, content, key="jce", mode=0o644):
        path = self.config_path(key)
        write(path, content, mode)
        return path

    def log_config(self, log_location, key="jce"):
        """A configuration file whose logging.log_file is |log_location|,
        a path as the run sees it."""
        return self.write_config(json.dumps({"logging": {"log_file": log_location}}), key)

    def inside(self, host_path):
        """The path under which the run sees a file of <sandbox>/opt."""
        rel = os.path.relpath(host_path, self.opt)
        assert not rel.startswith(".."), host_path
        return os.path.join("/opt", rel)

    def fake_program(self, name, body):
        """A shell script on PATH; |body| follows '#!/bin/sh'."""
        path = os.path.join(self.bin, name)
        write(path, "#!/bin/sh\n" + body + "\n", 0o755)
        return path

    def fake_package_manager(self, name="rpm", stdout="", status=0, stderr=""):
        """Records its argv in <bin>/<name>.argv, prints |stdout| and exits."""
        data = os.path.join(self.bin, name + ".stdout")
        write(data, stdout)
        err = os.path.join(self.bin, name + ".stderr")
        write(err, stderr)
        argv = os.path.join(self.bin, name + ".argv")
        return self.fake_program(name,
            'for a in "$0" "$@"; do printf "%%s\\n" "$a"; done > %s\n'
            'cat %s\ncat %s >&2\nexit %d' % (argv, data, err, status))

    def rpm_that(self, body, stdout=PACKAGE_REPORT):
        """A fake rpm that runs the shell |body|, with $out naming the output
        directory, and prints |stdout|. The package stage runs just before
        the archive step, so what it leaves in $out is what the archive
        step finds."""
        data = os.path.join(self.bin, "rpm.stdout")
        write(data, stdout)
        return self.fake_program("rpm", 'out="$TMPDIR/jce-data"\n%s\ncat "%s"' % (body, data))

    def recorded_argv(self, name):
        with open(os.path.join(self.bin, name + ".argv")) as f:
            return f.read().splitlines()

    # --- running -------------------------------------------------------------

    def run(self, key="jce", args=(), env=None, tmpdir=None, umask=0o022,
            cwd=None, pre="", post="", argv0=None, stdin=None, timeout=120,
            shell_redirect="", through="", stdout=None, stderr=None):
        """Runs diagpack-<key> in a private mount namespace.

        args:    the tool's arguments, str or raw bytes.
        env:     extra variables; None as a value unsets one (TMPDIR=None).
        tmpdir:  TMPDIR value (default <sandbox>/tmp).
        pre:     shell run inside the namespace before the tool.
        post:    shell run after it (its output goes to post_log()).
        argv0:   argv[0], str or bytes (default the executable's path).
        shell_redirect: appended to the tool's command, e.g. '>&-'.
        through: shell words that run the tool, e.g. '/usr/bin/time -f %M'
                 (argv[0] is then the executable's path).
        stdout, stderr: a descriptor or file for that stream instead of
                 capturing it (a Terminal's fd); the Result then holds "".
        """
        variables = {
            "PATH": self.bin + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "TMPDIR": self.tmp if tmpdir is None else tmpdir,
            "LANG": "C",
        }
        for k, v in (env or {}).items():
            variables[k] = v
        variables = {_b(k): _b(v) for k, v in variables.items() if v is not None}
        script = "\n".join([
            "set -e",
            "mount --bind '%s' /opt" % self.opt,
            "mount -t overlay overlay -o lowerdir=/etc,upperdir='%s',workdir='%s' /etc"
            % (self.etc_upper, self.etc_work),
            "cd '%s'" % (cwd or self.work),
            "umask %03o" % umask,
            pre,
            "set +e",
            'prog="$1"; argv0="$2"; shift 2',
            ('(exec -a "$argv0" "$prog" "$@") ' if not (WRAPPER or through) else
             '(exec ' + (through or WRAPPER) + ' "$prog" "$@") ') + shell_redirect,
            "rc=$?",
            "(%s) >'%s/post.log' 2>&1" % (post or ":", self.root),
            "exit $rc",
        ])
        prog = exe(key)
        if WRAPPER and argv0 is not None:
            raise unittest.SkipTest("argv[0] cannot be chosen under " + WRAPPER.split()[0])
        cmd = [b"unshare", b"-m", b"--propagation", b"private", b"bash", b"-c",
               script.encode(), b"bash", prog.encode(),
               _b(argv0) if argv0 is not None else prog.encode()]
        cmd += [_b(a) for a in args]
        proc = run_to_end(cmd, timeout, env=variables,
                          stdin=stdin if stdin is not None else subprocess.DEVNULL,
                          stdout=stdout, stderr=stderr)
        if WRAPPER and proc.stderr and b"valgrind: " in proc.stderr:
            # valgrind keeps its own files in TMPDIR and cannot start where
            # a test makes that unusable; those cases run in the plain suite.
            raise unittest.SkipTest("valgrind cannot start here: " +
                                    proc.stderr.decode(errors="replace").splitlines()[-1])
        return Result(proc)

    def post_log(self):
        with open(os.path.join(self.root, "post.log"), errors="replace") as f:
            return f.read()

    # --- what a run leaves --------------------------------------------------

    def output_dir(self, key="jce"):
        return os.path.join(self.tmp, "%s-data" % key)

    def archive_path(self, key="jce"):
        return os.path.join(self.tmp, "%s-data.tar.gz" % key)


class SandboxCase(unittest.TestCase):
    """Base class of the end-to-end cases: each test gets a fresh Sandbox as
    self.box, removed again however the test ends, and self.scratch, a
    directory name below it for the archive readers' extractions."""

    def setUp(self):
        self.box = Sandbox()
        self.addCleanup(self.box.close)
        self.scratch = os.path.join(self.box.root, "scratch")

    def assert_success(self, r, key="jce"):
        """The run ended with the success line and its output directory is
        gone. Returns the archive's path."""
        archive = self.box.archive_path(key)
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines(), success_lines(key, archive), r)
        self.assertFalse(os.path.lexists(self.box.output_dir(key)), r)
        return archive

    def assert_archived(self, r, key="jce"):
        """assert_success, and every reader accepts the archive. Returns
        {entry name: bytes, or None for a non-regular entry}."""
        archive = self.assert_success(r, key)
        shutil.rmtree(self.scratch, ignore_errors=True)
        return {name: data for name, _, _, data in check_archive(archive, self.scratch)}

    def assert_archive_failed(self, r, error):
        """The run ended normally, the archive step printed its failure line
        for |error| last, and the output directory stayed."""
        out_dir = self.box.output_dir()
        self.assertEqual(r.status, 0, r)
        self.assertEqual(r.out.splitlines(), banners(), r)
        self.assertEqual(r.err.splitlines()[-1], archive_failure(out_dir, error), r)
        self.assertTrue(os.path.isdir(out_dir), r)


class Terminal:
    """A pseudo-terminal for a run's standard streams: pass .fd as stdout or
    stderr of Sandbox.run. read() closes it and returns every byte it was
    given (a line feed as carriage return and line feed); it holds 64 KiB,
    far more than a run prints."""

    def __init__(self):
        self.master, self.fd = pty.openpty()

    def read(self):
        os.close(self.fd)
        seen = b""
        try:
            while chunk := os.read(self.master, 65536):
                seen += chunk
        except OSError:  # EIO: no descriptor of the terminal is open
            pass
        os.close(self.master)
        return seen


def screen(data):
    """The lines a terminal shows after receiving |data|: a carriage return
    moves to the start of the line, a line feed one line down, and every
    other character replaces the one under the cursor. Trailing blanks and
    a last empty line are left out."""
    rows, row, col = [[]], 0, 0
    for ch in data.decode("utf-8", errors="replace"):
        if ch == "\r":
            col = 0
        elif ch == "\n":
            row += 1
            if row == len(rows):
                rows.append([])
        else:
            line = rows[row]
            line.extend(" " * (col + 1 - len(line)))
            line[col] = ch
            col += 1
    lines = ["".join(r).rstrip(" ") for r in rows]
    return lines[:-1] if lines and lines[-1] == "" else lines


def _b(v):
    return v if isinstance(v, bytes) else str(v).encode()


def write(path, content, mode=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(_b(content))
    if mode is not None:
        os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# --- what a run prints ----------------------------------------------------------

def success_lines(key="jce", archive=None):
    return ["Collecting os info", "Collecting config files", "Collecting log files",
            "Collecting %s info" % key,
            "Logs and config can be found at %s" % archive]


def banners(key="jce"):
    """The four stage banners, without the success line."""
    return success_lines(key)[:4]


def os_failure(error=""):
    return "Failed to get os info, skipping. " + error


def config_failure(error="", key="jce"):
    return "Failed to get %s config files, skipping. %s" % (key, error)


def log_failure(error="", key="jce"):
    return "Failed to get %s logs, skipping. %s" % (key, error)


def package_failure(error="", key="jce"):
    return "Failed to get %s package details, skipping. %s" % (key, error)


def archive_failure(out_dir, error):
    return "Failed to archive output directory, %s, skipping. %s" % (out_dir, error)


# --- independent archive readers ---------------------------------------------

def python_entries(archive):
    """[(name, type, size, data or None)] read with Python's tarfile."""
    out = []
    with tarfile.open(archive, "r:gz") as tf:
        for m in tf.getmembers():
            data = tf.extractfile(m).read() if m.isreg() else None
            out.append((m.name, m.type, m.size, data))
    return out


def gnu_tar_names(archive):
    p = subprocess.run(["tar", "-tzf", archive], capture_output=True, check=True)
    return p.stdout.decode("utf-8", errors="surrogateescape").splitlines()


def bsdtar_names(archive):
    p = subprocess.run(["bsdtar", "-tzf", archive], capture_output=True, check=True)
    return p.stdout.decode("utf-8", errors="surrogateescape").splitlines()


EXTRACT = {"tar": ["tar", "--sparse", "-xzf"], "bsdtar": ["bsdtar", "-xzf"]}


def extract_with(tool, archive, dest):
    os.makedirs(dest, exist_ok=True)
    subprocess.run(EXTRACT[tool] + [archive, "-C", dest], capture_output=True, check=True)


def gzip_ok(archive):
    return subprocess.run(["gzip", "-t", archive], capture_output=True).returncode == 0


def tar_stream(archive):
    with gzip.open(archive, "rb") as f:
        return f.read()


def collected(box, key="jce"):
    """{relative name: bytes or None for non-regular} of what a run collected:
    read from the archive when the run made one (with Python's tarfile),
    else from the output directory left on disk."""
    top = "%s-data" % key
    archive = box.archive_path(key)
    files = {}
    if os.path.exists(archive):
        for name, typ, _size, data in python_entries(archive):
            rel = name[len(top):].lstrip("/")
            if rel:
                files[rel] = data
        return files
    out = box.output_dir(key)
    for dirpath, dirnames, filenames in os.walk(out):
        for n in filenames + [d for d in dirnames]:
            p = os.path.join(dirpath, n)
            rel = os.path.relpath(p, out)
            files[rel] = read(p) if os.path.isfile(p) and not os.path.islink(p) else None
    return files


def collected_logs(box, key="jce"):
    """collected() without the files of the other three stages."""
    others = {"osInfo.txt", "quorvane-%s.cfg" % key, "%sPackageInfo.txt" % key}
    return {k: v for k, v in collected(box, key).items() if k not in others}


def collected_mode(box, name, key="jce"):
    """Permission bits of a collected file (archive header or disk)."""
    archive = box.archive_path(key)
    if os.path.exists(archive):
        with tarfile.open(archive, "r:gz") as tf:
            return tf.getmember("%s-data/%s" % (key, name)).mode & 0o7777
    return os.stat(os.path.join(box.output_dir(key), name)).st_mode & 0o7777


# --- small or odd temporary directories, and archives every reader accepts ----

def tmpfs_shell(path, size="1m", options="mode=1777"):
    """Shell for Sandbox.run(pre=...): a tmpfs of |size| over |path| inside
    the run's namespace (it vanishes with the namespace: see keep_shell)."""
    return "mount -t tmpfs -o size=%s,%s tmpfs '%s'" % (size, options, path)


def fill_shell(directory, free, filler=None):
    """Shell that writes zeros into |filler| (default <directory>/filler)
    until only |free| bytes (a multiple of 4096) of the file system holding
    |directory| stay free."""
    filler = filler or os.path.join(directory, "filler")
    return ('avail=$(( $(stat -f -c %%a "%s") * $(stat -f -c %%S "%s") )); '
            'head -c $(( avail - %d )) /dev/zero > "%s"'
            % (directory, directory, free, filler))


def keep_shell(tmp, dest, key="jce"):
    """Shell for Sandbox.run(post=...): copies what a run left in |tmp| (the
    output directory and the archive) to |dest| on the host."""
    return ("mkdir -p '{d}'; for f in '{t}/{k}-data' '{t}/{k}-data.tar.gz'; do "
            "if [ -e \"$f\" ]; then cp -a \"$f\" '{d}/'; fi; done"
            .format(d=dest, t=tmp, k=key))


def check_archive(archive, scratch, extract=True):
    """Reads |archive| with gzip -t, Python's tarfile, GNU tar and bsdtar and
    raises AssertionError unless all accept it and agree on every name and,
    when |extract|, on the content of every regular file (both tools extract
    under |scratch|). Returns tarfile's [(name, type, size, data)]."""
    def fail(what, detail=b""):
        raise AssertionError("%s: %s %s" % (archive, what, detail[-2000:]))
    if not gzip_ok(archive):
        fail("gzip -t rejects it")
    try:
        entries = python_entries(archive)
    except (tarfile.TarError, EOFError, OSError) as e:
        fail("tarfile rejects it", str(e).encode())
    names = [name for name, _, _, _ in entries]
    for lister in (["tar", "-tzf"], ["bsdtar", "-tzf"]):
        p = subprocess.run(lister + [archive], capture_output=True)
        if p.returncode != 0 or p.stderr:
            fail(lister[0] + " -t rejects it", p.stderr)
        listed = p.stdout.decode("utf-8", errors="surrogateescape").splitlines()
        if [n.rstrip("/") for n in listed] != names:
            fail(lister[0] + " lists other names")
    if extract:
        for tool in ("tar", "bsdtar"):
            dest = os.path.join(scratch, "x-" + tool)
            os.makedirs(dest)
            p = subprocess.run(EXTRACT[tool] + [archive, "-C", dest], capture_output=True)
            if p.returncode != 0:
                fail(tool + " cannot extract it", p.stderr)
            for name, typ, _size, data in entries:
                path = os.path.join(dest, name)
                if typ == tarfile.DIRTYPE and not os.path.isdir(path):
                    fail("%s made no directory %s" % (tool, name))
                if data is not None and read(path) != data:
                    fail("%s extracts other bytes for %s" % (tool, name))
            shutil.rmtree(dest)
    return entries


# --- the fleet playbook ---------------------------------------------------------

PLAYBOOK = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                        "..", "..", "..", "..", "contrib", "ansible", "collect.yml")


def ansible_playbook(box, inventory, *args, wrap=(), wait=True):
    """Runs the fleet playbook with -e diagpack_key=jce and |args| on
    |inventory| (a dict), in box.work with box.root as HOME, through the
    command words |wrap|. Returns (status, output); without |wait|, the
    running Popen, in a session of its own."""
    write(box.root + "/inventory.json", json.dumps(inventory))
    write(box.root + "/ansible.cfg", "")
    env = dict(os.environ, HOME=box.root, ANSIBLE_CONFIG=box.root + "/ansible.cfg",
               ANSIBLE_NOCOLOR="1", ANSIBLE_LOCAL_TEMP=box.root + "/a-local")
    p = subprocess.Popen(list(wrap) + ["ansible-playbook", "-i", box.root + "/inventory.json",
                                       PLAYBOOK, "-e", "diagpack_key=jce"] + list(args),
                         cwd=box.work, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, start_new_session=True)
    if not wait:
        return p
    out = p.communicate(timeout=150)[0]
    return p.returncode, out
