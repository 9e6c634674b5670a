#!/usr/bin/env python3
"""CPU time of kestroVLConvert against dd copying the same bytes.

dd with 1 MiB blocks is the least any program must do that reads the raster and writes it out
again through user memory, so the ratio says how much work the converter adds on top.
Runs alternate between the two so that both see the same machine state.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile


def cpu_seconds(argv):
    """Runs argv and returns ((user, system) CPU seconds, exit status) of that process alone."""
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                       (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    return (usage.ru_utime, usage.ru_stime), os.waitstatus_to_exitcode(status)


def processor_model():
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown processor"


def summary(name, times):
    totals = [user + system for user, system in times]
    print(f"{name} CPU s:", " ".join(f"{t:.3f}" for t in totals),
          f"(median user {statistics.median(u for u, _ in times):.3f},"
          f" system {statistics.median(s for _, s in times):.3f})")
    return statistics.median(totals)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/release", help="CMake build folder")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--pages", type=int, default=10)
    parser.add_argument("--dpi", type=int, default=300)
    args = parser.parse_args()

    converter = os.path.abspath(os.path.join(args.build, "rasterconv", "kestroVLConvert"))
    generator = os.path.abspath(os.path.join(args.build, "tools", "rastergen", "velmora-make-raster"))
    for program in (converter, generator):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build the release preset first")

    work = tempfile.mkdtemp(prefix="velmora-bench-")
    try:
        raster = os.path.join(work, "job.raster")
        subprocess.run([generator, raster, str(args.pages), str(args.dpi), "8", "plain"],
                       check=True, stdout=subprocess.DEVNULL)
        size = os.path.getsize(raster)
        print(f"input: {args.pages} pages at {args.dpi} dpi, {size / 1e6:.1f} MB")
        print(f"machine: {processor_model()}, {os.cpu_count()} CPUs,"
              f" load average {os.getloadavg()[0]:.2f} at start")

        converter_times, dd_times = [], []
        for run in range(args.runs):
            pages = os.path.join(work, f"pages-{run}")
            seconds, status = cpu_seconds([converter, raster, pages])
            if status != 0:
                sys.exit(f"kestroVLConvert failed with {status}")
            converter_times.append(seconds)
            shutil.rmtree(pages)

            copy = os.path.join(work, "copy.raw")
            seconds, status = cpu_seconds(["/bin/dd", f"if={raster}", f"of={copy}", "bs=1M"])
            if status != 0:
                sys.exit(f"dd failed with {status}")
            dd_times.append(seconds)
            os.unlink(copy)

        conv = summary("kestroVLConvert", converter_times)
        dd = summary("dd bs=1M       ", dd_times)
        print(f"median: kestroVLConvert {conv:.3f} s, dd {dd:.3f} s, ratio {conv / dd:.2f}x"
              " (target: within 2x)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
