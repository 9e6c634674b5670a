"""Starts a real service process on a free loopback port and talks to it the way the programs
do: envelopes built byte for byte in their form, the same headers, plain urllib."""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape, quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
ENTRY = os.path.join(os.path.dirname(HERE), "refservice.py")
USER_AGENT = "VL4MacOS 1.6.1"
NAMESPACE = "urn:test:velmora"

BASE_SEED = {
    "server": {"server_message": "Welcome", "groups": [{"id": 7, "name": "Staff"}]},
    "accounts": [
        {"login": "alice", "password": "alice-pw", "token": "tok-alice", "nick": "Al",
         "free_pages": 50, "buy_url": "https://shop.example.test/buy",
         "favorites": ["11111111-2222-3333-4444-555555555555"],
         "default_printer": "11111111-2222-3333-4444-555555555555",
         "permissions": [{"permission": "Ask"}, {"client": "bob", "permission": "Allow"}]},
        {"login": "bob", "password": "bob-pw", "token": "tok-bob", "country": "NZ"},
    ],
    "printers": [
        {"public_id": "11111111-2222-3333-4444-555555555555", "owner": "bob",
         "title": "Bob's Laser", "location": "Hall",
         "bins": [{"name": "Tray 1", "bin": "tray1"}]},
    ],
}
BOB_PRINTER = "11111111-2222-3333-4444-555555555555"


def data_element(attrs=(), children=()):
    """The parameter text: "data" with its empty xmlns first, then attributes in order, then
    children given as raw XML text (already escaped)."""
    head = '<data xmlns=""' + "".join(f" {k}={quoteattr(v)}" for k, v in attrs)
    inner = "".join(children)
    return head + (">" + inner + "</data>" if inner else "/>")


def el(name, text=None, /, **attrs):
    attr_text = "".join(f" {k.replace('_', '-')}={quoteattr(str(v))}" for k, v in attrs.items())
    if text is None:
        return f"<{name}{attr_text}/>"
    return f"<{name}{attr_text}>{text}</{name}>"


def tel(name, text):
    """An element holding escaped text."""
    return el(name, escape(str(text)))


def envelope(operation, param, namespace=NAMESPACE):
    return ('<?xml version="1.0" encoding="utf-8"?>'
            '<soap:Envelope xmlns:soap="https://schemas.xmlsoap.org/soap/envelope/">'
            f'<soap:Body>\r\n<{operation} xmlns="{namespace}"><Param>{param}</Param>'
            f'</{operation}>\r\n</soap:Body></soap:Envelope>').encode("utf-8")


def find_response(root):
    """First element named "response", depth first, as the programs look for it."""
    if root.tag == "response":
        return root
    for c in root:
        found = find_response(c)
        if found is not None:
            return found
    return None


class Reply:
    def __init__(self, status, body):
        self.status = status
        self.body = body
        self.response = find_response(ET.fromstring(body))

    @property
    def ok(self):
        return self.response is not None and self.response.get("success") == "true"

    def text(self, name):
        node = self.response.find(name)
        return "".join(node.itertext()) if node is not None else ""

    @property
    def message(self):
        return self.text("message")


class Service:
    """One service process; `stop()` sends SIGTERM and waits for it to exit."""

    def __init__(self, seed=None, extra_args=()):
        self._seed_file = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
        json.dump(BASE_SEED if seed is None else seed, self._seed_file)
        self._seed_file.close()
        # A file, not a pipe: a pipe nobody reads would block the service once full.
        self.log = tempfile.TemporaryFile("w+")
        self.process = subprocess.Popen(
            [sys.executable, ENTRY, "--port", "0", "--seed", self._seed_file.name, *extra_args],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.process.stdout.readline().strip()
        if not line.isdigit():
            self.process.kill()
            self.process.wait()
            message = f"service did not start: {line!r} {self.stderr_text()}"
            self.process.stdout.close()
            self.log.close()
            os.unlink(self._seed_file.name)
            raise RuntimeError(message)
        self.port = int(line)
        self.base = f"http://127.0.0.1:{self.port}"

    def stderr_text(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self, timeout=10):
        self.process.terminate()
        try:
            return self.process.wait(timeout)
        finally:
            self.process.stdout.close()
            self.log.close()
            os.unlink(self._seed_file.name)

    # ---------------------------------------------------------------- HTTP

    def request(self, path, data=None, headers=None, method=None, timeout=10):
        """Returns (status, body bytes, response headers); never raises for HTTP errors."""
        url = path if path.startswith("http") else self.base + path
        all_headers = {"User-Agent": USER_AGENT, **(headers or {})}
        req = urllib.request.Request(url, data=data, headers=all_headers, method=method)
        try:
            with urllib.request.urlopen(req, timeout=timeout) as r:
                return r.status, r.read(), r.headers
        except urllib.error.HTTPError as e:
            with e:
                return e.code, e.read(), e.headers

    def soap(self, operation, param, **kw):
        status, body, _ = self.request("/tdService.asmx", envelope(operation, param, **kw),
                                       {"Content-Type": "text/xml"})
        return Reply(status, body)

    def control(self, path, value=None, method=None):
        data = None if value is None else json.dumps(value).encode("utf-8")
        status, body, _ = self.request("/_ref/" + path, data, method=method)
        return status, json.loads(body) if body[:1] in (b"{", b"[") else body

    def state(self, **query):
        q = "&".join(f"{k}={v}" for k, v in query.items())
        return self.control("state" + (f"?{q}" if q else ""))[1]

    def job(self, job_id):
        return next(j for j in self.state(requests=0)["jobs"] if j["id"] == job_id)

    # ---------------------------------------------------------------- operations

    def login_password(self, login, password):
        return self.soap("Login", data_element([("echo", "minimal")],
                                                [tel("login", login), tel("password", password)]))

    def login_token(self, token, lookup=None, echo="favorites,jobs"):
        children = [tel("token", token)]
        if lookup is not None:
            children.append(el("lookup", "".join(el("printer", tel("public-id", p))
                                                for p in lookup)))
        return self.soap("Login", data_element([("echo", echo)], children))

    def fast_check(self, token, marker):
        headers = {} if token is None else {"TD-Token": token}
        return self.request(f"/fastCheck3.aspx?d={marker}", headers=headers)

    def post_job(self, token, printer, encrypt=None, document="Report"):
        job = [tel("printer", printer), tel("paper-format", "A4"), tel("paper-orientation", 1),
               tel("pack", 1), tel("document", document), tel("duplex", 0)]
        if encrypt:
            job += [tel("encrypt", 1), tel("encrypt-method", encrypt)]
        job += [tel("transport", "bmp")]
        return self.soap("PrePostJob2", data_element((), [tel("token", token),
                                                          el("job", "".join(job))]))

    def key(self, operation, token, job_id, password):
        return self.soap(operation, data_element((), [
            tel("token", token), el("job", id=job_id), tel("password", password)]))

    def update_job(self, token, job_id, status, pages=None):
        attrs = {"id": job_id, "new_status": status}
        if pages is not None:
            attrs["pages"] = pages
        return self.soap("UpdateJob", data_element((), [tel("token", token), el("job", **attrs)]))

    def upload(self, url, token, job_id, page, count, first, chunk, total):
        headers = {"Content-Type": "binary", "TD-Job": str(job_id), "TD-Page": f"{page}/{count}",
                   "Content-Range": f"bytes {first}-{first + len(chunk) - 1}/{total}"}
        if token is not None:
            headers["TD-Token"] = token
        return self.request(url, chunk, headers, method="POST")


class ServiceTest(unittest.TestCase):
    """One fresh service per test class; each test starts from the seed."""
    seed = None
    extra_args = ()

    @classmethod
    def setUpClass(cls):
        cls.svc = Service(cls.seed, cls.extra_args)

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def setUp(self):
        status, _ = self.svc.control("reset", method="POST")
        self.assertEqual(status, 200)

    def tearDown(self):
        # Whatever a test provoked, the service itself must never have failed.
        state = self.svc.state(requests=0)
        self.assertEqual(state["internal_error_count"], 0, self.svc.stderr_text())

    def assertNoMalformed(self):
        state = self.svc.state(requests=0)
        self.assertEqual(state["malformed_count"], 0, state["malformed"])

    def assertNoDeviations(self):
        """Requests built in the programs' exact form must pass the service's form checks."""
        state = self.svc.state()
        noted = [(r["operation"] or r["path"], r["deviations"]) for r in state["requests"]
                 if r["deviations"]]
        self.assertEqual(noted, [])
