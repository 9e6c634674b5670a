"""Sign-in by password and by token, sign-off, password change and sign-up."""

import unittest
import xml.etree.ElementTree as ET

from support import BOB_PRINTER, ServiceTest, data_element, el, tel


class SessionTest(ServiceTest):
    def test_password_login_issues_a_token_and_the_user(self):
        reply = self.svc.login_password("alice", "alice-pw")
        self.assertTrue(reply.ok, reply.body)
        token = reply.text("token")
        self.assertRegex(token, r"^[0-9a-f]{32}$")
        user = reply.response.find("user")
        self.assertEqual(user.get("id"), "1")
        self.assertEqual([c.tag for c in user],
                         ["mail", "login", "nick", "name", "phone", "country", "city", "state",
                          "address", "zip"])
        self.assertEqual(reply.text("user/nick"), "Al")
        # "minimal" asks for the session only.
        self.assertIsNone(reply.response.find("favorites"))
        self.assertIsNone(reply.response.find("jobs"))
        # The new token is a session of its own, next to the seeded one.
        self.assertTrue(self.svc.login_token(token).ok)
        self.assertTrue(self.svc.login_token("tok-alice").ok)
        self.assertNoMalformed()

    def test_login_by_mail_and_refusals(self):
        self.assertTrue(self.svc.login_password("alice@example.test", "alice-pw").ok)
        wrong = self.svc.login_password("alice", "nope")
        self.assertFalse(wrong.ok)
        self.assertEqual(wrong.message, "Invalid login or password")
        self.assertFalse(self.svc.login_password("alice", "").ok)
        stale = self.svc.login_token("tok-unknown")
        self.assertFalse(stale.ok)
        self.assertEqual(stale.message, "Invalid token")
        # Refusals are ordinary answers, not broken requests.
        self.assertNoMalformed()

    def test_token_login_reports_the_whole_session(self):
        reply = self.svc.login_token("tok-alice", lookup=[])
        self.assertTrue(reply.ok, reply.body)
        r = reply.response
        self.assertRegex(r.get("timestamp"), r"^\d{12}$")
        self.assertEqual(reply.text("token"), "tok-alice")
        self.assertEqual(reply.text("update-url"), f"{self.svc.base}/update.xml")
        self.assertEqual(reply.text("server-message"), "Welcome")
        pages = r.find("free-pages")
        self.assertEqual((pages.get("amount"), pages.get("buy-url")),
                         ("50", "https://shop.example.test/buy"))
        rules = r.findall("rule")
        self.assertEqual([x.get("permission") for x in rules], ["Ask", "Allow"])
        self.assertIsNone(rules[0].find("client"))
        self.assertEqual(rules[1].find("client").get("id"), "2")
        self.assertEqual(rules[1].find("client/login").text, "bob")
        favorites = r.find("favorites")
        self.assertEqual(favorites.get("default"), BOB_PRINTER)
        printer = favorites.find("printer")
        self.assertEqual(printer.find("public-id").text, BOB_PRINTER)
        self.assertEqual(printer.find("owner/login").text, "bob")
        self.assertEqual(printer.get("online"), "true")
        self.assertEqual(printer.find("details/bins/bin").get("bin"), "tray1")
        self.assertIsNotNone(r.find("jobs"))
        self.assertIsNotNone(r.find("lookup"))
        self.assertNoMalformed()
        self.assertNoDeviations()

    def test_lookup_names_only_the_callers_shared_printers(self):
        reply = self.svc.login_token("tok-bob", lookup=[BOB_PRINTER, "0000"])
        ids = [p.find("public-id").text for p in reply.response.findall("lookup/printer")]
        self.assertEqual(ids, [BOB_PRINTER])
        other = self.svc.login_token("tok-alice", lookup=[BOB_PRINTER])
        self.assertEqual(other.response.findall("lookup/printer"), [])

    def test_sender_login_echoes_favorites_only(self):
        reply = self.svc.login_token("tok-alice", echo="favorites")
        self.assertIsNotNone(reply.response.find("favorites/printer"))
        self.assertIsNone(reply.response.find("jobs"))

    def test_logoff_ends_the_session(self):
        self.assertTrue(self.svc.soap("Logoff", data_element((), [tel("token", "tok-bob")])).ok)
        self.assertFalse(self.svc.login_token("tok-bob").ok)
        status, body, _ = self.svc.fast_check("tok-bob", "000000000000")
        self.assertTrue(body.startswith(b"<?xml") and b"<relogin" in body, body)
        # Bob has no session left, so his printer went offline for those who list it.
        reply = self.svc.login_token("tok-alice")
        self.assertEqual(reply.response.find("favorites/printer").get("online"), "false")

    def test_change_password_replaces_the_session_token(self):
        change = self.svc.soap("ChangePassword", data_element((), [
            tel("token", "tok-alice"), tel("old-password", "alice-pw"),
            tel("new-password", "n3w<&>")]))
        self.assertTrue(change.ok, change.body)
        new_token = change.text("token")
        self.assertTrue(new_token and new_token != "tok-alice")
        self.assertFalse(self.svc.login_token("tok-alice").ok)
        self.assertTrue(self.svc.login_token(new_token).ok)
        self.assertTrue(self.svc.login_password("alice", "n3w<&>").ok)
        wrong = self.svc.soap("ChangePassword", data_element((), [
            tel("token", new_token), tel("old-password", "alice-pw"), tel("new-password", "x")]))
        self.assertEqual(wrong.message, "Incorrect password")

    def test_register_then_sign_in_with_the_mailed_password(self):
        config = self.svc.soap("GetServerConfig", data_element())
        self.assertTrue(config.ok)
        self.assertEqual([(g.get("id"), g.get("name"))
                          for g in config.response.findall("groups/group")], [("7", "Staff")])
        props = {p.get("name"): p.text for p in config.response.findall("property")}
        self.assertEqual(props["allow-registration"], "true")

        reply = self.svc.soap("UserRegister", data_element((), [
            el("user", tel("mail", "carol@example.test")), tel("group", 7)]))
        self.assertTrue(reply.ok, reply.body)
        self.assertTrue(reply.text("token"))
        self.assertEqual(reply.text("user/login"), "carol")
        state = self.svc.state(requests=0)
        sent = [r for r in state["reminders"] if r["mail"] == "carol@example.test"]
        self.assertEqual(len(sent), 1)
        self.assertTrue(self.svc.login_password("carol", sent[0]["password"]).ok)
        again = self.svc.soap("UserRegister", data_element((), [
            el("user", tel("mail", "carol@example.test"))]))
        self.assertFalse(again.ok)
        unknown_group = self.svc.soap("UserRegister", data_element((), [
            el("user", tel("mail", "dan@example.test")), tel("group", 99)]))
        self.assertEqual(unknown_group.message, "Unknown group")
        self.assertNoMalformed()
        self.assertNoDeviations()

    def test_registration_can_be_closed(self):
        self.svc.control("seed", {"server": {"properties": {"allow-registration": "false"}}})
        reply = self.svc.soap("UserRegister", data_element((), [
            el("user", tel("mail", "eve@example.test"))]))
        self.assertFalse(reply.ok)

    def test_update_description_and_package(self):
        update_url = self.svc.login_token("tok-alice").text("update-url")
        status, body, _ = self.svc.request(update_url)
        self.assertEqual(status, 200)
        self.assertIsNone(ET.fromstring(body).find("linux"))  # nothing offered by default
        self.svc.control("seed", {"server": {"update": {"version": 1702, "size": 10240,
                                                        "package_bytes": 3000}}})
        offer = ET.fromstring(self.svc.request(update_url)[1]).find("linux")
        self.assertEqual((offer.get("version"), offer.get("size")), ("1702", "10240"))
        status, package, _ = self.svc.request(offer.get("href"))
        self.assertEqual((status, len(package)), (200, 3000))

    def test_profile_permissions_and_user_search(self):
        profile = [tel(p, v) for p, v in (("mail", "alice@example.test"), ("login", "alice"),
                                         ("nick", "Ally"), ("name", "Alice A"), ("phone", ""),
                                         ("country", "DE"), ("city", ""), ("state", ""),
                                         ("address", ""), ("zip", ""))]
        self.assertTrue(self.svc.soap("UpdateProfile", data_element((), [
            tel("token", "tok-alice"), el("user", "".join(profile))])).ok)
        taken = self.svc.soap("UpdateProfile", data_element((), [
            tel("token", "tok-alice"), el("user", tel("login", "bob"))]))
        self.assertFalse(taken.ok)

        # Replace the rule for anyone, drop Bob's rule.
        self.assertTrue(self.svc.soap("SetPermission", data_element((), [
            tel("token", "tok-alice"), el("rule", permission="Block")])).ok)
        self.assertTrue(self.svc.soap("SetPermission", data_element((), [
            tel("token", "tok-alice"), el("rule", permission="-1", client=2)])).ok)
        rules = self.svc.login_token("tok-alice").response.findall("rule")
        self.assertEqual([(r.get("permission"), r.find("client")) for r in rules],
                         [("Block", None)])
        self.assertFalse(self.svc.soap("SetPermission", data_element((), [
            tel("token", "tok-alice"), el("rule", permission="Allow", client=99)])).ok)

        found = self.svc.soap("SearchUsers", data_element((), [
            tel("token", "tok-bob"), tel("keyword", "ALLY")]))
        self.assertEqual([u.find("login").text for u in found.response.findall("user")],
                         ["alice"])
        reminder = self.svc.soap("PasswordReminder", data_element((), [
            tel("mail", "bob@example.test")]))
        self.assertTrue(reminder.ok)
        self.assertNoMalformed()


if __name__ == "__main__":
    unittest.main()
