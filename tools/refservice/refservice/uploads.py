"""Page transfer: byte-range uploads to the service's upload address, the same uploads
taken directly as a nearby console would ("/hello", "/post"), and page downloads."""

import re
from typing import NamedTuple

from . import model
from .model import StoredPage
from .state import StoreFull

UPLOAD_PATH = "/tdUpload.aspx"
DOWNLOAD_PATH = "/getPage.aspx"
DIRECT_HELLO_PATH = "/hello"
DIRECT_POST_PATH = "/post"
SERVER_CHUNK = 1048576
DIRECT_CHUNK = 131071

_RANGE = re.compile(r"bytes (\d{1,10})-(\d{1,10})/(\d{1,10})\Z")
_PAGE = re.compile(r"(\d{1,6})/(\d{1,6})\Z")
_NUMBER = re.compile(r"-?\d{1,10}\Z")


class Answer(NamedTuple):
    status: int
    body: bytes = b""
    content_type: str = "text/plain; charset=utf-8"


def _refuse(record, status, reason, malformed=True):
    if malformed:
        record.mark_malformed(reason)
    else:
        record.problems.append(reason)
    return Answer(status, reason.encode("utf-8"))


def _number(text):
    return int(text) if text is not None and _NUMBER.match(text) else None


class RangeHeaders(NamedTuple):
    job_id: int
    page: int
    page_count: int
    first: int
    last: int
    total: int


def _read_range_headers(record, body, max_page_bytes):
    """Parses "TD-Job", "TD-Page" and "Content-Range"; returns headers or a refusal."""
    job_id = _number(record.header("TD-Job"))
    if job_id is None or job_id <= 0:
        return _refuse(record, 400, 'missing or invalid "TD-Job"')
    page = _PAGE.match(record.header("TD-Page") or "")
    if page is None or not 1 <= int(page.group(1)) <= int(page.group(2)):
        return _refuse(record, 400, 'missing or invalid "TD-Page"')
    rng = _RANGE.match(record.header("Content-Range") or "")
    if rng is None:
        return _refuse(record, 400, 'missing or invalid "Content-Range"')
    first, last, total = (int(g) for g in rng.groups())
    if not first <= last < total or last - first + 1 != len(body):
        return _refuse(record, 400, "Content-Range does not match the body")
    if total > max_page_bytes:
        return _refuse(record, 413, "page larger than this service stores")
    return RangeHeaders(job_id, int(page.group(1)), int(page.group(2)), first, last, total)


def receive_range(state, record, query, body, direct):
    """One byte range of a page. Ranges of a page must arrive in order, each starting where
    the stored part ends, so the page is reassembled exactly."""
    if record.header("Content-Type") != "binary":
        record.deviate(f"Content-Type {record.header('Content-Type')!r}, expected 'binary'")
    token = record.header("TD-Token")
    if direct and token is not None:
        record.deviate('"TD-Token" sent on a direct upload')
    if not direct and not token:
        return _refuse(record, 401, 'the upload carries no "TD-Token"')
    parsed = _read_range_headers(record, body, state.options.max_page_bytes)
    if isinstance(parsed, Answer):
        return parsed
    if not direct and query.get("job") != [str(parsed.job_id)]:
        return _refuse(record, 400, "the upload address was not used as the service gave it")
    with state.lock:
        job = state.jobs.get(parsed.job_id)
        if job is None:
            return _refuse(record, 404, "unknown job", malformed=False)
        if not direct:
            account = state.account_for_token(token)
            if account is None or account.id != job.sender:
                return _refuse(record, 403, "the token may not post to this job", malformed=False)
        if job.status != model.POSTING:
            return _refuse(record, 409, "the job is not taking pages", malformed=False)
        store = job.direct_pages if direct else job.pages
        page = store.get(parsed.page)
        stored = len(page.data) if page is not None else 0
        if page is not None and page.total != parsed.total:
            return _refuse(record, 400, "the page's total size changed between ranges")
        if parsed.first != stored:
            return _refuse(record, 409, f"range starts at {parsed.first}, stored part ends at {stored}")
        try:
            state.reserve(len(body))
        except StoreFull:
            return _refuse(record, 507, "the service's page store is full", malformed=False)
        if page is None:
            page = store[parsed.page] = StoredPage(total=parsed.total)
        page.data += body
        page.ranges += 1
        _note_page_count(record, job, parsed.page_count)
        chunk = DIRECT_CHUNK if direct else SERVER_CHUNK
        if parsed.last + 1 < parsed.total and len(body) != chunk:
            record.deviate(f"a range of {len(body)} bytes before the last one; chunks are {chunk}")
    return Answer(200, b"OK")


def _note_page_count(record, job, count):
    if job.page_count is None:
        job.page_count = count
    elif job.page_count != count:
        record.deviate(f"TD-Page count changed from {job.page_count} to {count}")


def direct_hello(record):
    """The probe a sender makes before posting pages directly."""
    if _number(record.header("TD-Job")) is None:
        record.deviate('the probe carries no numeric "TD-Job"')
    if not record.header("TD-Server"):
        record.deviate('the probe carries no "TD-Server"')
    return Answer(200, b"")


def send_page(state, record, query):
    token = record.header("TD-Token")
    if not token:
        return _refuse(record, 401, 'the download carries no "TD-Token"')
    job_id = _number((query.get("job") or [None])[0])
    number = _number((query.get("page") or [None])[0])
    if job_id is None or number is None:
        return _refuse(record, 400, "the page address lacks its job or page")
    with state.lock:
        account = state.account_for_token(token)
        job = state.jobs.get(job_id)
        if account is None:
            return _refuse(record, 403, "invalid token", malformed=False)
        if job is None:
            return _refuse(record, 404, "unknown job", malformed=False)
        printer = state.printers.get(job.printer)
        if account.id != job.sender and (printer is None or printer.owner != account.id):
            return _refuse(record, 403, "the token may not read this job", malformed=False)
        if job.status != model.READY:
            return _refuse(record, 410, "the job is no longer waiting", malformed=False)
        page = job.pages.get(number)
        if page is None or not page.complete:
            return _refuse(record, 404, "unknown page", malformed=False)
        return Answer(200, bytes(page.data), "application/octet-stream")
