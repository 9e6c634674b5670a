"""The change check ("/fastCheck3.aspx?d=") and the update description."""

import re
import xml.etree.ElementTree as ET

from .xmlutil import stamp, sub, to_text

FAST_CHECK_PATH = "/fastCheck3.aspx"
UPDATE_PATH = "/update.xml"
PACKAGE_PREFIX = "/downloads/"
MAX_PACKAGE_BYTES = 64 * 1024 * 1024
_MARKER = re.compile(r"\d{12}\Z")


def fast_check(call, marker_text, token):
    """Returns (content type, body). Nothing new: the bare marker. Otherwise an XML
    document whose root carries the new marker and holds only what changed."""
    state, record = call.state, call.record
    if marker_text is None:
        record.mark_malformed('the change check has no "d" parameter')
        marker_text = ""
    if marker_text and not _MARKER.match(marker_text):
        record.deviate(f"marker {marker_text!r} is not one this service handed out")
    since = int(marker_text) if _MARKER.match(marker_text) else 0
    with state.lock:
        if not token:
            record.mark_malformed('the change check carries no "TD-Token" header')
        account = state.account_for_token(token) if token else None
        if account is None:
            root = ET.Element("relogin")
            root.set("timestamp", state.marker)
            return "text/xml; charset=utf-8", _document(root)
        found = state.changes_since(account, since)
        root = ET.Element("response")
        root.set("timestamp", state.marker)
        if found["free-pages"] and account.free_pages is not None:
            sub(root, "free-pages", amount=account.free_pages)
        _append_printer_changes(state, account, found, root)
        jobs = [state.jobs[j] for j in found["jobs"]
                if j in state.jobs and state.jobs[j] in state.listed_jobs(account)]
        if jobs:
            elem = sub(root, "jobs")
            for job in jobs:
                job.append_element(elem, state.accounts.get(job.sender), call.page_url)
        if len(root) == 0:
            return "text/plain; charset=utf-8", state.marker.encode("ascii")
        return "text/xml; charset=utf-8", _document(root)


def _append_printer_changes(state, account, found, root):
    listed = {p.public_id for p in state.favorite_printers(account)}
    keys = found["favorites"] + [k for k in found["dislike"] if k not in found["favorites"]]
    changed = [state.printers[k] for k in keys if k in listed]
    removed = [k for k in keys if k not in listed]
    if changed:
        elem = sub(root, "favorites")
        if account.default_printer:
            elem.set("default", account.default_printer)
        for printer in changed:
            printer.append_element(elem, state.accounts.get(printer.owner))
    if removed:
        elem = sub(root, "dislike")
        for public_id in removed:
            sub(sub(elem, "printer"), "public-id", public_id)


def update_document(state, base_url):
    """The update description: an element named after the platform ("linux" unless the offer
    names another) when a build is on offer."""
    with state.lock:
        offer = state.server.get("update")
        root = ET.Element("updates")
        root.set("generated", stamp())
        if offer:
            href = str(offer.get("href") or f"{base_url}{PACKAGE_PREFIX}velmora-{offer.get('version', 0)}.pkg")
            platform = str(offer.get("platform") or "linux")
            sub(root, platform, version=int(offer.get("version", 0)), size=offer.get("size", 0),
                href=href.replace("{base}", base_url))
        return _document(root)


def package_bytes(state, name):
    """A stand-in installer package of the offered size, so downloads can be exercised."""
    with state.lock:
        offer = state.server.get("update") or {}
        size = int(offer.get("package_bytes", 1024))
    if not re.fullmatch(r"[A-Za-z0-9._-]{1,128}", name) or not 0 <= size <= MAX_PACKAGE_BYTES:
        return None
    return bytes(i % 251 for i in range(size))


def _document(root):
    return ('<?xml version="1.0" encoding="utf-8"?>' + to_text(root)).encode("utf-8")
