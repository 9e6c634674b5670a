"""Account operations: sign-in and sign-off, sign-up, profile, password, permissions,
user search and the server's configuration."""

import secrets

from .model import Rule
from .replies import success as _success
from .state import PERMISSION_CODES, Malformed, ServiceError
from .xmlutil import (PERSON_PROPERTIES, child, child_text, person_element, read_bool, read_int,
                      sub)

ECHO_WORDS = {"minimal", "favorites", "jobs", "none", "full"}


def echo_words(call):
    words = [w.strip() for w in call.data.get("echo", "").split(",") if w.strip()]
    unknown = [w for w in words if w not in ECHO_WORDS]
    if unknown:
        call.record.deviate(f"unknown echo words {unknown}")
    return set(words)


def login(call):
    state, data = call.state, call.data
    words = echo_words(call)
    if child(data, "login") is not None:
        call.expect(data, "Login", ["echo"], ["login", "password"])
        name, password = child_text(data, "login"), child_text(data, "password")
        account = state.account_by_login(name) or state.account_by_mail(name)
        if account is None or not password or account.password != password:
            raise ServiceError("Invalid login or password")
        token = state.issue_token(account)
    elif child(data, "token") is not None:
        expected = ["token", "lookup"] if child(data, "lookup") is not None else ["token"]
        call.expect(data, "Login", ["echo"], expected)
        account = call.account()
        token = child_text(data, "token")
    else:
        raise Malformed("Login needs a login and password, or a token")

    response = _success()
    response.set("timestamp", state.marker)
    sub(response, "token", token)
    person_element(response, "user", account)
    if "minimal" not in words:
        _append_session_details(call, response, account)
    if "favorites" in words:
        append_favorites(call, response, account)
    if "jobs" in words:
        append_jobs(call, response, state.listed_jobs(account))
    return response


def _append_session_details(call, response, account):
    state = call.state
    update_url = state.server.get("update_url")
    if update_url:
        sub(response, "update-url", update_url.replace("{base}", call.base_url))
    message = account.server_message if account.server_message is not None \
        else state.server.get("server_message")
    if message:
        sub(response, "server-message", message)
    if account.free_pages is not None:
        pages = sub(response, "free-pages", amount=account.free_pages)
        if account.buy_url:
            pages.set("buy-url", account.buy_url)
    for rule in _ordered_rules(account):
        elem = sub(response, "rule", permission=rule.permission)
        client = state.accounts.get(rule.client) if rule.client is not None else None
        if client is not None:
            person_element(elem, "client", client)
    lookup = child(call.data, "lookup")
    if lookup is not None:
        out = sub(response, "lookup")
        for printer_elem in lookup:
            if printer_elem.tag != "printer":
                call.record.deviate(f"lookup holds {printer_elem.tag}")
                continue
            public_id = child_text(printer_elem, "public-id")
            printer = state.printers.get(public_id)
            if printer is not None and printer.owner == account.id and printer.shared:
                sub(sub(out, "printer"), "public-id", public_id)


def _ordered_rules(account):
    """The rule for anyone first, then the rules for named users."""
    return [r for r in account.rules if r.client is None] + \
        [r for r in account.rules if r.client is not None]


def append_favorites(call, parent, account, printers=None, name="favorites"):
    elem = sub(parent, name)
    if account.default_printer:
        elem.set("default", account.default_printer)
    for printer in call.state.favorite_printers(account) if printers is None else printers:
        printer.append_element(elem, call.state.accounts.get(printer.owner))
    return elem


def append_jobs(call, parent, jobs):
    elem = sub(parent, "jobs")
    for job in jobs:
        job.append_element(elem, call.state.accounts.get(job.sender), call.page_url)
    return elem


def _set_online(state, account, online):
    for printer in state.printers.values():
        if printer.owner == account.id and printer.online != online:
            printer.online = online
            state.printer_changed(printer)


def logoff(call):
    call.expect(call.data, "Logoff", [], ["token"])
    account = call.account()
    call.state.revoke_token(child_text(call.data, "token"))
    if not account.tokens:
        _set_online(call.state, account, False)
    return _success()


def user_register(call):
    state, data = call.state, call.data
    group = child(data, "group")
    call.expect(data, "UserRegister", [], ["user", "group"] if group is not None else ["user"])
    user = child(data, "user")
    if user is None:
        raise Malformed("UserRegister needs a user element")
    call.expect(user, "UserRegister user", [], ["mail"])
    if not read_bool(state.server["properties"].get("allow-registration", "")):
        raise ServiceError("Registration is not allowed on this server")
    mail = child_text(user, "mail").strip()
    if "@" not in mail or mail.startswith("@") or mail.endswith("@"):
        raise ServiceError("Invalid e-mail address")
    if state.account_by_mail(mail) is not None:
        raise ServiceError("This e-mail address is already registered")
    group_id = 0
    if group is not None:
        group_id = read_int(child_text(data, "group"))
        if group_id is None or group_id <= 0:
            raise Malformed("group must be a positive number")
        if group_id not in [g["id"] for g in state.server["groups"]]:
            raise ServiceError("Unknown group")
    login_name = _free_login(state, mail.split("@", 1)[0])
    password = secrets.token_urlsafe(9)
    state.apply_seed({"accounts": [{"login": login_name, "mail": mail, "password": password,
                                    "group": group_id}]})
    account = state.account_by_login(login_name)
    state.reminders.append({"kind": "registration", "mail": mail, "password": password})
    response = _success()
    sub(response, "token", state.issue_token(account))
    person_element(response, "user", account)
    return response


def _free_login(state, base):
    base = base or "user"
    candidate, n = base, 1
    while state.account_by_login(candidate) is not None:
        n += 1
        candidate = f"{base}{n}"
    return candidate


def change_password(call):
    call.expect(call.data, "ChangePassword", [], ["token", "old-password", "new-password"])
    account = call.account()
    old, new = child_text(call.data, "old-password"), child_text(call.data, "new-password")
    if old != account.password:
        raise ServiceError("Incorrect password")
    if not new:
        raise ServiceError("The new password is empty")
    account.password = new
    # The session that changed the password continues under a new token; the old one ends.
    call.state.revoke_token(child_text(call.data, "token"))
    response = _success()
    sub(response, "token", call.state.issue_token(account))
    return response


def update_profile(call):
    state = call.state
    call.expect(call.data, "UpdateProfile", [], ["token", "user"])
    account = call.account()
    user = child(call.data, "user")
    if user is None:
        raise Malformed("UpdateProfile needs a user element")
    call.expect(user, "UpdateProfile user", [], PERSON_PROPERTIES)
    values = {p: child_text(user, p) for p in PERSON_PROPERTIES if child(user, p) is not None}
    login_name = values.get("login", account.login)
    if not login_name:
        raise ServiceError("The login name is empty")
    other = state.account_by_login(login_name)
    if other is not None and other is not account:
        raise ServiceError("This login name is taken")
    if "mail" in values:
        other = state.account_by_mail(values["mail"])
        if "@" not in values["mail"] or (other is not None and other is not account):
            raise ServiceError("Invalid or taken e-mail address")
    account.props.update(values)
    for printer in state.printers.values():
        if printer.owner == account.id:
            state.printer_changed(printer)
    return _success()


def password_reminder(call):
    call.expect(call.data, "PasswordReminder", [], ["mail"])
    mail = child_text(call.data, "mail")
    account = call.state.account_by_mail(mail)
    if account is None:
        raise ServiceError("No account uses this e-mail address")
    call.state.reminders.append({"kind": "reminder", "mail": account.mail,
                                 "password": account.password})
    return _success()


def set_permission(call):
    call.expect(call.data, "SetPermission", [], ["token", "rule"])
    account = call.account()
    rule = child(call.data, "rule")
    if rule is None:
        raise Malformed("SetPermission needs a rule element")
    code = rule.get("permission")
    client_text = rule.get("client")
    call.expect(rule, "SetPermission rule",
                ["permission", "client"] if client_text is not None else ["permission"], [])
    if code != "-1" and code not in PERMISSION_CODES:
        raise Malformed(f"Unknown permission {code!r}")
    client_id = None
    if client_text is not None:
        client_id = read_int(client_text)
        if client_id is None or client_id == 0:
            raise Malformed("client must be a non-zero user id")
        if client_id not in call.state.accounts:
            raise ServiceError("User not found")
    account.rules = [r for r in account.rules if r.client != client_id]
    if code != "-1":
        account.rules.append(Rule(client_id, code))
    return _success()


def search_users(call):
    call.expect(call.data, "SearchUsers", [], ["token", "keyword"])
    call.account()
    keyword = child_text(call.data, "keyword").strip().lower()
    response = _success()
    for account in call.state.accounts.values():
        texts = (account.login, account.props.get("nick", ""), account.mail,
                 account.props.get("name", ""))
        if not keyword or any(keyword in t.lower() for t in texts):
            person_element(response, "user", account)
    return response


def get_server_config(call):
    call.expect(call.data, "GetServerConfig", [], [])
    if (call.record.param or "").strip() not in ('<data xmlns=""/>', '<data xmlns="" />'):
        call.record.deviate('GetServerConfig: "data" is not in its empty form')
    response = _success()
    groups = call.state.server["groups"]
    if groups:
        elem = sub(response, "groups")
        for group in groups:
            sub(elem, "group", id=group["id"], name=group["name"])
    for name, value in call.state.server["properties"].items():
        sub(response, "property", value, name=name)
    return response
