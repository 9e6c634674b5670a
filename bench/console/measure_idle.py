#!/usr/bin/env python3
"""CPU share and resident memory of the console signed in and idle.

Starts the reference service (one account with a shared printer), a private print scheduler
with one file queue when run as root (else the console uses whatever scheduler libcups
finds), and the console signed in with the token in its setup file, polling every
--poll seconds. Once the console has signed in and re-shared its printer, it waits --settle
seconds, then reads utime + stime from /proc/PID/stat (all threads) at the start and end of
--window seconds and VmRSS every second in between, and prints

    headless: CPU 0.012 % over 60 s (6 polls), VmRSS 41.3 MB (peak 41.5 MB)

--window measures the console with its window on Qt's offscreen platform instead
(QT_QPA_PLATFORM=offscreen in the console's environment only). Targets: at most 0.1 % CPU and
80 MB. Nothing is asserted; the figures are reported.
"""
import argparse
import json
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PRINTER = "5c2e8a17-9d4b-4f03-a6e1-3b7f0c9d2e64"
QUEUE = "Idle_File"
PROFILE = "bob.127.0.0.1"
TICKS = os.sysconf("SC_CLK_TCK")


def seed():
    return {"accounts": [{"login": "bob", "id": 2, "token": "tok-bob"}],
            "printers": [{"public_id": PRINTER, "owner": "bob", "title": "Idle",
                          "shared": True, "online": False}]}


def cpu_ticks(pid):
    """utime + stime of the whole process, in clock ticks."""
    with open(f"/proc/{pid}/stat") as stat:
        # The command name may hold spaces; the fields after its closing parenthesis are fixed.
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def control(base, path):
    with urllib.request.urlopen(base + path, timeout=10) as reply:
        return json.load(reply)


def start_service(scratch):
    with open(os.path.join(scratch, "seed.json"), "w") as out:
        json.dump(seed(), out)
    log = open(os.path.join(scratch, "service.log"), "w")
    service = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tools/refservice/refservice.py"), "--port", "0",
         "--seed", os.path.join(scratch, "seed.json")],
        stdout=subprocess.PIPE, stderr=log, text=True)
    port = service.stdout.readline().strip()
    if not port.isdigit():
        service.kill()
        sys.exit("the reference service did not start; see " + log.name)
    return service, f"http://127.0.0.1:{port}"


def start_scheduler(scratch):
    """A private cupsd with one queue writing to a file: the console's local printer. The
    configuration is the test harness's (tests/support/PrivateCupsd.h)."""
    root = os.path.join(scratch, "cups")
    for folder in ("spool", "cache", "state", "log", "tmp", "ppd", "ssl"):
        os.makedirs(os.path.join(root, folder))
    os.chmod(scratch, 0o755)
    os.chmod(root, 0o755)
    os.chmod(os.path.join(root, "tmp"), 0o1777)
    socket = os.path.join(root, "cups.sock")
    with open(os.path.join(root, "cupsd.conf"), "w") as conf:
        conf.write(f"Listen {socket}\nLogLevel warn\nBrowsing Off\nDefaultAuthType None\n"
                   "WebInterface No\n<Location />\n  Order allow,deny\n  Allow all\n"
                   "</Location>\n<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                   "  </Limit>\n</Policy>\n")
    with open(os.path.join(root, "cups-files.conf"), "w") as conf:
        conf.write(f"FileDevice Yes\nServerRoot {root}\nRequestRoot {root}/spool\n"
                   f"CacheDir {root}/cache\nStateDir {root}/state\nTempDir {root}/tmp\n"
                   "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                   f"AccessLog {root}/log/access_log\nErrorLog {root}/log/error_log\n"
                   f"PageLog {root}/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n")
    cupsd = subprocess.Popen(["/usr/sbin/cupsd", "-f", "-c", os.path.join(root, "cupsd.conf"),
                              "-s", os.path.join(root, "cups-files.conf")])
    env = dict(os.environ, CUPS_SERVER=socket)
    for _ in range(100):
        ready = subprocess.run(["lpstat", "-r"], env=env, capture_output=True, text=True)
        if "scheduler is running" in ready.stdout:
            break
        time.sleep(0.1)
    else:
        cupsd.kill()
        sys.exit("the private scheduler did not start")
    ppd = os.path.join(ROOT, "tests/console/jobs/ppd/pdf-file.ppd")
    subprocess.run(["lpadmin", "-p", QUEUE, "-E", "-v", f"file://{root}/out.pdf", "-P", ppd],
                   env=env, check=True, capture_output=True)
    return cupsd, socket


def write_setup(system_dir, base, poll):
    """The setup file and profile a console keeps after its user signed in and shared QUEUE."""
    user = pwd.getpwuid(os.getuid()).pw_name
    profile_dir = os.path.join(system_dir, PROFILE)
    os.makedirs(profile_dir, mode=0o700)
    setup = os.path.join(system_dir, f"setup.{user}.xml")
    with open(setup, "w") as out:
        out.write(f'<?xml version="1.0"?>\n<setup><profile>{PROFILE}</profile>'
                  f"<token>tok-bob</token><service>{base}/tdService.asmx</service>"
                  f"<fast-check-interval>{poll}</fast-check-interval></setup>\n")
    os.chmod(setup, 0o600)
    profile = os.path.join(profile_dir, "config.xml")
    with open(profile, "w") as out:
        out.write('<?xml version="1.0"?>\n<config version="1601"><printers>'
                  f'<printer hidden="false"><public-id>{PRINTER}</public-id><title>Idle</title>'
                  f"<local-title>{QUEUE}</local-title></printer></printers></config>\n")
    os.chmod(profile, 0o600)


def signed_in(base):
    printers = control(base, "/_ref/state?requests=0")["printers"]
    return any(p["public_id"] == PRINTER and p["online"] for p in printers)


def poll_count(base):
    return len(control(base, "/_ref/requests?kind=fastcheck")["requests"])


def stop(process, seconds=30):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def measure(args, scratch):
    service, base = start_service(scratch)
    cupsd = None
    try:
        env = dict(os.environ)
        if os.geteuid() == 0:
            cupsd, env["CUPS_SERVER"] = start_scheduler(scratch)
        system_dir = os.path.join(scratch, "system")
        write_setup(system_dir, base, args.poll)
        # A runtime folder of its own: another console of this user elsewhere on the machine
        # would otherwise be the one instance, and this one would only ask it to show itself.
        runtime_dir = os.path.join(scratch, "runtime")
        os.mkdir(runtime_dir, 0o700)
        command = [args.console, "--system-dir", system_dir, "--direct-port", "0",
                   "--runtime-dir", runtime_dir]
        if args.window:
            env["QT_QPA_PLATFORM"] = "offscreen"
        else:
            command.insert(1, "--headless")
        log = open(os.path.join(scratch, "console.log"), "w")
        console = subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 60
            while not signed_in(base):
                if console.poll() is not None or time.monotonic() > deadline:
                    sys.exit("the console did not sign in; its output:\n" +
                             open(log.name).read()[-4000:])
                time.sleep(0.5)
            time.sleep(args.settle)
            polls_before = poll_count(base)
            ticks_before = cpu_ticks(console.pid)
            start = time.monotonic()
            samples = []
            while time.monotonic() - start < args.window_seconds:
                samples.append(rss_kib(console.pid))
                time.sleep(1)
            ticks = cpu_ticks(console.pid) - ticks_before
            elapsed = time.monotonic() - start
            samples.append(rss_kib(console.pid))
            polls = poll_count(base) - polls_before
        finally:
            stop(console)
    finally:
        stop(service)
        if cupsd is not None:
            stop(cupsd)
    share = 100.0 * ticks / TICKS / elapsed
    mode = "window (offscreen)" if args.window else "headless"
    print(f"{mode}: CPU {share:.3f} % over {elapsed:.0f} s ({polls} polls, {ticks} ticks of "
          f"1/{TICKS} s), VmRSS {samples[-1] / 1024:.1f} MB (peak {max(samples) / 1024:.1f} MB)")


def default_console():
    for build in ("release", "dev", "demo"):
        for name in ("velmora-testable",):
            for folder, _, files in os.walk(os.path.join(ROOT, "build", build, "console")):
                if name in files:
                    return os.path.join(folder, name)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--console", default=default_console(),
                        help="velmora-testable (default: found under build/release, dev, demo)")
    parser.add_argument("--window", action="store_true",
                        help="the console with its window, on Qt's offscreen platform")
    parser.add_argument("--poll", type=int, default=10, help="polling interval, seconds")
    parser.add_argument("--settle", type=float, default=20, help="seconds before measuring")
    parser.add_argument("--window-seconds", type=float, default=60, help="measured seconds")
    args = parser.parse_args()
    if not args.console or not os.access(args.console, os.X_OK):
        sys.exit("no velmora-testable found; build it (cmake --build --preset release "
                 "--target velmora-testable) or name it with --console")
    scratch = tempfile.mkdtemp(prefix="velmora-idle-")
    try:
        measure(args, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
