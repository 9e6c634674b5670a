"""HTTP front: routing, bounded bodies, fault injection, the journal and TLS."""

import json
import re
import socket
import ssl
import sys
import time
import traceback
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Optional
from urllib.parse import parse_qs, urlsplit

from . import changes, control, soap, uploads
from .faults import FaultQueue
from .journal import Journal, RequestRecord
from .replies import failure
from .state import Malformed

HANDSHAKE_TIMEOUT = 10.0
_HOST_HEADER = re.compile(r"[A-Za-z0-9.\-]{1,253}(:\d{1,5})?\Z|\[[0-9A-Fa-f:.]{2,45}\](:\d{1,5})?\Z")
_USER_AGENT = re.compile(r"VL4MacOS \d+\.\d+(\.\d+)?\Z")


@dataclass
class Options:
    host: str = "127.0.0.1"
    port: int = 0
    cert: Optional[str] = None
    key: Optional[str] = None
    direct_address: Optional[str] = None
    namespace: Optional[str] = None
    fixed_key: Optional[str] = None
    key_bytes: int = 32
    job_password_prefix: Optional[str] = None
    public_url: Optional[str] = None
    max_body: int = 16 * 1024 * 1024
    max_page_bytes: int = 64 * 1024 * 1024
    max_store: int = 512 * 1024 * 1024
    verbose: bool = False


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmoraRefService/1.0"
    timeout = 30  # a client that stops sending mid-request does not hold a thread for ever

    def do_GET(self):
        self._dispatch("GET")

    def do_POST(self):
        self._dispatch("POST")

    def do_PUT(self):
        self._dispatch("PUT")

    def do_DELETE(self):
        self._dispatch("DELETE")

    def log_message(self, fmt, *args):
        if self.server.options.verbose:
            sys.stderr.write("refservice: %s %s\n" % (self.address_string(), fmt % args))

    # ----------------------------------------------------------------- plumbing

    def _dispatch(self, method):
        url = urlsplit(self.path)
        if url.path.startswith("/_ref/"):
            body = self._read_body(None, method)
            if body is not None:
                control.handle(self, method, url.path, parse_qs(url.query), body)
            return
        record = RequestRecord(method, url.path, url.query, list(self.headers.items()))
        try:
            self._serve(record, method, url.path, parse_qs(url.query, keep_blank_values=True))
        except (ConnectionError, socket.timeout) as exc:
            self.close_connection = True
            record.problems.append(f"connection failed: {exc}")
        except Exception as exc:  # a fault of this service; it must show in the journal
            traceback.print_exc(file=sys.stderr)
            self.server.journal.note_internal_error(record, f"{type(exc).__name__}: {exc}")
            if record.status is None:
                self.send_bytes(record, 500, b"internal error of the reference service",
                                close=True)
        finally:
            if not record.seq:
                self.server.journal.add(record)

    def _read_body(self, record, method):
        """The request body within the size limit, or None once the request was answered."""
        if self.headers.get("Transfer-Encoding"):
            return self._refuse_body(record, 411, "chunked bodies are not accepted")
        length_text = self.headers.get("Content-Length")
        if length_text is None:
            return b""  # a request without Content-Length or Transfer-Encoding has no body
        if not re.fullmatch(r"\d{1,15}", length_text.strip()):
            return self._refuse_body(record, 400, "invalid Content-Length")
        length = int(length_text)
        if length > self.server.options.max_body:
            return self._refuse_body(record, 413, f"body of {length} bytes is too large")
        body = self.rfile.read(length)
        if len(body) != length:
            self.close_connection = True
            if record is not None:
                record.problems.append("connection closed before the body was complete")
            return None
        if record is not None:
            record.body_length = length
        return body

    def _refuse_body(self, record, status, reason):
        # The unread body makes the connection unusable for a next request.
        self.close_connection = True
        if record is not None:
            record.mark_malformed(reason)
        self.send_bytes(record, status, reason.encode("utf-8"), close=True)
        return None

    def send_bytes(self, record, status, body=b"", content_type="text/plain; charset=utf-8",
                   close=False):
        if record is not None:
            # Journaled before the answer leaves, so a client that has its answer always
            # finds the request in the journal.
            record.status = status
            self.server.journal.add(record)
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        if close:
            self.close_connection = True
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, status, value):
        self.send_bytes(None, status, json.dumps(value).encode("utf-8"),
                        "application/json; charset=utf-8")

    def _drop(self, record):
        self.server.journal.add(record)
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def _base(self):
        """Scheme and authority for the addresses this service hands out, taken from how the
        client reached it."""
        server = self.server
        if server.options.public_url:
            return server.options.public_url.rstrip("/"), server.authority
        host = self.headers.get("Host", "")
        authority = host if _HOST_HEADER.match(host) else server.authority
        return f"{server.scheme}://{authority}", authority

    # ----------------------------------------------------------------- routing

    def _serve(self, record, method, path, query):
        body = self._read_body(record, method)
        if body is None:
            return
        if not _USER_AGENT.match(record.header("User-Agent") or ""):
            record.deviate(f"User-Agent {record.header('User-Agent')!r}")

        parsed = None
        if path == soap.ENDPOINT and method == "POST":
            record.kind = "soap"
            record.keep_body(body)
            if record.header("Content-Type") != "text/xml":
                record.deviate(f"Content-Type {record.header('Content-Type')!r}, expected 'text/xml'")
            if record.header("SOAPAction") is not None:
                record.deviate("a SOAPAction header was sent")
            try:
                parsed = soap.parse_request(body, record, self.server.options.namespace)
            except Malformed as exc:
                parsed = exc

        fault = self.server.faults.take(method, path, record.operation)
        if fault is not None and self._apply_fault(record, fault):
            return

        if record.kind == "soap":
            self._serve_soap(record, parsed)
        else:
            self._serve_plain(record, method, path, query, body)

    def _apply_fault(self, record, fault):
        """Returns True when the fault answered (or dropped) the request."""
        record.fault = fault.describe()
        if fault.delay:
            time.sleep(fault.delay)
        if fault.drop:
            self._drop(record)
            return True
        if fault.soap_message is not None:
            reply = soap.reply_envelope(record.operation, None, failure(fault.soap_message))
            self.send_bytes(record, fault.status or 200, reply, "text/xml; charset=utf-8")
            return True
        if fault.status:
            body = (fault.body if fault.body is not None else f"injected status {fault.status}")
            self.send_bytes(record, fault.status, body.encode("utf-8"), fault.content_type)
            return True
        return False

    def _serve_soap(self, record, parsed):
        if isinstance(parsed, Malformed):
            record.mark_malformed(str(parsed))
            reply = soap.reply_envelope(record.operation, None, failure(str(parsed)))
            self.send_bytes(record, 500, reply, "text/xml; charset=utf-8")
            return
        base, authority = self._base()
        call = soap.Call(self.server.state, record, parsed.data, base, authority)
        status, response = soap.run(parsed, call)
        reply = soap.reply_envelope(parsed.operation, parsed.namespace, response)
        self.send_bytes(record, status, reply, "text/xml; charset=utf-8")

    def _serve_plain(self, record, method, path, query, body):
        state = self.server.state
        base, authority = self._base()
        if path == soap.ENDPOINT:
            record.kind = "soap"
            record.mark_malformed("the service endpoint takes POST only")
            self.send_bytes(record, 405, b"POST only")
        elif path == changes.FAST_CHECK_PATH and method == "GET":
            record.kind = "fastcheck"
            call = soap.Call(state, record, None, base, authority)
            marker = query["d"][0] if "d" in query else None
            content_type, reply = changes.fast_check(call, marker, record.header("TD-Token"))
            self.send_bytes(record, 200, reply, content_type)
        elif path in (uploads.UPLOAD_PATH, uploads.DIRECT_POST_PATH) and method == "POST":
            direct = path == uploads.DIRECT_POST_PATH
            record.kind = "direct-post" if direct else "upload"
            answer = uploads.receive_range(state, record, query, body, direct)
            self.send_bytes(record, *answer)
        elif path == uploads.DIRECT_HELLO_PATH:
            record.kind = "direct-hello"
            self.send_bytes(record, *uploads.direct_hello(record))
        elif path == uploads.DOWNLOAD_PATH and method == "GET":
            record.kind = "download"
            self.send_bytes(record, *uploads.send_page(state, record, query))
        elif path == changes.UPDATE_PATH and method == "GET":
            record.kind = "update"
            self.send_bytes(record, 200, changes.update_document(state, base),
                            "text/xml; charset=utf-8")
        elif path.startswith(changes.PACKAGE_PREFIX) and method == "GET":
            record.kind = "package"
            data = changes.package_bytes(state, path[len(changes.PACKAGE_PREFIX):])
            if data is None:
                self.send_bytes(record, 404, b"not found")
            else:
                self.send_bytes(record, 200, data, "application/octet-stream")
        else:
            record.mark_malformed(f"no resource {method} {path}")
            self.send_bytes(record, 404, b"not found")


class RefServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False

    def __init__(self, options: Options, state):
        self.options = options
        self.state = state
        self.journal = Journal()
        self.faults = FaultQueue()
        self.ssl_context = None
        if options.cert:
            self.ssl_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.ssl_context.load_cert_chain(options.cert, options.key)
        super().__init__((options.host, options.port), Handler)

    @property
    def port(self) -> int:
        return self.server_address[1]

    @property
    def scheme(self) -> str:
        return "https" if self.ssl_context else "http"

    @property
    def authority(self) -> str:
        host = self.options.host
        host = f"[{host}]" if ":" in host else host
        return f"{host}:{self.port}"

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the request's own thread, so a slow or broken
        # client cannot stall the accepting loop.
        if self.ssl_context is None:
            return super().finish_request(request, client_address)
        try:
            request.settimeout(HANDSHAKE_TIMEOUT)
            tls = self.ssl_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return None
        try:
            return super().finish_request(tls, client_address)
        finally:
            self.shutdown_request(tls)


class RefServer6(RefServer):
    address_family = socket.AF_INET6


def make_server(options: Options, state) -> RefServer:
    cls = RefServer6 if ":" in options.host else RefServer
    return cls(options, state)
