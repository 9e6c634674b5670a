#!/usr/bin/env python3
"""Prints, as they happen, what the demo's parts do with one print job, until the receiving
printer has printed it: the consoles' log lines, the scheduler's job states and the requests
the reference service answered.

    follow.py --service URL --printer QUEUE --output FILE [--log NAME=FILE ...] [--timeout S]

Exits 0 once the job on QUEUE is completed and FILE holds a PDF, 1 when a job failed or
nothing finished in time. Everything shown is reduced to printable text: log lines and
journal entries carry text from other parties, and a terminal must not take it as commands.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
import urllib.request

# Job states at the service that end a job without printing it.
FAILED_SERVICE_STATES = ("rejected", "cancelled")
MAX_SHOWN = 300
MAX_LOG_READ = 1 << 20
# The unfinished end of a log kept for the next read; a longer line loses its rest.
MAX_PARTIAL = 1 << 16
_SOAP_TOKEN = re.compile(r"<token>([^<]{1,200})</token>")
_UNPRINTABLE = re.compile(r"[\x00-\x1f\x7f-\x9f\u2028\u2029\u202a-\u202e\u2066-\u2069]")


def printable(text, limit=MAX_SHOWN):
    """One line of plain text: controls and bidirectional overrides become "?", long text
    is cut."""
    text = _UNPRINTABLE.sub("?", str(text))
    return text if len(text) <= limit else text[:limit] + "…"


class LogTail:
    """New complete lines of a log file since the last call."""

    def __init__(self, name, path):
        self.name, self.path, self.offset, self.partial = name, path, 0, b""

    def new_lines(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                chunk = log.read(MAX_LOG_READ)
        except OSError:
            return []
        self.offset += len(chunk)
        lines = (self.partial + chunk).split(b"\n")
        self.partial = lines.pop()[:MAX_PARTIAL]
        return [printable(line.decode("utf-8", "replace").rstrip("\r")) for line in lines if line]


class Journal:
    """The service's answered requests, each described once."""

    def __init__(self, base):
        self.base, self.since, self.logins = base, 0, {}
        # Each account's last change check: one that repeats it found nothing new.
        self.last_check = {}

    def _get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=10) as reply:
            return json.load(reply)

    def learn_tokens(self):
        state = self._get("/_ref/state?requests=0")
        for account in state.get("accounts", []):
            for token in account.get("tokens", []) + [account.get("token")]:
                if token:
                    self.logins[token] = account.get("login", "?")
        return state

    def service_jobs(self):
        return self.learn_tokens().get("jobs", [])

    def new_entries(self):
        """Descriptions of requests answered since the last call, in order. An entry is
        journaled before its answer is sent; it waits until it has a status."""
        # The service lists the entries after the sequence number given.
        entries = self._get("/_ref/requests?since=" + str(self.since)).get("requests", [])
        shown = []
        for entry in sorted(entries, key=lambda e: e.get("seq", 0)):
            if entry.get("seq", 0) <= self.since:
                continue
            if entry.get("status") is None:
                break
            self.since = entry["seq"]
            if not self.repeats_check(entry):
                shown.append(self.describe(entry))
        return shown

    def repeats_check(self, entry):
        """Whether the entry is a change check with the same marker as the account's previous
        one: the marker moves only when something changed, so it is left out."""
        if entry.get("kind") != "fastcheck":
            return False
        token = self.token_of(entry)
        repeated = self.last_check.get(token) == entry.get("query")
        self.last_check[token] = entry.get("query")
        return repeated

    @staticmethod
    def token_of(entry):
        """The session token a request carries: in its header, or in a SOAP request's data."""
        for key, value in entry.get("headers", []):
            if key.lower() == "td-token":
                return value
        found = _SOAP_TOKEN.search(entry.get("param") or "")
        return found.group(1) if found else ""

    def describe(self, entry):
        headers = {key.lower(): value for key, value in entry.get("headers", [])}
        who = self.logins.get(self.token_of(entry), "")
        what = entry.get("operation") or entry.get("kind", "?")
        detail = ""
        if entry.get("kind") == "upload":
            detail = f" page {headers.get('td-page', '?')} {headers.get('content-range', '')}"
        elif entry.get("kind") in ("download", "fastcheck"):
            detail = " " + urllib.parse.unquote(entry.get("query", ""))
        account = f" by {who}" if who else ""
        return printable(f"{entry.get('method', '?')} {entry.get('path', '?')} {what}{account}"
                         f"{detail} -> {entry.get('status')}")


def lpstat(*arguments):
    listed = subprocess.run(["lpstat", *arguments], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, timeout=30)
    return listed.stdout.splitlines()


def job_ids(which):
    """Ids ("QUEUE-N") of the scheduler's jobs: "not-completed" or "completed" (which takes
    cancelled and aborted jobs too)."""
    return [line.split()[0] for line in lpstat("-W", which, "-o") if line.split()]


def printer_states(lines):
    """Each queue's state line from `lpstat -p` output, without its "since" date, with the
    backend's or filter's last message when there is one."""
    states, queue = {}, None
    for line in lines:
        if line.startswith("printer "):
            queue = line.split()[1]
            states[queue] = re.sub(r"\s+(enabled|disabled) since .*$", r" (\1)", line)
        elif queue is not None and line.strip():
            states[queue] += " - " + line.strip()
    return states


class Scheduler:
    """Job arrivals, job ends and queue state changes of the scheduler, each reported once."""

    def __init__(self):
        self.jobs, self.queues = {}, {}

    def changes(self):
        """(what, text) pairs: ("job", "QUEUE-N queued"), ("queue", state line)."""
        reported = []
        active, finished = job_ids("not-completed"), job_ids("completed")
        for job_id, state in [(j, "queued") for j in active] + [(j, "ended") for j in finished]:
            if self.jobs.get(job_id) != state:
                self.jobs[job_id] = state
                reported.append(("job", job_id, state))
        for queue, state in printer_states(lpstat("-p")).items():
            if self.queues.get(queue) != state:
                self.queues[queue] = state
                reported.append(("queue", queue, state))
        return reported


def is_pdf(path):
    try:
        with open(path, "rb") as document:
            head = document.read(1024)
    except OSError:
        return False
    return b"%PDF-" in head


def follow(args):
    try:
        return follow_until_printed(args)
    except OSError as error:
        print(f"follow: the reference service does not answer: {printable(error)}")
        return 1


def follow_until_printed(args):
    journal = Journal(args.service)
    journal.learn_tokens()
    tails = [LogTail(*entry.split("=", 1)) for entry in args.log]
    scheduler = Scheduler()
    deadline = time.monotonic() + args.timeout
    printed = False
    while time.monotonic() < deadline:
        for tail in tails:
            for line in tail.new_lines():
                print(f"  [{tail.name}] {line}", flush=True)
        for line in journal.new_entries():
            print(f"  [service] {line}", flush=True)
        for what, name, state in scheduler.changes():
            if what == "job":
                print(f"  [scheduler] job {printable(name)} {state}", flush=True)
                printed = printed or (state == "ended" and name.rsplit("-", 1)[0] == args.printer)
                continue
            print(f"  [scheduler] {printable(state)}", flush=True)
            if "(disabled)" in state:
                print(f"follow: the scheduler stopped queue {printable(name)}")
                return 1
        for job in journal.service_jobs():
            if job.get("status") in FAILED_SERVICE_STATES:
                print(f"follow: the service reports job {job.get('id')} {job.get('status')}")
                return 1
        if printed and is_pdf(args.output):
            return 0
        time.sleep(args.interval)
    print(f"follow: nothing was printed on {printable(args.printer)} within {args.timeout} s")
    return 1


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--service", required=True, help="the reference service's base URL")
    parser.add_argument("--printer", required=True, help="the queue that prints the job")
    parser.add_argument("--output", required=True, help="the file that queue writes")
    parser.add_argument("--log", action="append", default=[], help="NAME=FILE to follow")
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("--interval", type=float, default=0.5)
    args = parser.parse_args(argv)
    if any("=" not in entry for entry in args.log):
        parser.error("--log takes NAME=FILE")
    return follow(args)


if __name__ == "__main__":
    sys.exit(main())
