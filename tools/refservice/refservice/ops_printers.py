"""Printer operations: sharing, favourites and the printer directory search."""

import re

from .model import Printer
from .ops_account import append_favorites, append_jobs, echo_words
from .replies import success
from .state import Malformed, ServiceError
from .xmlutil import child, child_text, read_bool, read_int, stamp

ACTIONS = ("add", "share", "like", "unshare", "dislike")
_PUBLIC_ID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\Z")
_CAPABILITY_ORDER = ["pack", "enc-type", "transport", "collate", "color", "duplex", "copies"]
MAX_PAGE_SIZE = 1000


def change_printers(call):
    state, data = call.state, call.data
    call.expect(data, "ChangePrinters", ["echo", "action"], ["token", "printer"])
    account = call.account()
    actions = [a.strip() for a in data.get("action", "").split(",") if a.strip()]
    if not actions or any(a not in ACTIONS for a in actions):
        raise Malformed(f"Unknown printer action {data.get('action', '')!r}")
    printer_elem = child(data, "printer")
    public_id = child_text(printer_elem, "public-id").strip()
    if not public_id:
        raise Malformed("ChangePrinters needs a printer with a public-id")
    if "add" not in actions:
        call.expect(printer_elem, "ChangePrinters printer", [], ["public-id"])

    # Applied in a fixed order so "add,share,like" works whatever order it is written in.
    for action in ACTIONS:
        if action in actions:
            _ACTION_HANDLERS[action](call, account, public_id, printer_elem)

    response = success()
    words = echo_words(call)
    printer = state.printers.get(public_id)
    if "full" in words and printer is not None and printer.visible_to(account.id):
        if account.default_printer:
            response.set("default", account.default_printer)
        printer.append_element(response, state.accounts.get(printer.owner))
    if "jobs" in words:
        append_jobs(call, response, state.listed_jobs(account, {public_id}))
    if "favorites" in words:
        append_favorites(call, response, account)
    return response


def _owned(call, account, public_id):
    printer = call.state.printers.get(public_id)
    if printer is None:
        raise ServiceError("Printer not found")
    if printer.owner != account.id:
        raise ServiceError("Access denied")
    return printer


def _add(call, account, public_id, elem):
    state = call.state
    printer = state.printers.get(public_id)
    if printer is not None and printer.owner != account.id:
        raise ServiceError("Access denied")
    if not _PUBLIC_ID.match(public_id):
        call.record.deviate(f"public-id {public_id!r} is not a lower-case UUID")
    if printer is None:
        printer = Printer(public_id=public_id, owner=account.id, shared=False)
        state.printers[public_id] = printer
    read_shared_printer(call, printer, elem)
    printer.online = True
    printer.changed = stamp()
    state.printer_changed(printer)


def _share(call, account, public_id, elem):
    printer = _owned(call, account, public_id)
    printer.shared = True
    printer.online = True
    printer.changed = stamp()
    call.state.printer_changed(printer)


def _like(call, account, public_id, elem):
    printer = call.state.printers.get(public_id)
    if printer is None or not printer.visible_to(account.id):
        raise ServiceError("Printer not found")
    if public_id not in account.favorites:
        account.favorites.append(public_id)
    call.state.emit(account, "favorites", public_id)


def _unshare(call, account, public_id, elem):
    printer = _owned(call, account, public_id)
    printer.shared = False
    printer.changed = stamp()
    call.state.printer_changed(printer)


def _dislike(call, account, public_id, elem):
    if public_id in account.favorites:
        account.favorites.remove(public_id)
        if account.default_printer == public_id:
            account.default_printer = ""
    call.state.emit(account, "dislike", public_id)


_ACTION_HANDLERS = {"add": _add, "share": _share, "like": _like, "unshare": _unshare,
                    "dislike": _dislike}


def read_shared_printer(call, printer, elem):
    """Takes over the description the sharing computer sends, keeping its values as text so
    that the printer goes out to others exactly as it came in."""
    record = call.record
    attrs = list(elem.attrib)
    if attrs != ["hidden"]:
        record.deviate(f"shared printer: attributes {attrs}, expected ['hidden']")
    printer.hidden = read_bool(elem.get("hidden", "false"))
    order = [c.tag for c in elem]
    if order != ["public-id", "title", "location", "details"]:
        record.deviate(f"shared printer: children {order}")
    if child(elem, "title") is not None:
        printer.title = child_text(elem, "title")
    if child(elem, "location") is not None:
        printer.location = child_text(elem, "location")
    details = child(elem, "details")
    printer.has_details = details is not None
    if details is None:
        return
    caps = child(details, "capabilities")
    if caps is not None:
        if list(caps.attrib) != _CAPABILITY_ORDER:
            record.deviate(f"capabilities: attributes {list(caps.attrib)}")
        printer.capabilities = list(caps.attrib.items())
    landscape = read_int(child_text(details, "landscape"))
    printer.landscape = landscape or 0
    formats = child(details, "paper-formats")
    printer.papers = []
    printer.default_paper = ""
    if formats is not None:
        printer.default_paper = formats.get("default", "")
        for paper in formats:
            if paper.tag in ("paper", "paper-format"):
                printer.papers.append(dict(paper.attrib))
    bins = child(details, "bins")
    printer.bins = [dict(b.attrib) for b in bins if b.tag == "bin"] if bins is not None else []


def search_printers(call):
    state, data = call.state, call.data
    online_only = "online" in data.attrib
    call.expect(data, "SearchPrinters", ["page-size", "online"] if online_only else ["page-size"],
                ["token", "keyword", "fields"])
    if online_only and data.get("online") != "true":
        call.record.deviate(f"online={data.get('online')!r}; only \"true\" is sent")
    call.account()
    page_size = read_int(data.get("page-size", "100"))
    if page_size is None or not 1 <= page_size <= MAX_PAGE_SIZE:
        raise Malformed("page-size must be a number from 1 to 1000")
    fields = None
    if child(data, "fields") is not None:
        fields = [f.strip() for f in child_text(data, "fields").split(",") if f.strip()]
    keyword = child_text(data, "keyword").strip().lower()
    response = success()
    found = 0
    for printer in state.printers.values():
        if found >= page_size:
            break
        if not printer.shared or printer.hidden or (online_only and not printer.online):
            continue
        owner = state.accounts.get(printer.owner)
        if keyword and not _printer_matches(printer, owner, keyword):
            continue
        printer.append_element(response, owner, fields)
        found += 1
    return response


def _printer_matches(printer, owner, keyword):
    texts = [printer.title, printer.location]
    if owner is not None:
        texts += [owner.login, owner.props.get("nick", ""), owner.props.get("country", "")]
    return any(keyword in t.lower() for t in texts)
