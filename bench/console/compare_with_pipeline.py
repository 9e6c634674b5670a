#!/usr/bin/env python3
"""Receiving time and memory of the console's job processor against a shell pipeline.

A 10-page US Letter job (BMP pages from kestroVLConvert) is sent once, packed and AES0, by
velmora-sender-testable to the reference service over loopback. Each run then receives it up to
plain page files:
  processor: velmora-receive-bench (the console's Processor: streamed downloads with the token,
             GetKey once, job file decryption, bounded gzip unpacking)
  pipeline:  pipeline.sh (curl per page, openssl enc -d per 16 KiB chunk, gzip -d)
Runs alternate; both must produce the same plain files. The processor's memory growth is its
peak resident size minus its resident size just before the job was dispatched. With --print,
the job is also printed once more on a private scheduler's file queue, for pages per minute.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

PRINTER = "7d1c2a9e-5b3f-4e61-9a0c-2f4b8d6e1a01"
PREFIX = "Vm4k"  # core/Deployment.h kJobPasswordPrefix
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def seed():
    return {"accounts": [{"login": "alice", "password": "pw", "token": "tok-alice",
                          "favorites": [PRINTER], "default_printer": PRINTER},
                         {"login": "bob", "password": "pw", "token": "tok-bob"}],
            "printers": [{"public_id": PRINTER, "owner": "bob", "title": "Office",
                          "shared": True, "online": True, "details": True,
                          "capabilities": {"pack": "true", "enc-type": "AES,AES0",
                                           "transport": "bmp"},
                          "papers": [{"name": "Letter", "format": "Letter",
                                      "width": 2159, "height": 2794}]}]}


def timed(argv, env=None, capture=False):
    """Runs argv; returns (wall seconds, stdout)."""
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                          text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{argv[0]} failed with {done.returncode}: {done.stdout}")
    return wall, done.stdout


def control(base, path):
    with urllib.request.urlopen(base + path, timeout=60) as r:
        return json.load(r)


def digests(folder, count, name):
    return [hashlib.sha256(open(os.path.join(folder, name(n)), "rb").read()).hexdigest()
            for n in range(1, count + 1)]


def send_job(build, work, base, pages, dpi):
    generator = os.path.join(build, "tools", "rastergen", "velmora-make-raster")
    converter = os.path.join(build, "rasterconv", "kestroVLConvert")
    sender = os.path.join(build, "tests", "sender", "velmora-sender-testable")
    raster = os.path.join(work, f"job-{dpi}.raster")
    converted = os.path.join(work, f"pages-{dpi}")
    subprocess.run([generator, raster, str(pages), str(dpi), "8", "plain"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([converter, raster, converted], check=True)
    size = sum(os.path.getsize(os.path.join(converted, n)) for n in os.listdir(converted))
    system = os.path.join(work, "system")
    os.makedirs(system, exist_ok=True)
    with open(os.path.join(system, "setup.bench.xml"), "w") as f:
        f.write(f"<setup><token>tok-alice</token><service>{base}/tdService.asmx</service>"
                "<default-format>Letter</default-format><encryption>2</encryption></setup>")
    before = {job["id"] for job in control(base, "/_ref/state?requests=0")["jobs"]}
    subprocess.run([sender, f"--system-dir={system}", f"SpoolDir={converted}", "User=bench",
                    f"DestinationPrinterID=Velmora_{PRINTER}", "media=Letter",
                    "com.apple.print.JobInfo.PMJobName=bench"], check=True)
    jobs = [job for job in control(base, "/_ref/state?requests=0")["jobs"]
            if job["id"] not in before]
    if len(jobs) != 1 or jobs[0]["status"] != "ready":
        sys.exit("the job did not reach the service")
    return jobs[0]["id"], size


def start_cupsd(work):
    root = os.path.join(work, "cups")
    for d in ("spool", "cache", "state", "log", "tmp", "ppd", "ssl", "out"):
        os.makedirs(os.path.join(root, d))
    os.chmod(root, 0o755)
    os.chmod(os.path.join(root, "out"), 0o777)
    sock = os.path.join(root, "cups.sock")
    with open(os.path.join(root, "cupsd.conf"), "w") as f:
        f.write(f"Listen {sock}\nLogLevel warn\nBrowsing Off\nDefaultAuthType None\n"
                "WebInterface No\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n")
    with open(os.path.join(root, "cups-files.conf"), "w") as f:
        f.write(f"FileDevice Yes\nServerRoot {root}\nRequestRoot {root}/spool\n"
                f"CacheDir {root}/cache\nStateDir {root}/state\nTempDir {root}/tmp\n"
                "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                f"ErrorLog {root}/log/error_log\nUser lp\nGroup lp\nSystemGroup root\n")
    cupsd = subprocess.Popen(["/usr/sbin/cupsd", "-f", "-c", os.path.join(root, "cupsd.conf"),
                              "-s", os.path.join(root, "cups-files.conf")])
    env = dict(os.environ, CUPS_SERVER=sock)
    for _ in range(100):
        if "scheduler is running" in subprocess.run(["lpstat", "-r"], env=env, text=True,
                                                    capture_output=True).stdout:
            break
        time.sleep(0.1)
    ppd = os.path.join(ROOT, "tests", "console", "jobs", "ppd", "pdf-file.ppd")
    subprocess.run(["lpadmin", "-p", "Bench_File", "-E", "-v",
                    f"file://{root}/out/bench.pdf", "-P", ppd], env=env, check=True)
    return cupsd, env


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--dpi", type=int, nargs="+", default=[300, 600])
    parser.add_argument("--print", action="store_true")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    receiver = os.path.join(build, "bench", "console", "velmora-receive-bench")
    if not os.access(receiver, os.X_OK):
        sys.exit(f"missing {receiver}: cmake --build --preset release --target "
                 "velmora-receive-bench velmora-make-raster kestroVLConvert "
                 "velmora-sender-testable")
    work = tempfile.mkdtemp(prefix="velmora-bench-receive-")
    service = cupsd = None
    try:
        with open(os.path.join(work, "seed.json"), "w") as f:
            json.dump(seed(), f)
        service = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools", "refservice", "refservice.py"),
             "--port", "0", "--seed", os.path.join(work, "seed.json"),
             "--job-password-prefix", PREFIX, "--max-store", str(4 << 30),
             "--max-page-bytes", str(1 << 30)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        base = f"http://127.0.0.1:{int(service.stdout.readline())}"

        for dpi in args.dpi:
            job, size = send_job(build, work, base, args.pages, dpi)
            print(f"job {job}: {args.pages} BMP pages at {dpi} dpi, {size / 1e6:.1f} MB plain")
            walls = {"processor": [], "pipeline": []}
            growth = []
            for run in range(args.runs):
                profile = os.path.join(work, f"profile-{dpi}-{run}")
                os.makedirs(profile)
                wall, out = timed([receiver, base, "tok-bob", str(job), profile], capture=True)
                result = json.loads(out)
                walls["processor"].append(wall)
                growth.append(result["peak_rss_kib"] - result["baseline_rss_kib"])
                scratch = os.path.join(work, f"pipeline-{dpi}-{run}")
                os.makedirs(scratch)
                walls["pipeline"].append(timed(
                    ["/bin/bash", os.path.join(HERE, "pipeline.sh"), base, "tok-bob", str(job),
                     str(args.pages), scratch, PREFIX])[0])
                if run == 0:
                    mine = digests(os.path.join(profile, f"Job{job}"), args.pages,
                                   lambda n: f"{n}.emf")
                    theirs = digests(scratch, args.pages, lambda n: f"{n}.emf")
                    if mine != theirs:
                        sys.exit("the processor and the pipeline disagree on the pages")
                shutil.rmtree(profile)
                shutil.rmtree(scratch)
            for name in ("processor", "pipeline"):
                print(f"  {name:9s} wall {statistics.median(walls[name]):6.3f} s "
                      f"(median of {args.runs})")
            print(f"  ratio processor/pipeline: "
                  f"{statistics.median(walls['processor']) / statistics.median(walls['pipeline']):.2f}")
            print(f"  processor memory growth: max {max(growth) / 1024:.1f} MiB")

            if args.print:
                if cupsd is None:
                    cupsd, env = start_cupsd(work)
                profile = os.path.join(work, f"profile-print-{dpi}")
                os.makedirs(profile)
                _, out = timed([receiver, base, "tok-bob", str(job), profile, "Bench_File",
                                PRINTER], env=env, capture=True)
                seconds = json.loads(out)["seconds"]
                print(f"  received and printed into the file queue: {seconds:.2f} s, "
                      f"{args.pages * 60 / seconds:.1f} pages per minute")
    finally:
        for process in (service, cupsd):
            if process is not None:
                process.terminate()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
