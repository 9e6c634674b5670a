"""Injected faults, broken requests and their recording, body limits, TLS and shutdown."""

import http.client
import os
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.error
import xml.etree.ElementTree as ET

from support import (BASE_SEED, Service, ServiceTest, data_element, envelope, find_response,
                     tel)


class FaultInjectionTest(ServiceTest):
    def test_status_fault_hits_only_the_matching_operation_and_counts_down(self):
        status, _ = self.svc.control("fault", {"count": 2, "match": {"operation": "Login"},
                                               "status": 503})
        self.assertEqual(status, 200)
        logoff = self.svc.soap("Logoff", data_element((), [tel("token", "tok-bob")]))
        self.assertEqual(logoff.status, 200)
        statuses = []
        for _ in range(3):
            s, _, _ = self.svc.request("/tdService.asmx", envelope(
                "Login", data_element([("echo", "minimal")],
                                      [tel("login", "alice"), tel("password", "alice-pw")])))
            statuses.append(s)
        self.assertEqual(statuses, [503, 503, 200])
        faulted = self.svc.control("requests?operation=Login")[1]["requests"]
        self.assertEqual([r["fault"] for r in faulted], ["status 503", "status 503", None])
        self.assertEqual(self.svc.control("fault")[1]["pending"], [])

    def test_soap_error_fault_carries_the_message(self):
        self.svc.control("fault", {"match": {"path": "/tdService.asmx"}, "status": 500,
                                   "soap_message": "Server busy"})
        reply = self.svc.login_token("tok-alice")
        self.assertEqual((reply.status, reply.ok, reply.message), (500, False, "Server busy"))

    def test_delay_then_normal_answer(self):
        self.svc.control("fault", {"match": {"path": "/fastCheck3.aspx"}, "delay": 0.5})
        started = time.monotonic()
        status, body, _ = self.svc.fast_check("tok-alice", "")
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        self.assertEqual(status, 200)
        self.assertTrue(body)

    def test_drop_closes_the_connection_without_an_answer(self):
        self.svc.control("fault", {"match": {"method": "POST"}, "drop": True})
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError,
                                urllib.error.URLError)):
            self.svc.login_token("tok-alice")
        # The next request is served again.
        self.assertTrue(self.svc.login_token("tok-alice").ok)

    def test_bad_fault_specs_are_refused(self):
        for entry in ({"status": 42}, {"count": 1}, {"match": {"host": "x"}, "drop": True},
                     {"delay": 1000}):
            with self.subTest(entry=entry):
                status, _ = self.svc.control("fault", entry)
                self.assertEqual(status, 400)
        self.assertEqual(self.svc.control("fault")[1]["pending"], [])


class MalformedRequestTest(ServiceTest):
    def post_raw(self, body, headers=None):
        return self.svc.request("/tdService.asmx", body,
                                {"Content-Type": "text/xml", **(headers or {})})

    def test_broken_envelopes_are_refused_and_recorded(self):
        good_param = data_element([("echo", "minimal")],
                                  [tel("login", "alice"), tel("password", "alice-pw")])
        cases = {
            "not xml": b"<soap:Envelope",
            "plain http namespace": envelope("Login", good_param).replace(
                b"https://schemas", b"http://schemas"),
            "data in the service namespace": envelope(
                "Login", good_param.replace(' xmlns=""', "", 1)),
            "unknown operation": envelope("Teleport", data_element()),
            "document type": b'<?xml version="1.0"?><!DOCTYPE x [<!ENTITY a "b">]><x>&a;</x>',
            "two data elements": envelope("Logoff", data_element() + data_element()),
            "login without credentials": envelope("Login", data_element([("echo", "minimal")])),
        }
        for name, body in cases.items():
            with self.subTest(name):
                status, reply_body, _ = self.post_raw(body)
                self.assertEqual(status, 500)
                response = find_response(ET.fromstring(reply_body))
                self.assertEqual(response.get("success"), "false")
                self.assertTrue(response.find("message").text)
        state = self.svc.state(requests=0)
        self.assertEqual(state["malformed_count"], len(cases))
        self.assertTrue(all(r["problems"] for r in state["malformed"]))

    def test_layout_differences_are_served_but_noted(self):
        param = data_element((), [tel("token", "tok-bob")])
        loose = envelope("Logoff", param).replace(b"\r\n", b"\n")
        status, body, _ = self.post_raw(loose, {"User-Agent": "curl/8"})
        self.assertEqual(status, 200)
        record = self.svc.control("requests?operation=Logoff")[1]["requests"][-1]
        self.assertFalse(record["malformed"])
        self.assertEqual(len(record["deviations"]), 2, record["deviations"])
        self.assertEqual(record["param"], param)

    def test_body_limits(self):
        with socket.create_connection(("127.0.0.1", self.svc.port), timeout=5) as s:
            s.sendall(b"POST /tdService.asmx HTTP/1.1\r\nHost: x\r\n"
                      b"Content-Length: 99999999999\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 413"))
        with socket.create_connection(("127.0.0.1", self.svc.port), timeout=5) as s:
            s.sendall(b"POST /tdUpload.aspx HTTP/1.1\r\nHost: x\r\n"
                      b"Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 411"))
        self.assertEqual(self.svc.state(requests=0)["malformed_count"], 2)


class ControlTest(ServiceTest):
    def test_bad_seed_changes_nothing(self):
        before = self.svc.state(requests=0)
        status, reply = self.svc.control("seed", {
            "accounts": [{"login": "zed", "password": "z"}],
            "jobs": [{"sender": "zed", "printer": "no-such-printer"}]})
        self.assertEqual(status, 400)
        self.assertIn("unknown printer", reply["error"])
        after = self.svc.state(requests=0)
        self.assertEqual(after["accounts"], before["accounts"])
        self.assertEqual(after["revision"], before["revision"])

    def test_reset_to_a_bad_seed_keeps_the_service_as_it_was(self):
        status, _ = self.svc.control("reset", {"accounts": [{"login": "x", "id": "seven"}]})
        self.assertEqual(status, 400)
        self.assertTrue(self.svc.login_token("tok-alice").ok)
        self.assertEqual(len(self.svc.state(requests=0)["accounts"]), 2)

    def test_reset_restores_the_seed_and_clears_the_journal(self):
        self.svc.soap("Logoff", data_element((), [tel("token", "tok-alice")]))
        self.svc.control("fault", {"status": 500})
        self.svc.control("reset", method="POST")
        state = self.svc.state()
        self.assertEqual(state["requests"], [])
        self.assertEqual(state["faults"], [])
        self.assertTrue(self.svc.login_token("tok-alice").ok)

    def test_revoke_turns_the_change_check_into_relogin(self):
        self.assertEqual(self.svc.control("revoke", {"login": "alice"})[1], {"revoked": 1})
        _, body, _ = self.svc.fast_check("tok-alice", "000000000000")
        self.assertIn(b"<relogin", body)


class ProcessTest(unittest.TestCase):
    def test_sigterm_ends_the_process_cleanly(self):
        svc = Service(BASE_SEED)
        # A held-open idle connection must not keep the process alive.
        idle = socket.create_connection(("127.0.0.1", svc.port))
        try:
            self.assertEqual(svc.stop(), 0)
        finally:
            idle.close()

    def test_bad_seed_file_stops_start_up(self):
        with self.assertRaises(RuntimeError):
            Service({"accounts": [{"password": "no login"}]})

    @unittest.skipUnless(os.path.exists("/usr/bin/openssl"), "needs openssl to make a cert")
    def test_tls(self):
        with tempfile.TemporaryDirectory() as folder:
            cert, key = os.path.join(folder, "c.pem"), os.path.join(folder, "k.pem")
            subprocess.run(["/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                            "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1"],
                           check=True, capture_output=True)
            svc = Service(BASE_SEED, ("--cert", cert, "--key", key))
            try:
                context = ssl.create_default_context(cafile=cert)
                context.check_hostname = False
                conn = http.client.HTTPSConnection("127.0.0.1", svc.port, context=context,
                                                   timeout=10)
                conn.request("POST", "/tdService.asmx", envelope(
                    "Login", data_element([("echo", "favorites,jobs")], [tel("token", "tok-alice")])),
                    headers={"Content-Type": "text/xml", "User-Agent": "VL4MacOS 1.6.1"})
                response = conn.getresponse()
                self.assertEqual(response.status, 200)
                reply = find_response(ET.fromstring(response.read()))
                # Addresses handed out over TLS point back at TLS.
                self.assertEqual(reply.find("update-url").text,
                                 f"https://127.0.0.1:{svc.port}/update.xml")
                conn.close()
                # A client that never finishes the handshake does not block others.
                stalled = socket.create_connection(("127.0.0.1", svc.port))
                conn = http.client.HTTPSConnection("127.0.0.1", svc.port, context=context,
                                                   timeout=10)
                conn.request("GET", "/update.xml")
                self.assertEqual(conn.getresponse().status, 200)
                conn.close()
                stalled.close()
            finally:
                self.assertEqual(svc.stop(), 0)


if __name__ == "__main__":
    unittest.main()
