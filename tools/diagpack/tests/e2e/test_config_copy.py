"""The configuration file copy stage, seen from outside: what lands in the
archive and which failure lines a run prints."""

import os

import harness
from harness import NOT_REGULAR, config_failure, log_failure


class ConfigCopyTest(harness.SandboxCase):
    def test_config_that_is_a_fifo_or_device_does_not_hold_up_the_run(self):
        # Both stages refuse it: a link to /dev/zero must not be read whole.
        config = self.box.config_path()
        for kind, make in (("fifo", os.mkfifo),
                           ("/dev/zero link", lambda p: os.symlink("/dev/zero", p))):
            with self.subTest(kind=kind):
                if os.path.lexists(config):
                    os.unlink(config)
                make(config)
                r = self.box.run(timeout=60)
                self.assert_success(r)
                err = r.err.splitlines()
                self.assertIn(config_failure(NOT_REGULAR), err)
                self.assertIn(log_failure(NOT_REGULAR), err)
                self.assertNotIn("quorvane-jce.cfg", harness.collected(self.box))


if __name__ == "__main__":
    harness.main()
