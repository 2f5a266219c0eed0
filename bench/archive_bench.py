#!/usr/bin/env python3
"""Times whole diagpack-jce runs against tar pipelines on the same log files.

archive_bench.py --bin BUILD/bin --corpus DIR --work DIR [--rounds N]
                 [--today OTHER/bin] [--targets plain|rotated]

--corpus holds the log files (make_log_corpus.py). Each round runs, in an
order that rotates from round to round:

  diagpack  the whole diagpack-jce run in a private mount namespace: a
            directory bind-mounted on /opt holds quorvane/etc/quorvane-jce.cfg,
            whose log_file names the corpus's jce.log under /opt, a fake rpm
            comes first on PATH and TMPDIR is a scratch directory;
  tar-gz    mkdir + cp of the same log files + tar -czf (gzip -6) + rm;
  tar-pigz  the same with tar -cf - | pigz -6 -p2;
  today     with --today, the diagpack-jce of another build (the main
            branch, say) run exactly as diagpack is.

It prints each run, then the medians, the paired ratios (diagpack over each
other kind, per round, and their median), the archive sizes against gzip -6's
(and today's), and diagpack's peak RSS (its own, measured by /usr/bin/time when present). The host's /opt and /etc are never touched: the
bind mount exists only inside the namespace of the run.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

# Upper limits per corpus: wall time against the pigz pipeline (and gzip's),
# archive bytes against tar -czf's, diagpack's peak RSS. Today's build (the
# system zlib's, say) is compared in figures only: another compressor makes
# other bytes.
TARGETS = {
    "plain": {"vs tar-gz": 0.60, "vs tar-pigz": 0.65, "bytes vs gzip -6": 1.0,
              "peak RSS MiB": 32.0},
    "rotated": {"vs tar-pigz": 0.38, "bytes vs gzip -6": 1.001, "peak RSS MiB": 32.0},
}


def timed_wait4(argv, env=None):
    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        try:
            devnull = os.open(os.devnull, os.O_RDWR)
            os.dup2(devnull, 0)
            out = os.open(BENCH_LOG, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            os.dup2(out, 1)
            os.dup2(out, 2)
            os.execvpe(argv[0], argv, env if env is not None else os.environ)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    seconds = time.monotonic() - start
    with open(BENCH_LOG, "rb") as f:
        output = f.read().decode(errors="replace")
    return seconds, usage.ru_maxrss, os.waitstatus_to_exitcode(status), output


BENCH_LOG = None


def main():
    global BENCH_LOG
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--today", help="bin directory of the build to compare with")
    ap.add_argument("--targets", choices=sorted(TARGETS), default="plain")
    args = ap.parse_args()

    work = args.work
    BENCH_LOG = os.path.join(work, "run.log")
    logs = sorted(n for n in os.listdir(args.corpus) if "jce.log" in n)
    corpus_bytes = sum(os.path.getsize(os.path.join(args.corpus, n)) for n in logs)

    # The world of the diagpack run.
    opt = os.path.join(work, "opt")
    etc = os.path.join(opt, "quorvane", "etc")
    os.makedirs(etc, exist_ok=True)
    log_dir = os.path.join(opt, "quorvane", "logs")
    if not os.path.exists(log_dir):
        os.symlink(os.path.abspath(args.corpus), log_dir)
    with open(os.path.join(etc, "quorvane-jce.cfg"), "w") as f:
        f.write('{"logging": {"log_file": "/opt/quorvane/logs/jce.log"}}\n')
    fake_bin = os.path.join(work, "bin")
    os.makedirs(fake_bin, exist_ok=True)
    rpm = os.path.join(fake_bin, "rpm")
    with open(rpm, "w") as f:
        f.write("#!/bin/sh\necho 'Name        : quorvane-jce'\necho 'Version     : 1.0'\n")
    os.chmod(rpm, 0o755)
    order = ["diagpack", "tar-gz", "tar-pigz"] + (["today"] if args.today else [])
    tmp = {k: os.path.join(work, "tmp-" + k) for k in order}
    for d in tmp.values():
        os.makedirs(d, exist_ok=True)
    exes = {"diagpack": os.path.abspath(os.path.join(args.bin, "diagpack-jce"))}
    if args.today:
        exes["today"] = os.path.abspath(os.path.join(args.today, "diagpack-jce"))
    # unshare execs bash, which execs the tool (under /usr/bin/time, when
    # there, for the tool's own peak RSS; else wait4's figure for the whole
    # chain, an upper bound).
    rss_file = os.path.join(work, "rss.txt")
    gnu_time = ["/usr/bin/time", "-o", rss_file, "-f", "%M"] if os.access("/usr/bin/time", os.X_OK) else []
    def diagpack_run(kind):
        cmd = ["unshare", "-m", "--propagation", "private", "bash", "-c",
               'set -e; mount --bind "$1" /opt; shift; exec "$@"', "bash", opt] + gnu_time + [
                   exes[kind]]
        env = dict(os.environ, PATH=fake_bin + ":/usr/sbin:/usr/bin:/sbin:/bin",
                   TMPDIR=tmp[kind], LANG="C")
        env.pop("NO_COLOR", None)
        return cmd, env

    def pipeline(kind):
        t = tmp[kind]
        files = " ".join("'%s'" % os.path.join(args.corpus, n) for n in logs)
        compress = ("tar -czf jce-data.tar.gz jce-data" if kind == "tar-gz" else
                    "tar -cf - jce-data | pigz -6 -p2 > jce-data.tar.gz")
        return ["bash", "-c", "set -eo pipefail; cd '%s'; mkdir jce-data; cp %s jce-data/; "
                "%s; rm -rf jce-data" % (t, files, compress)]

    runs = {k: [] for k in tmp}
    sizes = {}
    rss = []
    n = len(order)
    print("corpus: %d files, %.1f MiB; %d rounds" % (len(logs), corpus_bytes / 2**20, args.rounds))
    # Round 0 warms up (caches, the file system's free space) and is not
    # counted: the very first run of an invocation is reliably slower,
    # whichever kind it is.
    for r in range(args.rounds + 1):
        for kind in order[r % n:] + order[:r % n]:
            archive = os.path.join(tmp[kind], "jce-data.tar.gz")
            if os.path.exists(archive):
                os.unlink(archive)
            os.sync()  # the last run's writeback does not land in this one
            if kind in exes:
                seconds, maxrss, status, output = timed_wait4(*diagpack_run(kind))
                if status != 0 or "Logs and config can be found at" not in output:
                    sys.exit("diagpack run failed (status %d):\n%s" % (status, output))
                if os.path.exists(os.path.join(tmp[kind], "jce-data")):
                    sys.exit("diagpack left its output directory:\n" + output)
                if gnu_time:
                    with open(rss_file) as f:
                        maxrss = int(f.read().split()[-1])
                if kind == "diagpack":
                    rss.append(maxrss)
            else:
                seconds, maxrss, status, output = timed_wait4(pipeline(kind))
                if status != 0:
                    sys.exit("%s failed (status %d):\n%s" % (kind, status, output))
            if r == 0:
                print("warm-up %-9s %7.2f s" % (kind, seconds), flush=True)
                os.unlink(archive)
                continue
            runs[kind].append(seconds)
            sizes[kind] = os.path.getsize(archive)
            print("round %d %-9s %7.2f s  %6.1f MB/s  %d bytes%s" % (
                r, kind, seconds, corpus_bytes / seconds / 1e6, sizes[kind],
                "  peak RSS %.1f MiB" % (maxrss / 1024) if kind in exes else ""),
                flush=True)
            if r == 1 and kind == "diagpack":
                # Read back once by GNU tar (gzip checks the CRC and length).
                listing = subprocess.run(["tar", "-tzf", archive], capture_output=True)
                names = set(listing.stdout.decode().split())
                missing = [n for n in logs if "jce-data/" + n not in names]
                if listing.returncode != 0 or missing:
                    sys.exit("diagpack's archive does not read back: %s %s" % (
                        listing.stderr.decode(), missing))
            os.unlink(archive)

    med = {k: statistics.median(v) for k, v in runs.items()}
    print("\nmedian wall time:")
    for k in order:
        print("  %-9s %7.2f s  (%.1f MB/s)" % (k, med[k], corpus_bytes / med[k] / 1e6))
    results = {}
    for other in order[1:]:
        ratios = [a / b for a, b in zip(runs["diagpack"], runs[other])]
        results["vs " + other] = statistics.median(ratios)
        print("paired ratio diagpack / %-8s median %.3f  (rounds: %s)" % (
            other, statistics.median(ratios), ", ".join("%.3f" % x for x in ratios)))
    results["bytes vs gzip -6"] = sizes["diagpack"] / sizes["tar-gz"]
    print("archive bytes: diagpack %d, tar -czf %d, pigz %d; diagpack / gzip -6 = %.4f" % (
        sizes["diagpack"], sizes["tar-gz"], sizes["tar-pigz"], results["bytes vs gzip -6"]))
    results["peak RSS MiB"] = max(rss) / 1024
    print("diagpack peak RSS: %.1f MiB (max of %d runs)" % (results["peak RSS MiB"], len(rss)))
    if args.today:
        results["bytes vs today"] = sizes["diagpack"] / sizes["today"]
        print("archive bytes: today %d; diagpack / today = %.6f" % (
            sizes["today"], results["bytes vs today"]))
    print("\ntargets (%s corpus):" % args.targets)
    for k, limit in TARGETS[args.targets].items():
        v = results[k]
        if k == "peak RSS MiB":
            op, met = "<", v < limit
        else:
            op, met = "<=", v <= limit
        print("  %-17s %8.4f  (target %s %.4f)  %s" % (k, v, op, limit, "met" if met else "MISSED"))


if __name__ == "__main__":
    main()
