"""The collection run as a whole: banners, failure lines, exit statuses."""

import os
import unittest

import harness
from harness import Sandbox


class CollectionRunTest(unittest.TestCase):
    def setUp(self):
        self.box = Sandbox()

    def tearDown(self):
        self.box.close()

    def test_banners_in_order_on_host_without_sdk(self):
        r = self.box.run()
        self.assertEqual(r.status, 0, r)
        lines = r.out.splitlines()
        self.assertEqual(lines[:4], harness.success_lines("jce")[:4], r)

    def test_already_exists_stops_with_status_1(self):
        os.mkdir(self.box.output_dir())
        r = self.box.run()
        self.assertEqual(r.status, 1, r)
        self.assertEqual(r.out, "")
        self.assertEqual(r.err, "Output directory %s already exists.\n" % self.box.output_dir())


if __name__ == "__main__":
    harness.main()
