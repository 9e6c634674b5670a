"""A job from announcement through ranged uploads, completion, listing, download and the
printed report; and the job key bound to its password."""

import hashlib
import os
import unittest
import xml.etree.ElementTree as ET
from urllib.parse import urlsplit

from support import BOB_PRINTER, ServiceTest


class JobFlowTest(ServiceTest):
    def announce(self, encrypt=None):
        reply = self.svc.post_job("tok-alice", BOB_PRINTER, encrypt)
        self.assertTrue(reply.ok, reply.body)
        job_id = int(reply.response.find("job").get("id"))
        return job_id, reply.text("post-address")

    def send_page(self, url, job_id, page, count, data, chunk):
        for first in range(0, len(data), chunk):
            status, body, _ = self.svc.upload(url, "tok-alice", job_id, page, count, first,
                                              data[first:first + chunk], len(data))
            self.assertEqual(status, 200, body)

    def test_pages_are_reassembled_listed_downloaded_and_printed(self):
        job_id, post_address = self.announce()
        self.assertEqual(urlsplit(post_address).netloc, f"127.0.0.1:{self.svc.port}")
        page1 = os.urandom(2 * 1048576 + 1234)  # three ranges of the server's chunk size
        page2 = os.urandom(300000)
        self.send_page(post_address, job_id, 1, 2, page1, 1048576)
        self.send_page(post_address, job_id, 2, 2, page2, 1048576)

        job = self.svc.job(job_id)
        self.assertEqual(job["status"], "posting")
        self.assertEqual(job["pages"]["1"]["ranges"], 3)
        self.assertEqual(job["pages"]["1"]["sha256"], hashlib.sha256(page1).hexdigest())
        status, stored, _ = self.svc.request(f"/_ref/page?job={job_id}&page=2")
        self.assertEqual((status, stored), (200, page2))
        # Not listed to the owner before the sender reports the page count.
        _, marker_body, _ = self.svc.fast_check("tok-bob", "")
        self.assertNotIn(f'id="{job_id}"'.encode(), marker_body)

        marker = self.svc.login_token("tok-bob").response.get("timestamp")
        self.assertTrue(self.svc.update_job("tok-alice", job_id, 1, pages=2).ok)
        status, body, _ = self.svc.fast_check("tok-bob", marker)
        root = ET.fromstring(body)
        listed = root.find("jobs/job")
        self.assertEqual(listed.get("id"), str(job_id))
        self.assertRegex(listed.get("started"), r"^\d{12}$")
        self.assertEqual(listed.find("printing-person/login").text, "alice")
        self.assertEqual(listed.find("printer").text, BOB_PRINTER)
        self.assertEqual(listed.find("copies").text, "1")
        self.assertEqual(listed.find("transport").text, "bmp")
        pages = listed.findall("page")
        self.assertEqual([p.get("page-number") for p in pages], ["1", "2"])

        url = pages[0].find("url").text
        status, data, _ = self.svc.request(url, headers={"TD-Token": "tok-bob"})
        self.assertEqual((status, data), (200, page1))
        self.assertNoMalformed()
        self.assertNoDeviations()
        status, _, _ = self.svc.request(url)
        self.assertEqual(status, 401)
        status, _, _ = self.svc.request(url, headers={"TD-Token": "tok-stale"})
        self.assertEqual(status, 403)

        # Printing is the owner's report; the job then leaves the lists.
        self.assertFalse(self.svc.update_job("tok-alice", job_id, 3).ok)
        self.assertTrue(self.svc.update_job("tok-bob", job_id, 3).ok)
        self.assertEqual(self.svc.job(job_id)["status"], "printed")
        relisted = self.svc.login_token("tok-bob").response.findall("jobs/job")
        self.assertEqual(relisted, [])
        status, _, _ = self.svc.request(url, headers={"TD-Token": "tok-bob"})
        self.assertEqual(status, 410)
        # The sender's free pages paid for the two pages.
        self.assertEqual(self.svc.login_token("tok-alice").response.find("free-pages")
                         .get("amount"), "48")

    def test_ranges_must_follow_each_other(self):
        job_id, url = self.announce()
        data = bytes(range(200))
        ok, _, _ = self.svc.upload(url, "tok-alice", job_id, 1, 1, 0, data[:100], 200)
        self.assertEqual(ok, 200)
        cases = [
            ("gap", dict(first=150, chunk=data[150:], total=200), 409),
            ("repeat", dict(first=0, chunk=data[:100], total=200), 409),
            ("total changed", dict(first=100, chunk=data[100:], total=300), 400),
        ]
        for name, args, expected in cases:
            with self.subTest(name):
                status, _, _ = self.svc.upload(url, "tok-alice", job_id, 1, 1, **args)
                self.assertEqual(status, expected)
        self.assertEqual(self.svc.job(job_id)["pages"]["1"]["size"], 100)
        self.assertEqual(self.svc.state(requests=0)["malformed_count"], len(cases))

        # A half page cannot be completed.
        done = self.svc.update_job("tok-alice", job_id, 1, pages=1)
        self.assertFalse(done.ok)
        self.assertEqual(done.message, "Page 1 is incomplete")
        status, _, _ = self.svc.upload(url, "tok-alice", job_id, 1, 1, 100, data[100:], 200)
        self.assertEqual(status, 200)
        self.assertTrue(self.svc.update_job("tok-alice", job_id, 1, pages=1).ok)
        self.assertEqual(self.svc.job(job_id)["status"], "ready")

    def test_upload_headers_are_checked(self):
        job_id, url = self.announce()
        base = {"Content-Type": "binary", "TD-Job": str(job_id), "TD-Page": "1/1",
                "Content-Range": "bytes 0-3/4", "TD-Token": "tok-alice"}
        cases = [
            ("no token", {"TD-Token": None}, 401, True),
            ("foreign token", {"TD-Token": "tok-bob"}, 403, False),
            ("bad page", {"TD-Page": "2/1"}, 400, True),
            ("range without bytes", {"Content-Range": "0-3/4"}, 400, True),
            ("length mismatch", {"Content-Range": "bytes 0-4/5"}, 400, True),
            ("other job", {"TD-Job": str(job_id + 50)}, 400, True),
        ]
        for name, change, expected, malformed in cases:
            with self.subTest(name):
                headers = {k: v for k, v in {**base, **change}.items() if v is not None}
                before = self.svc.state(requests=0)["malformed_count"]
                status, _, _ = self.svc.request(url, b"abcd", headers, method="POST")
                self.assertEqual(status, expected)
                after = self.svc.state(requests=0)["malformed_count"]
                self.assertEqual(after - before, 1 if malformed else 0)
        self.assertEqual(self.svc.job(job_id)["pages"], {})

    def test_cancelled_job_takes_no_more_pages(self):
        job_id, url = self.announce()
        self.assertTrue(self.svc.update_job("tok-alice", job_id, -1).ok)
        self.assertEqual(self.svc.job(job_id)["status"], "cancelled")
        status, _, _ = self.svc.upload(url, "tok-alice", job_id, 1, 1, 0, b"x", 1)
        self.assertEqual(status, 409)
        self.assertFalse(self.svc.update_job("tok-alice", job_id, 1, pages=0).ok)

    def test_owner_rejects_a_seeded_job(self):
        _, seeded = self.svc.control("seed", {"jobs": [{
            "sender": "alice", "printer": BOB_PRINTER, "document": "Plan",
            "pages": [{"text": "page one", "gzip": True}]}]})
        job_id = seeded["jobs"][0]
        job = self.svc.login_token("tok-bob").response.find("jobs/job")
        self.assertEqual((job.get("id"), job.find("document").text), (str(job_id), "Plan"))
        self.assertTrue(self.svc.update_job("tok-bob", job_id, -2).ok)
        self.assertEqual(self.svc.job(job_id)["history"][-1], -2)
        self.assertFalse(self.svc.update_job("tok-bob", job_id, 3).ok)

    def test_unknown_status_is_malformed(self):
        job_id, _ = self.announce()
        reply = self.svc.update_job("tok-alice", job_id, 7)
        self.assertFalse(reply.ok)
        self.assertEqual(reply.status, 500)
        self.assertEqual(self.svc.state(requests=0)["malformed_count"], 1)


class JobKeyTest(ServiceTest):
    extra_args = ("--job-password-prefix", "VLJP")

    def test_key_is_bound_to_its_password(self):
        reply = self.svc.post_job("tok-alice", BOB_PRINTER, "AES")
        job_id = int(reply.response.find("job").get("id"))
        made = self.svc.key("MakeKey", "tok-alice", job_id, "s3cret")
        self.assertTrue(made.ok, made.body)
        key = made.text("file-key")
        self.assertEqual(len(key), 44)  # Base64 of 32 bytes
        # Asking again with the same password gives the same key, another password nothing.
        self.assertEqual(self.svc.key("MakeKey", "tok-alice", job_id, "s3cret").text("file-key"),
                         key)
        self.assertFalse(self.svc.key("MakeKey", "tok-alice", job_id, "other").ok)
        self.assertEqual(self.svc.key("GetKey", "tok-bob", job_id, "s3cret").text("file-key"), key)
        wrong = self.svc.key("GetKey", "tok-bob", job_id, "guess")
        self.assertEqual((wrong.ok, wrong.message), (False, "Incorrect password"))
        self.assertFalse(self.svc.key("GetKey", "tok-bob", job_id + 99, "s3cret").ok)
        self.assertNoMalformed()

    def test_aes0_requires_the_job_password(self):
        job_id = int(self.svc.post_job("tok-alice", BOB_PRINTER, "AES0")
                     .response.find("job").get("id"))
        self.assertFalse(self.svc.key("MakeKey", "tok-alice", job_id, "VLJP1").ok)
        made = self.svc.key("MakeKey", "tok-alice", job_id, f"VLJP{job_id}")
        self.assertTrue(made.ok)
        got = self.svc.key("GetKey", "tok-bob", job_id, f"VLJP{job_id}")
        self.assertEqual(got.text("file-key"), made.text("file-key"))

    def test_unencrypted_job_gets_no_key(self):
        job_id = int(self.svc.post_job("tok-alice", BOB_PRINTER).response.find("job").get("id"))
        reply = self.svc.key("MakeKey", "tok-alice", job_id, "")
        self.assertEqual((reply.ok, reply.message), (False, "The job is not encrypted"))
        self.assertFalse(self.svc.key("GetKey", "tok-bob", job_id, "").ok)


class FixedKeyTest(ServiceTest):
    extra_args = ("--fixed-key", "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVoxMjM0NTY=",
                  "--direct-address", "http://{self}")

    def test_fixed_key_and_direct_address(self):
        reply = self.svc.post_job("tok-alice", BOB_PRINTER, "AES")
        self.assertEqual(reply.text("direct-address"), f"http://127.0.0.1:{self.svc.port}")
        job_id = int(reply.response.find("job").get("id"))
        made = self.svc.key("MakeKey", "tok-alice", job_id, "pw")
        self.assertEqual(made.text("file-key"), "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVoxMjM0NTY=")

        # The service also stands in for a nearby console: probe, then direct ranges.
        status, _, _ = self.svc.request("/hello", headers={
            "TD-Job": str(job_id), "TD-Server": "127.0.0.1", "Content-Length": "0"})
        self.assertEqual(status, 200)
        status, _, _ = self.svc.upload(f"{self.svc.base}/post", None, job_id, 1, 2, 0,
                                       b"direct", 6)
        self.assertEqual(status, 200)
        self.assertEqual(self.svc.job(job_id)["direct_pages"]["1"]["size"], 6)
        self.assertNoMalformed()
        self.assertEqual(self.svc.state(requests=0)["deviation_count"], 0)


if __name__ == "__main__":
    unittest.main()
