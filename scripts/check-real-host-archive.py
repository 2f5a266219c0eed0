#!/usr/bin/env python3
"""Checks one run of diagpack-<key> in a real root, for
scripts/check-real-hosts.sh: what it printed, and its archive, read with the
end-to-end suite's independent readers (tarfile, GNU tar, bsdtar), against
what the root holds. Prints each difference and exits 1 if there is one.

Usage: check-real-host-archive.py ROOT KEY STDOUT STDERR PACKAGE_QUERY_OUTPUT
"""

import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tools", "diagpack", "tests", "e2e"))
import harness  # noqa: E402  (the suite's readers and expected texts)


def release_values(path):
    """KEY=value pairs of an os-release file, quotes removed."""
    values = {}
    for line in harness.read(path).decode().splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key] = value.strip('"')
    return values


def expected_files(root, key, package_query_output):
    """{name under <key>-data/: bytes} of what the root holds."""
    def inside(path):
        return os.path.join(root, path.lstrip("/"))
    os_release = release_values(inside("/etc/os-release"))
    os_info = "Platform: linux-%s\nVersion: Linux %s %s\n" % (
        os.uname().release, os_release["VERSION_ID"], os_release["NAME"])
    if os.path.exists(inside("/etc/system-release")):
        os_info += "System Release: %s\n" % harness.read(inside("/etc/system-release")).decode()
    config = "/opt/quorvane/etc/quorvane-%s.cfg" % key
    files = {"osInfo.txt": os_info.encode(),
             os.path.basename(config): harness.read(inside(config)),
             "%sPackageInfo.txt" % key: package_query_output}
    log_file = json.loads(harness.read(inside(config)))["logging"]["log_file"]
    log_dir = inside(os.path.dirname(log_file))
    for name in os.listdir(log_dir):
        if os.path.basename(log_file) in name:
            files[name] = harness.read(os.path.join(log_dir, name))
    return files


def main(root, key, stdout, stderr, package_query_output):
    problems = []
    archive = "/tmp/%s-data.tar.gz" % key
    printed = harness.read(stdout).decode().splitlines()
    if printed != harness.success_lines(key, archive):
        problems.append("it printed %r" % printed)
    if harness.read(stderr):
        problems.append("standard error: %r" % harness.read(stderr))
    if os.path.lexists(os.path.join(root, "tmp", key + "-data")):
        problems.append("the staging directory was left")
    archive = os.path.join(root, archive.lstrip("/"))
    if os.stat(archive).st_mode & 0o777 != 0o600:
        problems.append("archive mode %o" % (os.stat(archive).st_mode & 0o777))

    expected = expected_files(root, key, harness.read(package_query_output))
    if ("quorvane-" + key).encode() not in expected["%sPackageInfo.txt" % key]:
        problems.append("the package query by hand does not name the package")
    with tempfile.TemporaryDirectory() as scratch:
        entries = harness.check_archive(archive, scratch)
    top = key + "-data"
    archived = {name[len(top) + 1:]: data for name, _, _, data in entries if name != top}
    for name in sorted(set(expected) | set(archived)):
        if name not in archived:
            problems.append("%s: not archived" % name)
        elif name not in expected:
            problems.append("%s: archived, but not expected" % name)
        elif archived[name] != expected[name]:
            problems.append("%s: archived %r, the root holds %r"
                            % (name, archived[name][:300], expected[name][:300]))
    for problem in problems:
        print("check-real-host-archive: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__.split("\n\n")[1])
    sys.exit(main(*sys.argv[1:]))
