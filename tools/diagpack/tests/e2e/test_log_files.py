"""The log file collection stage, seen from outside: which entries of the
log directory land in the archive and which failure lines a run prints."""

import os

import harness
from harness import Sandbox, log_failure


class LogFilesTest(harness.SandboxCase):
    def setUp(self):
        super().setUp()
        self.logs = os.path.join(self.box.opt, "var", "log", "app")
        os.makedirs(self.logs)

    def add_log(self, name, content=None):
        harness.write(os.path.join(self.logs, name), content if content is not None else name)

    def log_failures(self, r):
        return [l for l in r.err.splitlines() if l.startswith(log_failure())]

    def run_with_location(self, location):
        self.box.log_config(location)
        return self.box.run()

    def test_entries_containing_the_log_name_are_copied(self):
        for name in ("jce.log", "jce.log.1", "jce.log.2.gz", "old-jce.log", "JCE.log"):
            self.add_log(name)
        os.mkdir(os.path.join(self.logs, "jce.log.d"))
        harness.write(os.path.join(self.logs, "jce.log.d", "inner.jce.log"), "x")
        os.symlink("jce.log.d", os.path.join(self.logs, "jce.log.link"))
        r = self.run_with_location(self.box.inside(os.path.join(self.logs, "jce.log")))
        self.assertEqual(r.status, 0, r)
        self.assertEqual(self.log_failures(r), [], r)
        self.assertEqual(harness.collected_logs(self.box),
                         {n: n.encode() for n in
                          ("jce.log", "jce.log.1", "jce.log.2.gz", "old-jce.log")})

    def test_dangling_link_stops_the_stage_after_earlier_copies(self):
        names = ["jce.log.%d" % i for i in range(6)]
        for name in names:
            self.add_log(name)
        os.symlink("/opt/nowhere", os.path.join(self.logs, "jce.log.dangling"))
        order = [n for n in os.listdir(self.logs) if n in names or n == "jce.log.dangling"]
        before = order[:order.index("jce.log.dangling")]
        r = self.run_with_location(self.box.inside(os.path.join(self.logs, "jce.log")))
        self.assertEqual(r.status, 0, r)
        self.assertIn(log_failure("No such file or directory (os error 2)"), r.err.splitlines())
        self.assertEqual(harness.collected_logs(self.box), {n: n.encode() for n in before})

    def test_location_relative_to_working_directory(self):
        harness.write(os.path.join(self.box.work, "logs", "jce.log"), "relative")
        r = self.run_with_location("./logs/jce.log")
        self.assertEqual(self.log_failures(r), [], r)
        self.assertEqual(harness.collected_logs(self.box), {"jce.log": b"relative"})

    def test_match_in_the_configuration_directory_replaces_the_config_copy(self):
        self.box.log_config("/opt/quorvane/etc/jce.cfg")
        r = self.box.run()
        self.assertEqual(r.status, 0, r)
        self.assertEqual(self.log_failures(r), [], r)
        config = harness.read(self.box.config_path())
        self.assertEqual(harness.collected(self.box)["quorvane-jce.cfg"], config)

    def test_failure_texts(self):
        cases = [
            ('{"logging": {"log_file": "/"}}', "Failed to read log file directory from config"),
            ('{"logging": {"log_file": "."}}', "Failed to read log file name from config"),
            ('{"logging": {"log_file": "jce.log"}}', "No such file or directory (os error 2)"),
        ]
        for text, error in cases:
            with self.subTest(config=text):
                with Sandbox() as box:
                    box.write_config(text)
                    r = box.run()
                    self.assertEqual(r.status, 0, r)
                    self.assertIn(log_failure(error), r.err.splitlines(), r)


if __name__ == "__main__":
    harness.main()
