"""The "response" element every SOAP reply carries."""

import xml.etree.ElementTree as ET

from .xmlutil import sub


def _response(ok: bool):
    # Out of the reply envelope's default namespace, as the request's "data" is.
    response = ET.Element("response")
    response.set("xmlns", "")
    response.set("success", "true" if ok else "false")
    return response


def success():
    response = _response(True)
    return response


def failure(message: str):
    """A refusal; the programs show the first "message" child as the reason."""
    response = _response(False)
    sub(response, "message", message)
    return response
