"""The demo's helpers on their own: the PDF it prints, and how it shows what other parties
wrote (log lines, the scheduler's lines, the service's journal)."""
import os
import re
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "scripts", "demo"))

import follow  # noqa: E402
import make_pdf  # noqa: E402

REFSERVICE = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "refservice",
                          "refservice.py")


class MakePdfTest(unittest.TestCase):
    def pdfinfo(self, data):
        with tempfile.NamedTemporaryFile(suffix=".pdf") as pdf:
            pdf.write(data)
            pdf.flush()
            info = subprocess.run(["pdfinfo", pdf.name], capture_output=True, text=True)
        self.assertEqual(info.returncode, 0, info.stderr)
        self.assertEqual(info.stderr, "", "poppler had to repair the file")
        return info.stdout

    def test_page_count_and_letter_size(self):
        for count in (1, 3, 100):
            with self.subTest(count=count):
                info = self.pdfinfo(make_pdf.build(count))
                self.assertRegex(info, rf"Pages:\s+{count}\n")
                self.assertRegex(info, r"Page size:\s+612 x 792 pts")

    def test_each_page_names_itself(self):
        with tempfile.TemporaryDirectory() as folder:
            pdf = os.path.join(folder, "doc.pdf")
            with open(pdf, "wb") as out:
                out.write(make_pdf.build(3))
            for page in (1, 3):
                text = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), pdf, "-"],
                                      capture_output=True, text=True).stdout
                self.assertIn(f"Page {page} of 3", text)

    def test_counts_out_of_range_are_refused(self):
        for count in (0, -1, make_pdf.MAX_PAGES + 1):
            with self.subTest(count=count), self.assertRaises(ValueError):
                make_pdf.build(count)


class PrintableTest(unittest.TestCase):
    def test_controls_and_direction_overrides_are_neutralised(self):
        cases = {
            "\x1b]0;owned\x07title": "?]0;owned?title",
            "two\nlines\r": "two?lines?",
            "csi \x9b2J": "csi ?2J",
            "abc\u202edcba": "abc?dcba",
            "plain text, \"quoted\" <b>markup</b>": "plain text, \"quoted\" <b>markup</b>",
        }
        for text, shown in cases.items():
            with self.subTest(text=text):
                self.assertEqual(follow.printable(text), shown)

    def test_long_text_is_cut(self):
        shown = follow.printable("x" * 100000)
        self.assertEqual(len(shown), follow.MAX_SHOWN + 1)
        self.assertTrue(shown.endswith("…"))


class LogTailTest(unittest.TestCase):
    def test_only_complete_lines_each_once(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "console.log")
            tail = follow.LogTail("console", path)
            self.assertEqual(tail.new_lines(), [], "a missing log is no failure")
            with open(path, "wb") as log:
                log.write(b"first\nsec")
            self.assertEqual(tail.new_lines(), ["first"])
            with open(path, "ab") as log:
                log.write(b"ond\r\n\xff\x1b[31mthird\n")
            self.assertEqual(tail.new_lines(), ["second", "\ufffd?[31mthird"])
            self.assertEqual(tail.new_lines(), [])

    def test_a_huge_line_is_read_in_bounded_pieces(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "console.log")
            with open(path, "wb") as log:
                log.write(b"y" * (3 * follow.MAX_LOG_READ) + b"\nend\n")
            tail = follow.LogTail("console", path)
            lines = []
            for _ in range(5):
                lines += tail.new_lines()
                self.assertLessEqual(len(tail.partial), follow.MAX_PARTIAL)
            self.assertEqual(len(lines), 2)
            self.assertEqual(lines[1], "end")


class SchedulerLinesTest(unittest.TestCase):
    def test_state_lines_keep_state_and_message_without_dates(self):
        states = follow.printer_states([
            "printer Office_Printer now printing Office_Printer-3.  enabled since Mon Dec  7 "
            "17:39:38 2026",
            "\tSending data to printer.",
            "printer Velmora_x is idle.  enabled since Mon Dec  7 17:39:38 2026",
            "printer Broken disabled since Mon Dec  7 17:40:01 2026 -",
            "\tFile device URIs have been disabled.",
        ])
        self.assertEqual(states["Office_Printer"], "printer Office_Printer now printing "
                         "Office_Printer-3. (enabled) - Sending data to printer.")
        self.assertEqual(states["Velmora_x"], "printer Velmora_x is idle. (enabled)")
        self.assertIn("(disabled)", states["Broken"])
        self.assertIn("File device URIs have been disabled.", states["Broken"])


class JournalTest(unittest.TestCase):
    def test_describes_the_account_by_token_and_never_shows_the_token(self):
        journal = follow.Journal("http://127.0.0.1:9")
        journal.logins = {"bob-demo-token": "bob"}
        upload = journal.describe({
            "seq": 7, "method": "POST", "path": "/tdUpload.aspx", "kind": "upload",
            "status": 200, "headers": [["TD-Token", "bob-demo-token"], ["TD-Page", "2/3"],
                                       ["Content-Range", "bytes 0-99/100"]]})
        self.assertEqual(upload,
                         "POST /tdUpload.aspx upload by bob page 2/3 bytes 0-99/100 -> 200")
        soap = journal.describe({"method": "POST", "path": "/tdService.asmx", "kind": "soap",
                                 "operation": "Logoff\x1b[2J", "status": 200,
                                 "headers": [["TD-Token", "unknown"]]})
        self.assertEqual(soap, "POST /tdService.asmx Logoff?[2J -> 200")
        login = journal.describe({"method": "POST", "path": "/tdService.asmx", "kind": "soap",
                                  "operation": "Login", "status": 200, "headers": [],
                                  "param": "<data><token>bob-demo-token</token></data>"})
        self.assertEqual(login, "POST /tdService.asmx Login by bob -> 200")
        self.assertNotIn("token", upload + soap + login)

    def test_a_change_check_is_shown_only_when_its_marker_moved(self):
        journal = follow.Journal("http://127.0.0.1:9")

        def check(token, marker):
            return {"kind": "fastcheck", "query": "d=" + marker,
                    "headers": [["TD-Token", token]]}

        sequence = [(check("a", "1"), False), (check("a", "1"), True), (check("b", "1"), False),
                    (check("a", "2"), False), (check("b", "1"), True), (check("a", "2"), True),
                    ({"kind": "soap", "operation": "Login"}, False),
                    ({"kind": "soap", "operation": "Login"}, False)]
        for index, (entry, repeated) in enumerate(sequence):
            with self.subTest(index=index):
                self.assertEqual(journal.repeats_check(entry), repeated)


class JournalAgainstTheServiceTest(unittest.TestCase):
    """The journal read while requests arrive, from the reference service itself."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        seed = os.path.join(self.folder.name, "seed.json")
        with open(seed, "w") as out:
            out.write('{"accounts": [{"login": "bob", "token": "tok-bob"}]}')
        self.service = subprocess.Popen([sys.executable, REFSERVICE, "--port", "0", "--seed", seed],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        self.port = self.service.stdout.readline().strip()
        self.base = "http://127.0.0.1:" + self.port

    def tearDown(self):
        self.service.terminate()
        self.service.wait(30)
        self.service.stdout.close()
        self.folder.cleanup()

    def request(self, path, token=None):
        request = urllib.request.Request(self.base + path)
        if token:
            request.add_header("TD-Token", token)
        try:
            urllib.request.urlopen(request, timeout=10).read()
        except urllib.error.HTTPError:
            pass

    def test_every_answered_request_is_shown_once(self):
        journal = follow.Journal(self.base)
        journal.learn_tokens()
        shown = []
        # Six change checks, three of which repeat the marker before them.
        for markers in (["0", "0"], ["1", "1", "1"], ["2"]):
            for marker in markers:
                self.request("/fastCheck3.aspx?d=00000000000" + marker, "tok-bob")
            self.request("/hello")
            shown += journal.new_entries()
        shown += journal.new_entries()
        self.assertEqual(sum("/hello" in line for line in shown), 3, shown)
        checks = [line for line in shown if "fastcheck" in line]
        self.assertEqual([line.split("d=")[1][:12] for line in checks],
                         ["000000000000", "000000000001", "000000000002"], shown)
        self.assertTrue(all("by bob" in line for line in checks), checks)

    def follow(self, timeout):
        """follow.py's verdict and what it printed, with no scheduler to ask."""
        arguments = ["--service", self.base, "--printer", "Office", "--output",
                     os.path.join(self.folder.name, "printed.pdf"), "--timeout", str(timeout),
                     "--interval", "0.1"]
        environment = dict(os.environ, CUPS_SERVER=os.path.join(self.folder.name, "no.sock"))
        done = subprocess.run([sys.executable, follow.__file__, *arguments], env=environment,
                              capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout + done.stderr

    def test_a_job_the_service_ended_unprinted_ends_the_watch(self):
        seed = ('{"printers": [{"public_id": "11111111-2222-3333-4444-555555555555", '
                '"owner": "bob"}], "jobs": [{"id": 3001, "sender": "bob", "printer": '
                '"11111111-2222-3333-4444-555555555555", "status": "rejected"}]}')
        request = urllib.request.Request(self.base + "/_ref/seed", data=seed.encode(),
                                         headers={"Content-Type": "application/json"})
        urllib.request.urlopen(request, timeout=10).read()
        status, output = self.follow(30)
        self.assertEqual(status, 1)
        self.assertIn("the service reports job 3001 rejected", output)

    def test_nothing_printed_in_time_or_no_service_is_a_failure(self):
        status, output = self.follow(1)
        self.assertEqual(status, 1)
        self.assertIn("nothing was printed on Office within 1.0 s", output)
        self.service.terminate()
        self.service.wait(30)
        status, output = self.follow(5)
        self.assertEqual(status, 1)
        self.assertIn("the reference service does not answer", output)
        self.assertNotIn("Traceback", output)


if __name__ == "__main__":
    unittest.main()
