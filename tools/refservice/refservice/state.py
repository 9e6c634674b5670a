"""The service's memory: accounts, sessions, printers, jobs and the change log behind the
change check. Every access goes through `State.lock`."""

import base64
import copy
import gzip
import secrets
import threading
from typing import Dict, Optional

from . import model
from .model import Account, Job, Printer, Rule, StoredPage
from .xmlutil import PERSON_PROPERTIES, stamp

MAX_EVENTS_PER_ACCOUNT = 10000
FIRST_JOB_ID = 1001
PERMISSION_CODES = ("Allow", "Block", "Ask")


class ServiceError(Exception):
    """A request the service understood but refuses; answered with success "false"."""


class Malformed(Exception):
    """A request that breaks the wire format; answered like a refusal and recorded."""


class SeedError(ValueError):
    pass


class StoreFull(Exception):
    pass


class State:
    def __init__(self, options, seed: Optional[dict] = None):
        self.lock = threading.RLock()
        self.options = options
        self.initial_seed = seed or {}
        self.reset()

    # ----------------------------------------------------------------- set-up

    def reset(self, seed: Optional[dict] = None):
        """Back to an empty service plus the start-up seed (or the one given). A seed that
        cannot be applied leaves the state as it was."""
        with self.lock:
            previous = copy.deepcopy(self._snapshot_fields()) if hasattr(self, "accounts") else None
            self.accounts: Dict[int, Account] = {}
            self.printers: Dict[str, Printer] = {}
            self.jobs: Dict[int, Job] = {}
            self.tokens: Dict[str, int] = {}
            self.revision = 0
            self.next_account_id = 1
            self.next_job_id = FIRST_JOB_ID
            self.stored_bytes = 0
            self.reminders = []
            self.server = {
                "groups": [], "properties": {"allow-registration": "true"},
                "server_message": "", "update_url": "{base}/update.xml", "update": None,
                "direct_address": self.options.direct_address,
            }
            try:
                return self.apply_seed(self.initial_seed if seed is None else seed)
            except SeedError:
                if previous is not None:
                    for name, value in previous.items():
                        setattr(self, name, value)
                raise

    def apply_seed(self, seed: dict) -> dict:
        """Adds or updates records; accounts and printers are matched by login and public
        id, so a seed can also change what an earlier one created."""
        if not isinstance(seed, dict):
            raise SeedError("the seed is a JSON object")
        unknown = set(seed) - {"server", "accounts", "printers", "jobs"}
        if unknown:
            raise SeedError(f"unknown seed sections: {sorted(unknown)}")
        with self.lock:
            snapshot = copy.deepcopy(self._snapshot_fields())
            try:
                self._seed_server(seed.get("server") or {})
                accounts = [self._seed_account(a) for a in _list(seed, "accounts")]
                printers = [self._seed_printer(p) for p in _list(seed, "printers")]
                for entry, account in zip(_list(seed, "accounts"), accounts):
                    self._seed_account_links(entry, account)
                jobs = [self._seed_job(j) for j in _list(seed, "jobs")]
            except (SeedError, StoreFull, TypeError, ValueError, AttributeError) as exc:
                # A bad seed changes nothing.
                for name, value in snapshot.items():
                    setattr(self, name, value)
                if isinstance(exc, SeedError):
                    raise
                raise SeedError(f"malformed seed: {exc or type(exc).__name__}") from None
            return {
                "accounts": {a.login: a.id for a in accounts},
                "tokens": {a.login: list(a.tokens) for a in accounts},
                "printers": [p.public_id for p in printers],
                "jobs": [j.id for j in jobs],
                "revision": self.revision,
            }

    def _snapshot_fields(self):
        names = ("accounts", "printers", "jobs", "tokens", "revision", "next_account_id",
                 "next_job_id", "stored_bytes", "server", "reminders")
        return {name: getattr(self, name) for name in names}

    def _seed_server(self, entry):
        if not isinstance(entry, dict):
            raise SeedError("server is an object")
        for key, value in entry.items():
            if key == "groups":
                self.server["groups"] = [{"id": _int(g.get("id"), "group id"),
                                          "name": str(g.get("name", ""))} for g in value]
            elif key == "properties":
                self.server["properties"] = {str(k): str(v) for k, v in value.items()}
            elif key in ("server_message", "update_url", "direct_address"):
                self.server[key] = None if value is None else str(value)
            elif key == "update":
                self.server["update"] = None if value is None else dict(value)
            else:
                raise SeedError(f"unknown server field {key!r}")

    def _seed_account(self, entry) -> Account:
        if not isinstance(entry, dict) or not entry.get("login"):
            raise SeedError("every account needs a login")
        account = self.account_by_login(entry["login"])
        if account is None:
            account_id = entry.get("id", self.next_account_id)
            account_id = _int(account_id, "account id")
            if account_id in self.accounts:
                raise SeedError(f"account id {account_id} is taken")
            props = {p: "" for p in PERSON_PROPERTIES}
            props["login"] = str(entry["login"])
            props["mail"] = f"{entry['login']}@example.test"
            account = Account(id=account_id, password="", props=props)
            self.accounts[account_id] = account
            self.next_account_id = max(self.next_account_id, account_id + 1)
        for prop in PERSON_PROPERTIES:
            if prop in entry:
                account.props[prop] = str(entry[prop])
        for prop, value in (entry.get("props") or {}).items():
            if prop not in PERSON_PROPERTIES:
                raise SeedError(f"unknown person property {prop!r}")
            account.props[prop] = str(value)
        if "password" in entry:
            account.password = str(entry["password"])
        if "premium" in entry:
            account.premium = bool(entry["premium"])
        pages_before = account.free_pages
        for field in ("free_pages", "group"):
            if field in entry:
                setattr(account, field, None if entry[field] is None else _int(entry[field], field))
        if account.free_pages != pages_before and account.free_pages is not None:
            # A new figure (a purchase, say) reaches the account's change check.
            self.emit(account, "free-pages")
        for field in ("buy_url", "server_message", "direct_address"):
            if field in entry:
                setattr(account, field, None if entry[field] is None else str(entry[field]))
        tokens = entry.get("tokens", [])
        if entry.get("token"):
            tokens = [entry["token"]] + list(tokens)
        for token in tokens:
            self._bind_token(str(token), account)
        return account

    def _seed_account_links(self, entry, account: Account):
        if "favorites" in entry:
            wanted = [str(p) for p in entry["favorites"]]
            for public_id in wanted:
                self.require_printer(public_id)
            # Other sessions of the account learn of the new list through the change check.
            for public_id in account.favorites:
                if public_id not in wanted:
                    self.emit(account, "dislike", public_id)
            for public_id in wanted:
                if public_id not in account.favorites:
                    self.emit(account, "favorites", public_id)
            account.favorites = wanted
        if "default_printer" in entry:
            account.default_printer = str(entry["default_printer"] or "")
        if "permissions" in entry:
            account.rules = []
            for rule in entry["permissions"]:
                client = rule.get("client")
                client_id = None if client in (None, "", 0) else self._account_ref(client).id
                code = rule.get("permission", "Ask")
                if code not in PERMISSION_CODES:
                    raise SeedError(f"unknown permission {code!r}")
                account.rules.append(Rule(client_id, code))

    def _seed_printer(self, entry) -> Printer:
        if not isinstance(entry, dict) or not entry.get("public_id"):
            raise SeedError("every printer needs a public_id")
        owner = self._account_ref(entry.get("owner"))
        printer = self.printers.get(entry["public_id"])
        if printer is None:
            printer = Printer(public_id=str(entry["public_id"]), owner=owner.id)
            self.printers[printer.public_id] = printer
        printer.owner = owner.id
        for key in ("title", "location", "default_paper"):
            if key in entry:
                setattr(printer, key, str(entry[key]))
        for key in ("hidden", "shared", "online"):
            if key in entry:
                setattr(printer, key, bool(entry[key]))
        if "details" in entry:
            printer.has_details = bool(entry["details"])
        if "landscape" in entry:
            printer.landscape = _int(entry["landscape"], "landscape")
        if "capabilities" in entry:
            printer.capabilities = [(str(k), _attr_text(v)) for k, v in entry["capabilities"].items()]
        if "papers" in entry:
            printer.papers = [{str(k): _attr_text(v) for k, v in p.items()} for p in entry["papers"]]
        if "bins" in entry:
            printer.bins = [{str(k): _attr_text(v) for k, v in b.items()} for b in entry["bins"]]
        if not printer.default_paper and printer.papers:
            printer.default_paper = printer.papers[0].get("format", "")
        printer.changed = stamp()
        self.printer_changed(printer)
        return printer

    def _seed_job(self, entry) -> Job:
        if not isinstance(entry, dict):
            raise SeedError("a job is an object")
        sender = self._account_ref(entry.get("sender"))
        printer = self.require_printer(str(entry.get("printer", "")))
        job_id = _int(entry.get("id", self.next_job_id), "job id")
        if job_id in self.jobs:
            raise SeedError(f"job id {job_id} is taken")
        status = entry.get("status", model.READY)
        if status not in model.STATUS_CODES:
            raise SeedError(f"unknown job status {status!r}")
        fields = {"premium": "1" if sender.premium else "0", "paper-format": "A4",
                  "paper-orientation": "1", "copies": "1", "duplex": "0", "pack": "1",
                  "document": "Untitled document", "transport": "bmp"}
        for name in model.JOB_FIELDS:
            if name in entry and name != "printer":
                fields[name] = _attr_text(entry[name])
        job = Job(id=job_id, sender=sender.id, printer=printer.public_id, fields=fields,
                  status=status, started=str(entry.get("started") or stamp()))
        for number, page in enumerate(entry.get("pages", []), start=1):
            data = _page_bytes(page)
            self.reserve(len(data))
            job.pages[number] = StoredPage(total=len(data), data=bytearray(data), ranges=1)
        job.page_count = job.final_pages = len(job.pages)
        if entry.get("key") is not None:
            job.key = str(entry["key"])
            job.key_password = str(entry.get("key_password", ""))
        self.jobs[job.id] = job
        self.next_job_id = max(self.next_job_id, job.id + 1)
        if status == model.READY:
            self.job_listed(job)
        return job

    # ----------------------------------------------------------------- look-ups

    def account_by_login(self, login) -> Optional[Account]:
        for account in self.accounts.values():
            if account.login == login:
                return account
        return None

    def account_by_mail(self, mail) -> Optional[Account]:
        lowered = mail.strip().lower()
        for account in self.accounts.values():
            if account.mail.lower() == lowered:
                return account
        return None

    def _account_ref(self, ref) -> Account:
        """A seed names an account by login or by id."""
        account = None
        if isinstance(ref, int) and not isinstance(ref, bool):
            account = self.accounts.get(ref)
        elif isinstance(ref, str):
            account = self.account_by_login(ref)
        if account is None:
            raise SeedError(f"unknown account {ref!r}")
        return account

    def require_printer(self, public_id) -> Printer:
        printer = self.printers.get(public_id)
        if printer is None:
            raise SeedError(f"unknown printer {public_id!r}")
        return printer

    def account_for_token(self, token: str) -> Optional[Account]:
        account_id = self.tokens.get(token or "")
        return self.accounts.get(account_id) if account_id is not None else None

    # ----------------------------------------------------------------- sessions

    def _bind_token(self, token: str, account: Account):
        previous = self.tokens.get(token)
        if previous is not None and previous != account.id:
            raise SeedError("a token can belong to one account only")
        self.tokens[token] = account.id
        if token not in account.tokens:
            account.tokens.append(token)

    def issue_token(self, account: Account) -> str:
        token = secrets.token_hex(16)
        self._bind_token(token, account)
        return token

    def revoke_token(self, token: str) -> bool:
        account = self.account_for_token(token)
        if account is None:
            return False
        del self.tokens[token]
        account.tokens.remove(token)
        return True

    def revoke_account_tokens(self, account: Account):
        for token in list(account.tokens):
            self.revoke_token(token)

    # ----------------------------------------------------------------- change log

    @property
    def marker(self) -> str:
        """The 12-character change marker that the change check hands out."""
        return f"{self.revision % 10**12:012d}"

    def emit(self, account: Account, kind: str, key=None):
        self.revision += 1
        account.events.append((self.revision, kind, key))
        if len(account.events) > MAX_EVENTS_PER_ACCOUNT:
            del account.events[: len(account.events) - MAX_EVENTS_PER_ACCOUNT]

    def printer_changed(self, printer: Printer):
        """Everyone who lists the printer hears of it: as a change while they may still
        see it, as a removal once its owner stopped sharing it."""
        for account in self.accounts.values():
            if printer.public_id in account.favorites:
                kind = "favorites" if printer.visible_to(account.id) else "dislike"
                self.emit(account, kind, printer.public_id)

    def job_listed(self, job: Job):
        printer = self.printers.get(job.printer)
        owner = self.accounts.get(printer.owner) if printer else None
        if owner is not None:
            self.emit(owner, "jobs", job.id)

    def changes_since(self, account: Account, since: int) -> dict:
        """Keys of each kind of change after the marker, first appearance first."""
        if since > self.revision:
            since = 0  # a marker from before a reset: report everything still known
        found = {"favorites": [], "dislike": [], "jobs": [], "free-pages": []}
        for revision, kind, key in account.events:
            if revision > since and key not in found[kind]:
                found[kind].append(key)
        return found

    def listed_jobs(self, account: Account, printer_ids=None):
        """Jobs waiting on the account's printers, in the order they were made."""
        out = []
        for job in self.jobs.values():
            printer = self.printers.get(job.printer)
            if job.status != model.READY or printer is None or printer.owner != account.id:
                continue
            if printer_ids is None or job.printer in printer_ids:
                out.append(job)
        return out

    def favorite_printers(self, account: Account):
        return [self.printers[p] for p in account.favorites
                if p in self.printers and self.printers[p].visible_to(account.id)]

    # ----------------------------------------------------------------- page storage

    def reserve(self, size: int):
        if self.stored_bytes + size > self.options.max_store:
            raise StoreFull()
        self.stored_bytes += size

    def new_key(self) -> str:
        if self.options.fixed_key:
            return self.options.fixed_key
        return base64.b64encode(secrets.token_bytes(self.options.key_bytes)).decode("ascii")

    def allocate_job_id(self) -> int:
        job_id = self.next_job_id
        self.next_job_id += 1
        return job_id

    # ----------------------------------------------------------------- inspection

    def to_json(self, with_bytes=False) -> dict:
        with self.lock:
            return {
                "revision": self.revision, "marker": self.marker,
                "server": {k: v for k, v in self.server.items()},
                "accounts": [a.to_json() for a in self.accounts.values()],
                "printers": [p.to_json() for p in self.printers.values()],
                "jobs": [j.to_json(with_bytes) for j in self.jobs.values()],
                "reminders": list(self.reminders), "stored_bytes": self.stored_bytes,
            }


def _list(seed, name):
    value = seed.get(name) or []
    if not isinstance(value, list):
        raise SeedError(f"{name} is a list")
    return value


def _int(value, name):
    if isinstance(value, bool) or not isinstance(value, int) or not -2**31 <= value < 2**31:
        raise SeedError(f"{name} must be a 32-bit integer")
    return value


def _attr_text(value) -> str:
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)


def _page_bytes(page) -> bytes:
    """A seeded page: Base64 text, or {"base64": ...}, or {"text": ..., "gzip": bool}."""
    try:
        if isinstance(page, str):
            return base64.b64decode(page, validate=True)
        if isinstance(page, dict) and "base64" in page:
            return base64.b64decode(page["base64"], validate=True)
        if isinstance(page, dict) and "text" in page:
            data = str(page["text"]).encode("utf-8")
            return gzip.compress(data) if page.get("gzip") else data
    except (ValueError, TypeError):
        raise SeedError("a page's base64 text is not valid") from None
    raise SeedError("a page is base64 text, {\"base64\": ...} or {\"text\": ...}")
