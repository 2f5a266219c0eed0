#!/usr/bin/env python3
"""Writes a log-like corpus for the archive benchmark.

make_log_corpus.py DIR [TOTAL_MIB] [--rotated]

DIR receives service-log rotations named after one log file, as a component
leaves them: jce.log, jce.log.1 ... (plain text) and a few older rotations
already compressed (jce.log.N.gz). Together the files take TOTAL_MIB MiB
(default 1024) on disk, about a ninth of it in the three .gz files.

--rotated writes what logrotate leaves with compression on instead:
jce.log (half a share of text), jce.log.1 (one share) and jce.log.2.gz ...
jce.log.14.gz, with half of the TOTAL_MIB (default 256) on disk in the
thirteen .gz files, each about as large as the others. Lines carry a timestamp that moves forward, a level,
a thread, a request id, a logger and one of several messages with varying
numbers, ids, paths and addresses, so the text compresses about as busy
real logs do (about 4.5:1 at gzip -6), not like repeated filler. The files
are written by two processes side by side.
"""
import gzip
import multiprocessing
import os
import random
import sys

MIB = 1024 * 1024

LEVELS = ["INFO"] * 14 + ["DEBUG"] * 8 + ["WARN"] * 2 + ["ERROR"]
LOGGERS = ["c.q.jce.KeyStore", "c.q.jce.Session", "c.q.jce.net.Channel",
           "c.q.jce.Provider", "c.q.jce.audit.Trail", "c.q.jce.pool.Pool",
           "c.q.jce.cfg.Loader", "c.q.jce.hsm.Link"]
USERS = ["svc-payments", "svc-ledger", "batch-nightly", "admin", "svc-auth",
         "svc-report", "ops-rotate"]
ALGOS = ["AES/GCM/NoPadding", "RSA/ECB/OAEPPadding", "SHA256withECDSA",
         "HmacSHA384", "AES/CBC/PKCS5Padding", "Ed25519"]


def message(rnd):
    k = rnd.random()
    if k < 0.22:
        return "session %08x opened for user=%s from %d.%d.%d.%d:%d" % (
            rnd.getrandbits(32), rnd.choice(USERS), 10, rnd.randrange(256),
            rnd.randrange(256), rnd.randrange(1, 255), rnd.randrange(1024, 65536))
    if k < 0.40:
        return "cipher init alg=%s key=kid-%06d len=%d took %d us" % (
            rnd.choice(ALGOS), rnd.randrange(1000000), rnd.choice([128, 192, 256, 2048, 3072]),
            rnd.randrange(20, 9000))
    if k < 0.55:
        return "request %s completed status=%d bytes=%d latency=%.3fms" % (
            "%016x" % rnd.getrandbits(64), rnd.choice([200, 200, 200, 201, 204, 400, 404, 500]),
            rnd.randrange(0, 200000), rnd.random() * 50)
    if k < 0.65:
        return "pool stats active=%d idle=%d waiting=%d max=%d" % (
            rnd.randrange(64), rnd.randrange(64), rnd.randrange(8), 64)
    if k < 0.75:
        return "loaded key store /var/lib/quorvane/ks/%s-%03d.p12 entries=%d" % (
            rnd.choice(USERS), rnd.randrange(1000), rnd.randrange(1, 500))
    if k < 0.83:
        return "session %08x closed after %d operations" % (
            rnd.getrandbits(32), rnd.randrange(1, 10000))
    if k < 0.90:
        return "hsm link slot=%d heartbeat ok rtt=%dus seq=%d" % (
            rnd.randrange(8), rnd.randrange(50, 4000), rnd.randrange(10 ** 9))
    if k < 0.96:
        return "audit event=%s subject=%s object=kid-%06d result=%s" % (
            rnd.choice(["sign", "verify", "wrap", "unwrap", "generate", "delete"]),
            rnd.choice(USERS), rnd.randrange(1000000), rnd.choice(["ok", "ok", "ok", "denied"]))
    return ("operation failed: java.io.IOException: connection reset by peer\n"
            "\tat c.q.jce.net.Channel.read(Channel.java:%d)\n"
            "\tat c.q.jce.hsm.Link.call(Link.java:%d)\n"
            "\tat c.q.jce.Session.run(Session.java:%d)" % (
                rnd.randrange(100, 900), rnd.randrange(100, 900), rnd.randrange(100, 900)))


def log_text(path_or_file, size, seed, t0, stop=lambda: False):
    rnd = random.Random(seed)
    t = t0
    written = 0
    out = path_or_file
    parts = []
    pending = 0
    while written + pending < size:
        t += rnd.randrange(0, 40)
        ms = t % 1000
        s = t // 1000
        line = "2024-%02d-%02d %02d:%02d:%02d.%03d %-5s [worker-%d] %s req=%012x %s\n" % (
            1 + s // 2592000 % 12, 1 + s // 86400 % 28, s // 3600 % 24, s // 60 % 60, s % 60, ms,
            rnd.choice(LEVELS), rnd.randrange(32), rnd.choice(LOGGERS), rnd.getrandbits(48),
            message(rnd))
        parts.append(line)
        pending += len(line)
        if pending >= MIB:
            chunk = "".join(parts).encode()
            out.write(chunk)
            written += len(chunk)
            parts, pending = [], 0
            if stop():
                return
    chunk = "".join(parts).encode()[: size - written]
    out.write(chunk)


def write_gz(job):
    path, size, seed, t0 = job
    with gzip.open(path, "wb", compresslevel=6) as f:
        log_text(f, size, seed, t0)
    return os.path.getsize(path)


class CappedGzip:
    """A gzip file that takes text until |limit| compressed bytes."""

    def __init__(self, path, limit):
        self.raw = open(path, "wb")
        self.gz = gzip.GzipFile(fileobj=self.raw, mode="wb", compresslevel=6, mtime=0)
        self.limit = limit

    def write(self, chunk):
        if self.raw.tell() < self.limit:
            self.gz.write(chunk)

    def close(self):
        self.gz.close()
        self.raw.close()


def write_capped_gz(job):
    path, limit, seed, t0 = job
    out = CappedGzip(path, limit)
    log_text(out, 1 << 40, seed, t0, stop=lambda: out.raw.tell() >= limit)
    out.close()
    return os.path.getsize(path)


def rotated(out_dir, total):
    """jce.log, jce.log.1 and 13 gzipped rotations, half the bytes each."""
    gz_each = total // 2 // 13
    plain = total - 13 * gz_each
    with multiprocessing.Pool(2) as pool:
        jobs = [(os.path.join(out_dir, "jce.log.%d.gz" % n), gz_each, 2000 + n,
                 1_700_000_000_000 - n * 10 ** 9) for n in range(2, 15)]
        gz_bytes = sum(pool.map(write_capped_gz, jobs))
        pool.map(write_plain, [
            (os.path.join(out_dir, "jce.log"), plain // 3, 1, 1_700_000_100_000),
            (os.path.join(out_dir, "jce.log.1"), plain - plain // 3, 2, 1_700_000_000_000)])
    return gz_bytes


def write_plain(job):
    path, size, seed, t0 = job
    with open(path, "wb") as f:
        log_text(f, size, seed, t0)
    return size


def main():
    args = [a for a in sys.argv[1:] if a != "--rotated"]
    is_rotated = len(args) < len(sys.argv) - 1
    out_dir = args[0]
    total = int(args[1]) * MIB if len(args) > 1 else (256 if is_rotated else 1024) * MIB
    os.makedirs(out_dir, exist_ok=True)
    if is_rotated:
        gz_bytes = rotated(out_dir, total)
        names = os.listdir(out_dir)
        print("corpus: %d files, %d bytes (%d in gzipped rotations)" % (
            len(names), sum(os.path.getsize(os.path.join(out_dir, n)) for n in names), gz_bytes))
        return
    gz_count, gz_text = 3, total // 6  # each compresses to a little under 1/4 of that
    with multiprocessing.Pool(2) as pool:
        gz_jobs = [(os.path.join(out_dir, "jce.log.%d.gz" % (6 + i)), gz_text, 1000 + i,
                    1_700_000_000_000 - (i + 1) * 10 ** 9) for i in range(gz_count)]
        gz_bytes = sum(pool.map(write_gz, gz_jobs))
        plain = ["jce.log"] + ["jce.log.%d" % i for i in range(1, 6)]
        each = (total - gz_bytes) // len(plain)
        jobs = [(os.path.join(out_dir, name),
                 each if i else total - gz_bytes - each * (len(plain) - 1), i,
                 1_700_000_000_000 + i * 10 ** 8) for i, name in enumerate(plain)]
        pool.map(write_plain, jobs)
    names = os.listdir(out_dir)
    print("corpus: %d files, %d bytes (%d in gzipped rotations)" % (
        len(names), sum(os.path.getsize(os.path.join(out_dir, n)) for n in names), gz_bytes))


if __name__ == "__main__":
    main()
