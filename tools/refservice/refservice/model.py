"""Records the service keeps: accounts, printers, jobs and their stored pages."""

import base64
import hashlib
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from . import xmlutil
from .xmlutil import sub

# Job states at the service and the status codes that lead to them.
POSTING, READY, PRINTED, REJECTED, CANCELLED = "posting", "ready", "printed", "rejected", "cancelled"
STATUS_CODES = {POSTING: 0, READY: 1, PRINTED: 3, REJECTED: -2, CANCELLED: -1}

DEFAULT_CAPABILITIES = (("pack", "true"), ("enc-type", "AES,AES0"), ("transport", "bmp"),
                        ("collate", "1"), ("color", "1"), ("duplex", "0"), ("copies", "10"))
DEFAULT_PAPERS = ({"name": "A4", "format": "A4", "width": "2100", "height": "2970"},
                  {"name": "Letter", "format": "Letter", "width": "2159", "height": "2794"})

# Children of a job element as the service lists them, in this order.
JOB_FIELDS = ("premium", "printer", "paper-format", "paper-orientation", "bin", "copies",
              "duplex", "collate", "pack", "document", "encrypt-method", "transport")


@dataclass
class Rule:
    client: Optional[int]  # None: the rule for anyone
    permission: str        # "Allow", "Block" or "Ask"


@dataclass
class Account:
    id: int
    password: str
    props: Dict[str, str]
    premium: bool = False
    tokens: List[str] = field(default_factory=list)
    favorites: List[str] = field(default_factory=list)
    default_printer: str = ""
    rules: List[Rule] = field(default_factory=list)
    free_pages: Optional[int] = None
    buy_url: Optional[str] = None
    server_message: Optional[str] = None
    direct_address: Optional[str] = None
    group: int = 0
    # (revision, kind, key) of every change the account's change check must report.
    events: List[tuple] = field(default_factory=list)

    @property
    def login(self) -> str:
        return self.props.get("login", "")

    @property
    def mail(self) -> str:
        return self.props.get("mail", "")

    def to_json(self):
        return {
            "id": self.id, "login": self.login, "mail": self.mail, "password": self.password,
            "props": dict(self.props), "premium": self.premium, "tokens": list(self.tokens),
            "favorites": list(self.favorites), "default_printer": self.default_printer,
            "rules": [{"client": r.client, "permission": r.permission} for r in self.rules],
            "free_pages": self.free_pages, "buy_url": self.buy_url,
            "server_message": self.server_message, "direct_address": self.direct_address,
            "group": self.group,
        }


@dataclass
class Printer:
    public_id: str
    owner: int
    title: str = ""
    location: str = ""
    hidden: bool = False
    shared: bool = True
    online: bool = True
    changed: str = ""
    has_details: bool = True
    capabilities: List[tuple] = field(default_factory=lambda: list(DEFAULT_CAPABILITIES))
    landscape: int = 90
    default_paper: str = ""
    papers: List[dict] = field(default_factory=lambda: [dict(p) for p in DEFAULT_PAPERS])
    bins: List[dict] = field(default_factory=list)

    def visible_to(self, account_id: int) -> bool:
        return self.shared or self.owner == account_id

    def capability(self, name: str) -> str:
        return dict(self.capabilities).get(name, "")

    def to_json(self):
        return {
            "public_id": self.public_id, "owner": self.owner, "title": self.title,
            "location": self.location, "hidden": self.hidden, "shared": self.shared,
            "online": self.online, "changed": self.changed, "details": self.has_details,
            "capabilities": dict(self.capabilities), "landscape": self.landscape,
            "default_paper": self.default_paper, "papers": [dict(p) for p in self.papers],
            "bins": [dict(b) for b in self.bins],
        }

    def append_element(self, parent, owner_account, fields=None):
        """The printer element as the service sends it. With `fields` (a printer search)
        only the named parts and the owner's named texts are written."""
        elem = sub(parent, "printer", online=xmlutil.bool_text(self.online), changed=self.changed)
        owner_fields = None
        if fields is not None:
            owner_fields = {f.split(".", 1)[1] for f in fields if f.startswith("owner.")}
        if owner_account is not None and (fields is None or owner_fields):
            xmlutil.person_element(elem, "owner", owner_account, owner_fields)
        sub(elem, "public-id", self.public_id)
        if fields is None or "title" in fields:
            sub(elem, "title", self.title)
        if fields is None or "location" in fields:
            sub(elem, "location", self.location)
        if fields is None and self.has_details:
            self._append_details(elem)
        return elem

    def _append_details(self, elem):
        details = sub(elem, "details")
        xmlutil.set_attrs(sub(details, "capabilities"), self.capabilities)
        if self.landscape:
            sub(details, "landscape", self.landscape)
        if self.papers:
            formats = sub(details, "paper-formats")
            formats.set("default", self.default_paper)
            for paper in self.papers:
                xmlutil.set_attrs(sub(formats, "paper"), paper.items())
        if self.bins:
            bins = sub(details, "bins")
            for item in self.bins:
                xmlutil.set_attrs(sub(bins, "bin"), item.items())


@dataclass
class StoredPage:
    """One page file, reassembled from consecutive byte ranges."""
    total: int
    data: bytearray = field(default_factory=bytearray)
    ranges: int = 0

    @property
    def complete(self) -> bool:
        return len(self.data) == self.total

    def to_json(self, with_bytes=False):
        out = {"total": self.total, "size": len(self.data), "ranges": self.ranges,
               "complete": self.complete, "sha256": hashlib.sha256(self.data).hexdigest()}
        if with_bytes:
            out["base64"] = base64.b64encode(bytes(self.data)).decode("ascii")
        return out


@dataclass
class Job:
    id: int
    sender: int
    printer: str
    fields: Dict[str, str]
    status: str = POSTING
    started: str = ""
    page_count: Optional[int] = None     # from the "TD-Page" headers of the uploads
    final_pages: Optional[int] = None    # from the completion report
    pages: Dict[int, StoredPage] = field(default_factory=dict)
    direct_pages: Dict[int, StoredPage] = field(default_factory=dict)
    key: Optional[str] = None
    key_password: Optional[str] = None
    history: List[int] = field(default_factory=list)
    notes: List[str] = field(default_factory=list)

    @property
    def encrypt_method(self) -> str:
        return self.fields.get("encrypt-method", "")

    def listed_page_numbers(self):
        """Pages the receiving side can download: those fully stored here, in order."""
        return [n for n in sorted(self.pages) if self.pages[n].complete]

    def to_json(self, with_bytes=False):
        return {
            "id": self.id, "sender": self.sender, "printer": self.printer,
            "status": self.status, "status_code": STATUS_CODES[self.status],
            "fields": dict(self.fields), "started": self.started,
            "page_count": self.page_count, "final_pages": self.final_pages,
            "pages": {str(n): p.to_json(with_bytes) for n, p in sorted(self.pages.items())},
            "direct_pages": {str(n): p.to_json(with_bytes)
                             for n, p in sorted(self.direct_pages.items())},
            "key": self.key, "key_password": self.key_password,
            "history": list(self.history), "notes": list(self.notes),
        }

    def append_element(self, parent, sender_account, page_url):
        """The job element as the service lists it to the printer's owner."""
        elem = sub(parent, "job", id=self.id, started=self.started)
        if sender_account is not None:
            xmlutil.person_element(elem, "printing-person", sender_account)
        values = dict(self.fields)
        values["printer"] = self.printer
        values.setdefault("copies", "1")
        for name in JOB_FIELDS:
            if name in values:
                sub(elem, name, values[name])
        for number in self.listed_page_numbers():
            page = sub(elem, "page", page_number=number)
            sub(page, "url", page_url(self.id, number))
        return elem
