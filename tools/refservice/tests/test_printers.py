"""Sharing printers, favourites, the printer search and what the change check reports."""

import unittest
import xml.etree.ElementTree as ET

from support import BOB_PRINTER, ServiceTest, data_element, el, tel

NEW_PRINTER = "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"


def shared_printer_element(public_id, title):
    caps = el("capabilities", pack="true", enc_type="AES,AES0", transport="bmp", collate="1",
              color="0", duplex="1", copies="99")
    papers = el("paper-formats", el("paper", name="A4", format="A4", width="2100",
                                    height="2970"), default="A4")
    details = el("details", caps + tel("landscape", 90) + papers)
    return el("printer", tel("public-id", public_id) + tel("title", title) +
              tel("location", "Lab") + details, hidden="false")


class PrinterTest(ServiceTest):
    def change(self, token, action, printer_xml, echo="none"):
        return self.svc.soap("ChangePrinters", data_element(
            [("echo", echo), ("action", action)], [tel("token", token), printer_xml]))

    def id_only(self, public_id):
        return el("printer", tel("public-id", public_id))

    def marker(self, token):
        return self.svc.login_token(token).response.get("timestamp")

    def check(self, token, marker):
        status, body, _ = self.svc.fast_check(token, marker)
        self.assertEqual(status, 200)
        return body

    def test_nothing_changed_gives_the_bare_marker(self):
        marker = self.marker("tok-alice")
        body = self.check("tok-alice", marker)
        self.assertRegex(body.decode(), r"^\d{12}$")
        # Changes for somebody else do not concern Alice.
        self.assertTrue(self.change("tok-bob", "add,share", shared_printer_element(
            NEW_PRINTER, "Side")).ok)
        self.assertRegex(self.check("tok-alice", body.decode()).decode(), r"^\d{12}$")
        self.assertNoMalformed()

    def test_share_like_and_unshare_reach_the_other_user(self):
        bob_marker = self.marker("tok-bob")
        shared = self.change("tok-alice", "add,share,like",
                             shared_printer_element(NEW_PRINTER, "Alice's Ink"), echo="jobs")
        self.assertTrue(shared.ok, shared.body)
        self.assertIsNotNone(shared.response.find("jobs"))
        state = self.svc.state(requests=0)
        printer = next(p for p in state["printers"] if p["public_id"] == NEW_PRINTER)
        self.assertEqual(printer["capabilities"]["copies"], "99")
        self.assertEqual(printer["papers"], [{"name": "A4", "format": "A4", "width": "2100",
                                              "height": "2970"}])

        liked = self.change("tok-bob", "like", self.id_only(NEW_PRINTER), echo="full")
        self.assertTrue(liked.ok, liked.body)
        self.assertEqual(liked.response.find("printer/title").text, "Alice's Ink")
        self.assertEqual(liked.response.find("printer/details/capabilities").get("color"), "0")

        # Bob's other session hears of the new favourite through the change check.
        root = ET.fromstring(self.check("tok-bob", bob_marker))
        ids = [p.find("public-id").text for p in root.findall("favorites/printer")]
        self.assertEqual(ids, [NEW_PRINTER])
        marker = root.get("timestamp")

        self.assertTrue(self.change("tok-alice", "unshare", self.id_only(NEW_PRINTER)).ok)
        root = ET.fromstring(self.check("tok-bob", marker))
        self.assertEqual([p.find("public-id").text for p in root.findall("dislike/printer")],
                         [NEW_PRINTER])
        self.assertIsNone(root.find("favorites"))
        favorites = self.svc.login_token("tok-bob").response.findall("favorites/printer")
        self.assertEqual(favorites, [])
        self.assertNoMalformed()
        self.assertNoDeviations()

    def test_refusals(self):
        stolen = self.change("tok-alice", "add,share", shared_printer_element(BOB_PRINTER, "X"))
        self.assertEqual((stolen.ok, stolen.message), (False, "Access denied"))
        self.assertEqual(self.change("tok-alice", "unshare", self.id_only(BOB_PRINTER)).message,
                         "Access denied")
        self.assertEqual(self.change("tok-alice", "like", self.id_only(NEW_PRINTER)).message,
                         "Printer not found")
        bad = self.change("tok-alice", "teleport", self.id_only(BOB_PRINTER))
        self.assertFalse(bad.ok)
        self.assertEqual(self.svc.state(requests=0)["malformed_count"], 1)

    def test_dislike_and_search(self):
        marker = self.marker("tok-alice")
        self.assertTrue(self.change("tok-alice", "dislike", self.id_only(BOB_PRINTER)).ok)
        root = ET.fromstring(self.check("tok-alice", marker))
        self.assertEqual(root.find("dislike/printer/public-id").text, BOB_PRINTER)

        def search(keyword, online=False):
            attrs = [("page-size", "100")] + ([("online", "true")] if online else [])
            return self.svc.soap("SearchPrinters", data_element(attrs, [
                tel("token", "tok-alice"), tel("keyword", keyword),
                tel("fields", "title,location,owner.login,owner.nick,owner.country")]))

        found = search("nz").response.findall("printer")  # the owner's country
        self.assertEqual([p.find("public-id").text for p in found], [BOB_PRINTER])
        self.assertIsNone(found[0].find("details"))
        self.assertEqual([c.tag for c in found[0].find("owner")], ["login", "nick", "country"])
        self.assertEqual(search("nothing-like-it").response.findall("printer"), [])
        self.svc.control("seed", {"printers": [{"public_id": BOB_PRINTER, "owner": "bob",
                                                "online": False}]})
        self.assertEqual(search("", online=True).response.findall("printer"), [])
        self.assertNoMalformed()
        self.assertNoDeviations()

    def test_seeded_job_and_free_pages_appear_in_the_change_check(self):
        marker = self.marker("tok-bob")
        _, seeded = self.svc.control("seed", {"jobs": [{
            "sender": "alice", "printer": BOB_PRINTER, "copies": 2, "collate": True,
            "encrypt-method": "AES0", "pages": ["AAEC", {"text": "two"}]}]})
        root = ET.fromstring(self.check("tok-bob", marker))
        job = root.find("jobs/job")
        self.assertEqual(job.get("id"), str(seeded["jobs"][0]))
        self.assertEqual((job.find("copies").text, job.find("collate").text,
                          job.find("encrypt-method").text), ("2", "1", "AES0"))
        urls = [p.find("url").text for p in job.findall("page")]
        status, data, _ = self.svc.request(urls[0], headers={"TD-Token": "tok-bob"})
        self.assertEqual((status, data), (200, b"\x00\x01\x02"))

        alice_marker = self.marker("tok-alice")
        self.assertTrue(self.svc.update_job("tok-bob", seeded["jobs"][0], 3).ok)
        root = ET.fromstring(self.check("tok-alice", alice_marker))
        self.assertEqual(root.find("free-pages").get("amount"), str(50 - 2 * 2))

    def test_a_new_free_pages_figure_alone_reaches_the_change_check(self):
        marker = self.marker("tok-alice")
        self.assertEqual(self.svc.control("seed", {"accounts": [
            {"login": "alice", "free_pages": 75}]})[0], 200)
        root = ET.fromstring(self.check("tok-alice", marker))
        self.assertEqual([c.tag for c in root], ["free-pages"])
        self.assertEqual(root.find("free-pages").get("amount"), "75")
        # The same figure again is no change.
        marker = root.get("timestamp")
        self.svc.control("seed", {"accounts": [{"login": "alice", "free_pages": 75}]})
        self.assertRegex(self.check("tok-alice", marker).decode(), r"^\d{12}$")
        self.assertNoMalformed()


class UpdateDescriptionTest(ServiceTest):
    def description(self):
        status, body, _ = self.svc.request("/update.xml")
        self.assertEqual(status, 200)
        return ET.fromstring(body)

    def test_the_offer_is_named_after_the_platform(self):
        self.assertEqual(list(self.description()), [])
        self.svc.control("seed", {"server": {"update": {"version": 1702, "size": 10240}}})
        offer = self.description().find("linux")
        self.assertEqual((offer.get("version"), offer.get("size")), ("1702", "10240"))
        self.assertEqual(offer.get("href"), f"{self.svc.base}/downloads/velmora-1702.pkg")
        # An offer for another platform is not one for this one.
        self.svc.control("seed", {"server": {"update": {"version": 1900, "platform": "mac"}}})
        root = self.description()
        self.assertIsNone(root.find("linux"))
        self.assertEqual(root.find("mac").get("version"), "1900")


if __name__ == "__main__":
    unittest.main()
