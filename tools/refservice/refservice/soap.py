"""The SOAP endpoint: reading the request envelope exactly as the programs build it, running
the operation and wrapping its "response" element in a reply envelope."""

import re
import xml.etree.ElementTree as ET
from dataclasses import dataclass
from xml.sax.saxutils import quoteattr

from . import ops_account, ops_jobs, ops_printers, xmlutil
from .replies import failure
from .state import Malformed, ServiceError

ENVELOPE_NS = "https://schemas.xmlsoap.org/soap/envelope/"
REPLY_ENVELOPE_NS = "http://schemas.xmlsoap.org/soap/envelope/"
DEFAULT_REPLY_NS = "urn:velmora:refservice"
ENDPOINT = "/tdService.asmx"

# The request body byte for byte as the programs write it; anything else is served but
# noted as a deviation so tests can assert the client's exact form.
_LAYOUT = re.compile(
    r'<\?xml version="1\.0" encoding="utf-8"\?>'
    r'<soap:Envelope xmlns:soap="https://schemas\.xmlsoap\.org/soap/envelope/">'
    r'<soap:Body>\r\n<(?P<op>[A-Za-z0-9_]+) xmlns="(?P<ns>[^"<>]*)"><Param>(?P<param>.*)</Param>'
    r'</(?P=op)>\r\n</soap:Body></soap:Envelope>\Z', re.S)
_OPERATION_NAME = re.compile(r"[A-Za-z][A-Za-z0-9_]{0,63}\Z")

OPERATIONS = {
    "Login": ops_account.login,
    "Logoff": ops_account.logoff,
    "UserRegister": ops_account.user_register,
    "ChangePassword": ops_account.change_password,
    "UpdateProfile": ops_account.update_profile,
    "PasswordReminder": ops_account.password_reminder,
    "SetPermission": ops_account.set_permission,
    "SearchUsers": ops_account.search_users,
    "GetServerConfig": ops_account.get_server_config,
    "SearchPrinters": ops_printers.search_printers,
    "ChangePrinters": ops_printers.change_printers,
    "PrePostJob2": ops_jobs.pre_post_job,
    "MakeKey": ops_jobs.make_key,
    "GetKey": ops_jobs.get_key,
    "UpdateJob": ops_jobs.update_job,
}


@dataclass
class SoapRequest:
    operation: str
    namespace: str
    data: ET.Element


@dataclass
class Call:
    """What an operation sees: the state (locked by the caller), the request's "data"
    element, its journal record and the base URL that addresses handed out start with."""
    state: object
    record: object
    data: ET.Element
    base_url: str
    host_port: str

    def page_url(self, job_id, number):
        return f"{self.base_url}/getPage.aspx?job={job_id}&page={number}"

    def post_address(self, job_id):
        return f"{self.base_url}/tdUpload.aspx?job={job_id}"

    def account(self):
        """The account of the session named by the "token" child."""
        token = xmlutil.child_text(self.data, "token")
        if not token:
            raise Malformed("The request carries no token")
        account = self.state.account_for_token(token)
        if account is None:
            raise ServiceError("Invalid token")
        return account

    def expect(self, elem, where, attrs=(), children=None):
        """Notes attributes and children that differ from the programs' order and set."""
        got_attrs = list(elem.attrib)
        if got_attrs != list(attrs):
            self.record.deviate(f"{where}: attributes {got_attrs}, expected {list(attrs)}")
        if children is not None:
            got = [c.tag for c in elem]
            if got != list(children):
                self.record.deviate(f"{where}: children {got}, expected {list(children)}")


def parse_request(raw: bytes, record, expected_namespace=None) -> SoapRequest:
    """Reads the envelope; raises Malformed for anything the service cannot serve."""
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise Malformed("The request is not UTF-8 text") from None
    layout = _LAYOUT.match(text)
    record.param = layout.group("param") if layout else _between(text, "<Param>", "</Param>")
    try:
        root = xmlutil.parse_document(raw)
    except xmlutil.XmlError as exc:
        raise Malformed(str(exc)) from None
    if root.tag != f"{{{ENVELOPE_NS}}}Envelope":
        raise Malformed(f"Unexpected envelope element {root.tag}")
    body = [c for c in root if c.tag == f"{{{ENVELOPE_NS}}}Body"]
    if len(body) != 1 or len(body[0]) != 1:
        raise Malformed("The envelope must hold one Body with one operation element")
    op_elem = body[0][0]
    operation, namespace = xmlutil.local_name(op_elem.tag), xmlutil.namespace_of(op_elem.tag)
    record.operation = operation if _OPERATION_NAME.match(operation) else None
    if not namespace:
        raise Malformed("The operation element has no namespace")
    if expected_namespace and namespace != expected_namespace:
        raise Malformed(f"Unexpected service namespace {namespace}")
    params = [c for c in op_elem if c.tag == f"{{{namespace}}}Param"]
    if len(op_elem) != 1 or len(params) != 1:
        raise Malformed("The operation element must hold exactly one Param element")
    datas = list(params[0])
    if len(datas) != 1 or datas[0].tag != "data" or (params[0].text or "").strip():
        raise Malformed('Param must hold exactly one "data" element in no namespace')
    if record.operation is None or operation not in OPERATIONS:
        raise Malformed(f"Unknown operation {operation}")
    if layout is None:
        record.deviate("envelope differs from the programs' form")
    elif not re.match(r'<data xmlns=""[ />]', layout.group("param")):
        record.deviate('"data" does not start with its empty xmlns attribute')
    return SoapRequest(operation, namespace, datas[0])


def run(request: SoapRequest, call: Call):
    """Runs the operation under the state lock; returns (HTTP status, response element)."""
    with call.state.lock:
        try:
            response = OPERATIONS[request.operation](call)
        except ServiceError as exc:
            return 200, failure(str(exc))
        except Malformed as exc:
            call.record.mark_malformed(str(exc))
            return 500, failure(str(exc))
    return 200, response


def reply_envelope(operation, namespace, response) -> bytes:
    """Wraps the response the way a web service framework returns an XML result."""
    op = operation if operation and _OPERATION_NAME.match(operation) else "Operation"
    ns = quoteattr(namespace or DEFAULT_REPLY_NS)
    return (
        '<?xml version="1.0" encoding="utf-8"?>'
        f'<soap:Envelope xmlns:soap="{REPLY_ENVELOPE_NS}" '
        'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
        'xmlns:xsd="http://www.w3.org/2001/XMLSchema">'
        f'<soap:Body><{op}Response xmlns={ns}><{op}Result>{xmlutil.to_text(response)}'
        f'</{op}Result></{op}Response></soap:Body></soap:Envelope>'
    ).encode("utf-8")


def _between(text, start, end):
    i = text.find(start)
    j = text.rfind(end)
    return text[i + len(start):j] if 0 <= i and i + len(start) <= j else None
