"""scripts/update-zlib-ng.sh replaces the vendored zlib-ng only with a
tarball of the SHA-256 given, and without its tests. It runs as a copy in a
scratch tree, never on this one."""

import hashlib
import os
import shutil
import subprocess
import tarfile
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


class UpdateZlibNgTest(unittest.TestCase):
    def test_only_the_right_tarball_replaces_the_copy(self):
        tree = tempfile.mkdtemp(prefix="update-zlib-ng-")
        self.addCleanup(shutil.rmtree, tree)
        for d in ("scripts", "third_party/zlib-ng", "src/zlib-ng-9.9/test"):
            os.makedirs(os.path.join(tree, d))
        shutil.copy(os.path.join(HERE, "../../../../scripts/update-zlib-ng.sh"),
                    os.path.join(tree, "scripts"))
        header = lambda top: os.path.join(tree, top, "zlib.h.in")
        for top, text in (("third_party/zlib-ng", "old"),
                          ("src/zlib-ng-9.9", '#define ZLIBNG_VERSION "9.9"\n')):
            with open(header(top), "w") as f:
                f.write(text)

        def update(top, sha=None):
            path = os.path.join(tree, "release.tar.gz")
            with tarfile.open(path, "w:gz") as t:
                for name in os.listdir(os.path.join(tree, top)):
                    t.add(os.path.join(tree, top, name), name)
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            proc = subprocess.run([os.path.join(tree, "scripts/update-zlib-ng.sh"),
                                   path, sha or digest.upper()], capture_output=True)
            with open(header("third_party/zlib-ng")) as f:
                return proc.returncode, f.read(), digest

        # A wrong hash, and a tarball that is not one folder.
        self.assertEqual(update("src", "0" * 64)[:2], (1, "old"))
        self.assertEqual(update("src/zlib-ng-9.9")[:2], (1, "old"))
        status, text, digest = update("src")
        self.assertEqual((status, text), (0, '#define ZLIBNG_VERSION "9.9"\n'))
        self.assertFalse(os.path.exists(os.path.join(tree, "third_party/zlib-ng/test")))
        with open(os.path.join(tree, "third_party/zlib-ng.sha256")) as f:
            self.assertEqual(f.read(), digest + "  release.tar.gz\n")


if __name__ == "__main__":
    unittest.main()
