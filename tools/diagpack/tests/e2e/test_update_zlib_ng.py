"""scripts/update-zlib-ng.sh replaces the vendored zlib-ng only with a
tarball whose SHA-256 is the one given, and leaves out what the build never
reads. Runs a copy of the script in a scratch tree, never on this one."""

import hashlib
import os
import shutil
import subprocess
import tarfile
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                      "../../../../scripts/update-zlib-ng.sh")


class UpdateZlibNgTest(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="update-zlib-ng-")
        self.addCleanup(shutil.rmtree, self.tree)
        os.makedirs(os.path.join(self.tree, "scripts"))
        os.makedirs(os.path.join(self.tree, "third_party/zlib-ng"))
        shutil.copy(SCRIPT, os.path.join(self.tree, "scripts"))
        self.vendored("old")

    def vendored(self, text=None):
        path = os.path.join(self.tree, "third_party/zlib-ng/zlib.h.in")
        if text is not None:
            with open(path, "w") as f:
                f.write(text)
        with open(path) as f:
            return f.read()

    def tarball(self, top_has_header=True):
        src = os.path.join(self.tree, "src/zlib-ng-9.9.9")
        os.makedirs(os.path.join(src, "test"))
        if top_has_header:
            with open(os.path.join(src, "zlib.h.in"), "w") as f:
                f.write('#define ZLIBNG_VERSION "9.9.9"\n')
        path = os.path.join(self.tree, "zlib-ng-9.9.9.tar.gz")
        with tarfile.open(path, "w:gz") as t:
            t.add(src, "zlib-ng-9.9.9")
        shutil.rmtree(os.path.join(self.tree, "src"))
        with open(path, "rb") as f:
            return path, hashlib.sha256(f.read()).hexdigest()

    def update(self, path, sha):
        return subprocess.run([os.path.join(self.tree, "scripts/update-zlib-ng.sh"), path, sha],
                              capture_output=True, text=True)

    def test_refuses_a_wrong_hash_or_a_foreign_tarball_and_keeps_the_copy(self):
        path, sha = self.tarball()
        r = self.update(path, "0" * 64)
        self.assertEqual(r.returncode, 1, r)
        self.assertIn("expected " + "0" * 64, r.stderr)
        os.remove(path)
        path, sha = self.tarball(top_has_header=False)
        self.assertEqual(self.update(path, sha).returncode, 1)
        self.assertEqual(self.vendored(), "old")

    def test_replaces_the_copy_without_its_tests_and_records_the_hash(self):
        path, sha = self.tarball()
        r = self.update(path, sha.upper())
        self.assertEqual(r.returncode, 0, r)
        self.assertIn("9.9.9", self.vendored())
        self.assertFalse(os.path.exists(os.path.join(self.tree, "third_party/zlib-ng/test")))
        with open(os.path.join(self.tree, "third_party/zlib-ng.sha256")) as f:
            self.assertEqual(f.read(), sha + "  zlib-ng-9.9.9.tar.gz\n")


if __name__ == "__main__":
    unittest.main()
