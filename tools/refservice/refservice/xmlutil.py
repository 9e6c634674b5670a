"""Small XML helpers shared by the SOAP operations and the change check.

Documents are built with ElementTree; element and attribute names are written without
namespace prefixes because the clients look elements up by their plain names.
"""

import re
import time
import xml.etree.ElementTree as ET

# Order of the profile texts of a person element.
PERSON_PROPERTIES = ("mail", "login", "nick", "name", "phone", "country", "city", "state",
                     "address", "zip")

_FORBIDDEN_MARKUP = re.compile(rb"<!\s*(DOCTYPE|ENTITY)", re.IGNORECASE)


class XmlError(ValueError):
    """The bytes are not a document this service accepts."""


def parse_document(raw: bytes) -> ET.Element:
    """Parses untrusted bytes; document type declarations are refused outright so that
    entity expansion can never be used against the service."""
    if _FORBIDDEN_MARKUP.search(raw):
        raise XmlError("Document type declarations are not accepted")
    try:
        return ET.fromstring(raw)
    except ET.ParseError as exc:
        raise XmlError(f"Invalid XML in request: {exc}") from None


def local_name(tag: str) -> str:
    return tag.rsplit("}", 1)[-1] if tag.startswith("{") else tag


def namespace_of(tag: str) -> str:
    return tag[1:].split("}", 1)[0] if tag.startswith("{") else ""


def child(elem, name):
    """First direct child with exactly this (namespace-free) name, or None."""
    if elem is None:
        return None
    for c in elem:
        if c.tag == name:
            return c
    return None


def children(elem, name):
    return [c for c in elem if c.tag == name] if elem is not None else []


def text_of(elem) -> str:
    """String value of an element: all text below it, like an XPath string()."""
    return "".join(elem.itertext()) if elem is not None else ""


def child_text(elem, name) -> str:
    return text_of(child(elem, name))


def read_bool(text: str) -> bool:
    """The clients' boolean rule: leading blanks, signs and zeros are skipped, then t/T/y/Y
    or a digit 1-9 means true."""
    s = (text or "").lstrip(" \t\r\n+-0")
    return bool(s) and (s[0] in "tTyY" or s[0] in "123456789")


def read_int(text: str, default=None):
    s = (text or "").strip()
    if re.fullmatch(r"[+-]?\d{1,10}", s):
        value = int(s)
        if -2**31 <= value < 2**31:
            return value
    return default


def sub(parent, tag, text=None, /, **attrs):
    """Appends a child; attributes are given in order, with '_' standing for '-'."""
    elem = ET.SubElement(parent, tag)
    for key, value in attrs.items():
        elem.set(key.replace("_", "-"), str(value))
    if text is not None:
        elem.text = str(text)
    return elem


def set_attrs(elem, pairs):
    for key, value in pairs:
        elem.set(key, str(value))
    return elem


def to_text(elem) -> str:
    return ET.tostring(elem, encoding="unicode")


def bool_text(value: bool) -> str:
    return "true" if value else "false"


def stamp(when=None) -> str:
    """The service's date form: yyMMddHHmmss in GMT."""
    return time.strftime("%y%m%d%H%M%S", time.gmtime(when))


def person_element(parent, name, account, fields=None, include_premium=True):
    """A person element (user, owner, printing-person, client). `fields` limits the
    profile texts written, as the printer search asks for only some of them."""
    elem = ET.SubElement(parent, name) if parent is not None else ET.Element(name)
    elem.set("id", str(account.id))
    if include_premium:
        elem.set("premium", bool_text(account.premium))
    for prop in PERSON_PROPERTIES:
        if fields is None or prop in fields:
            sub(elem, prop, account.props.get(prop, ""))
    return elem
