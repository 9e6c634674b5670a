#!/usr/bin/env python3
"""Delivery time of velmora-sender against a shell pipeline doing the same work.

A 10-page 300 dpi US Letter job is rendered as CUPS raster and converted to BMP pages with
kestroVLConvert. Each run then delivers those pages over loopback to one reference service:
  sender:   velmora-sender (AES0: gzip, AES-256 job file encryption, 1 MiB ranges, completion)
  pipeline: pipeline.sh (gzip -6, openssl enc -aes-256-cbc per file, split, one curl per
            1 MiB range to the same upload address, the same SOAP calls with curl)
Runs alternate so that both see the same machine state; the service is reset between runs.
Wall time includes the service's own work (Python), which is the same for both.

The sender runs as velmora-sender-testable, the test build's twin of velmora-sender that takes
the shared folder from its first argument; the delivery code is the same library.
"""
import argparse
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
TOKEN = "tok-alice"
PREFIX = "Vm4k"  # core/Deployment.h kJobPasswordPrefix
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def seed():
    return {"accounts": [{"login": "alice", "password": "pw", "token": TOKEN,
                          "favorites": [PRINTER], "default_printer": PRINTER},
                         {"login": "bob", "password": "pw", "token": "tok-bob"}],
            "printers": [{"public_id": PRINTER, "owner": "bob", "title": "Office",
                          "shared": True, "online": True, "details": True,
                          "capabilities": {"pack": "true", "enc-type": "AES,AES0",
                                           "transport": "bmp"},
                          "papers": [{"name": "Letter", "format": "Letter",
                                      "width": 2159, "height": 2794}]}]}


def timed(argv, env=None):
    """Runs argv; returns (wall seconds, CPU seconds of it and its children)."""
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env or os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_utime + usage.ru_stime


def control(base, path, post=False):
    """GETs, or POSTs an empty body (a reset back to the start-up seed)."""
    data = b"" if post else None
    with urllib.request.urlopen(urllib.request.Request(base + path, data=data), timeout=60) as r:
        return json.load(r)


def check_delivered(base, pages):
    jobs = control(base, "/_ref/state?requests=0")["jobs"]
    if len(jobs) != 1 or jobs[0]["status"] != "ready" or jobs[0]["final_pages"] != pages:
        sys.exit(f"delivery not complete: {json.dumps(jobs)[:500]}")
    return sum(page["size"] for page in jobs[0]["pages"].values())


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--dpi", type=int, default=300)
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    generator = os.path.join(build, "tools", "rastergen", "velmora-make-raster")
    converter = os.path.join(build, "rasterconv", "kestroVLConvert")
    sender = os.path.join(build, "tests", "sender", "velmora-sender-testable")
    for program in (generator, converter, sender):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: cmake --preset release && cmake --build --preset "
                     "release --target velmora-make-raster kestroVLConvert "
                     "velmora-sender-testable")

    work = tempfile.mkdtemp(prefix="velmora-bench-sender-")
    service = None
    try:
        with open(os.path.join(work, "seed.json"), "w") as f:
            json.dump(seed(), f)
        service = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools", "refservice", "refservice.py"),
             "--port", "0", "--seed", os.path.join(work, "seed.json"),
             "--job-password-prefix", PREFIX, "--max-store", str(1 << 30)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        base = f"http://127.0.0.1:{int(service.stdout.readline())}"

        raster = os.path.join(work, "job.raster")
        pages = os.path.join(work, "pages")
        subprocess.run([generator, raster, str(args.pages), str(args.dpi), "8", "plain"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run([converter, raster, pages], check=True)
        size = sum(os.path.getsize(os.path.join(pages, n)) for n in os.listdir(pages))
        print(f"job: {args.pages} BMP pages at {args.dpi} dpi, {size / 1e6:.1f} MB")

        system = os.path.join(work, "system")
        os.makedirs(system)
        with open(os.path.join(system, "setup.bench.xml"), "w") as f:
            f.write(f"<setup><token>{TOKEN}</token><service>{base}/tdService.asmx</service>"
                    "<default-format>Letter</default-format><encryption>2</encryption></setup>")

        results = {"sender": [], "pipeline": []}
        for run in range(args.runs):
            control(base, "/_ref/reset", post=True)
            spool = os.path.join(work, "spool", str(run + 1))
            shutil.copytree(pages, spool)
            results["sender"].append(timed(
                [sender, f"--system-dir={system}", f"SpoolDir={spool}", "User=bench",
                 f"DestinationPrinterID=Velmora_{PRINTER}",
                 "com.apple.print.JobInfo.PMJobName=bench"]))
            uploaded = check_delivered(base, args.pages)
            with open(os.path.join(system, "messages.bench.txt")) as f:
                if "successfully" not in f.read():
                    sys.exit("the sender reported a failure")

            control(base, "/_ref/reset", post=True)
            scratch = os.path.join(work, f"pipeline-{run}")
            os.makedirs(scratch)
            results["pipeline"].append(timed(
                ["/bin/bash", os.path.join(HERE, "pipeline.sh"), base, TOKEN, PRINTER, pages,
                 scratch, PREFIX]))
            check_delivered(base, args.pages)
            shutil.rmtree(scratch)

        print(f"uploaded by the sender: {uploaded / 1e6:.2f} MB (packed and encrypted)")

        def median(name, index):
            return statistics.median(r[index] for r in results[name])
        for name in ("sender", "pipeline"):
            print(f"{name:9s} wall {median(name, 0):6.3f} s   CPU {median(name, 1):6.3f} s"
                  f"   (median of {args.runs})")
        print(f"ratio sender/pipeline: wall {median('sender', 0) / median('pipeline', 0):.2f}"
              f"   CPU {median('sender', 1) / median('pipeline', 1):.2f}")
    finally:
        if service is not None:
            service.terminate()
            service.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
