"""The configuration file copy stage, seen from outside: what lands in the
archive and which failure lines a run prints."""

import os

import harness
from harness import Sandbox, config_failure, log_failure

CFG = "quorvane-jce.cfg"
NOT_REGULAR = config_failure(harness.NOT_REGULAR)


class ConfigCopyTest(harness.SandboxCase):
    def config_lines(self, r):
        return [l for l in r.err.splitlines() if l.startswith(config_failure())]

    def test_copy_keeps_content_and_mode_under_umask_077(self):
        for mode in (0o600, 0o644):
            with self.subTest(mode=oct(mode)):
                with Sandbox() as box:
                    text = '{"logging": {"log_file": "/opt/none/jce.log"}}\n'
                    box.write_config(text, mode=mode)
                    r = box.run(umask=0o077)
                    self.assertEqual(r.status, 0, r)
                    self.assertEqual(self.config_lines(r), [], r)
                    self.assertEqual(harness.collected(box)[CFG], text.encode())
                    self.assertEqual(harness.collected_mode(box, CFG), mode)

    def test_config_that_is_a_directory(self):
        os.makedirs(self.box.config_path())
        r = self.box.run()
        err = r.err.splitlines()
        self.assertIn(NOT_REGULAR, err)
        self.assertIn(log_failure("Is a directory (os error 21)"), err)
        self.assertNotIn(CFG, harness.collected(self.box))

    def test_config_that_is_a_fifo_or_device_does_not_hold_up_the_run(self):
        # Both stages refuse it: a link to /dev/zero must not be read whole.
        for kind, make in (("fifo", os.mkfifo),
                           ("/dev/zero link", lambda p: os.symlink("/dev/zero", p))):
            with self.subTest(kind=kind), Sandbox() as box:
                make(box.config_path())
                r = box.run(timeout=60)
                self.assertEqual(r.status, 0, r)
                err = r.err.splitlines()
                self.assertIn(NOT_REGULAR, err)
                self.assertIn(log_failure(harness.NOT_REGULAR), err)
                self.assertNotIn(CFG, harness.collected(box))
                self.assertEqual(r.out.splitlines()[-1],
                                 "Logs and config can be found at %s" % box.archive_path())

    def test_each_component_copies_its_own_file(self):
        self.box.write_config("pkcs11 config", key="pkcs11")
        self.box.write_config("jce config", key="jce")
        r = self.box.run(key="pkcs11")
        self.assertEqual(r.status, 0, r)
        files = harness.collected(self.box, key="pkcs11")
        self.assertEqual(files["quorvane-pkcs11.cfg"], b"pkcs11 config")
        self.assertNotIn(CFG, files)


if __name__ == "__main__":
    harness.main()
