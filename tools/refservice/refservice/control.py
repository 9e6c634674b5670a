"""Test-only endpoints under "/_ref/": inspection, seeding, reset, token revocation and
fault injection. They are neither journaled nor subject to injected faults."""

import json

from .faults import Fault, FaultSpecError
from .state import SeedError


def handle(handler, method, path, query, body):
    server = handler.server
    route = _ROUTES.get((method, path))
    if route is None:
        handler.send_json(404, {"error": f"no control endpoint {method} {path}"})
        return
    try:
        payload = json.loads(body.decode("utf-8")) if body.strip() else None
    except (UnicodeDecodeError, ValueError) as exc:
        handler.send_json(400, {"error": f"body is not JSON: {exc}"})
        return
    try:
        status, value = route(server, query, payload)
    except (SeedError, FaultSpecError) as exc:
        status, value = 400, {"error": str(exc)}
    if isinstance(value, (bytes, bytearray)):
        handler.send_bytes(None, status, bytes(value), "application/octet-stream")
    else:
        handler.send_json(status, value)


def _flag(query, name):
    return (query.get(name) or ["0"])[0] in ("1", "true", "yes")


def _int_arg(query, name, default=None):
    text = (query.get(name) or [None])[0]
    if text is None:
        return default
    try:
        return int(text)
    except ValueError:
        raise FaultSpecError(f"{name} must be a number") from None


def _state(server, query, payload):
    value = server.state.to_json(with_bytes=_flag(query, "pages"))
    value.update(server.journal.summary())
    value["malformed"] = server.journal.select(malformed=True)
    if (query.get("requests") or ["1"])[0] not in ("0", "false", "no"):
        value["requests"] = server.journal.select()
    value["faults"] = server.faults.pending()
    return 200, value


def _requests(server, query, payload):
    malformed = None
    if "malformed" in query:
        malformed = _flag(query, "malformed")
    selected = server.journal.select(
        since=_int_arg(query, "since", 0), kind=(query.get("kind") or [None])[0],
        operation=(query.get("operation") or [None])[0], path=(query.get("path") or [None])[0],
        malformed=malformed)
    return 200, {"requests": selected, **server.journal.summary()}


def _page(server, query, payload):
    job_id, number = _int_arg(query, "job"), _int_arg(query, "page")
    with server.state.lock:
        job = server.state.jobs.get(job_id)
        store = None if job is None else (job.direct_pages if _flag(query, "direct") else job.pages)
        page = None if store is None else store.get(number)
        if page is None:
            return 404, {"error": "no such page"}
        return 200, bytes(page.data)


def _seed(server, query, payload):
    if not isinstance(payload, dict):
        raise SeedError("POST a JSON object with accounts, printers, jobs or server")
    return 200, server.state.apply_seed(payload)


def _reset(server, query, payload):
    summary = server.state.reset(payload)
    server.faults.clear()
    server.journal.clear()
    return 200, summary


def _revoke(server, query, payload):
    if not isinstance(payload, dict):
        raise SeedError('POST {"token": ...} or {"login": ...}')
    state = server.state
    with state.lock:
        if "token" in payload:
            return 200, {"revoked": 1 if state.revoke_token(str(payload["token"])) else 0}
        account = state.account_by_login(str(payload.get("login", "")))
        if account is None:
            raise SeedError("unknown login")
        count = len(account.tokens)
        state.revoke_account_tokens(account)
        return 200, {"revoked": count}


def _add_fault(server, query, payload):
    entries = payload if isinstance(payload, list) else [payload]
    faults = [Fault.from_json(entry) for entry in entries]
    for fault in faults:
        server.faults.add(fault)
    return 200, {"pending": server.faults.pending()}


def _list_faults(server, query, payload):
    return 200, {"pending": server.faults.pending()}


def _clear_faults(server, query, payload):
    server.faults.clear()
    return 200, {"pending": []}


def _health(server, query, payload):
    return 200, {"ok": True, "port": server.port}


_ROUTES = {
    ("GET", "/_ref/state"): _state,
    ("GET", "/_ref/requests"): _requests,
    ("GET", "/_ref/page"): _page,
    ("GET", "/_ref/health"): _health,
    ("POST", "/_ref/seed"): _seed,
    ("POST", "/_ref/reset"): _reset,
    ("POST", "/_ref/revoke"): _revoke,
    ("POST", "/_ref/fault"): _add_fault,
    ("GET", "/_ref/fault"): _list_faults,
    ("DELETE", "/_ref/fault"): _clear_faults,
}
