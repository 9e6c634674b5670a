"""Injected failures: answer chosen requests with a status, delay them or drop the connection."""

import threading
from dataclasses import dataclass
from typing import List, Optional

MAX_DELAY = 120.0
MAX_PENDING = 1000


class FaultSpecError(ValueError):
    pass


@dataclass
class Fault:
    count: int = 1
    path: Optional[str] = None
    operation: Optional[str] = None
    method: Optional[str] = None
    status: Optional[int] = None
    delay: float = 0.0
    drop: bool = False
    body: Optional[str] = None
    content_type: str = "text/plain"
    soap_message: Optional[str] = None

    @staticmethod
    def from_json(entry: dict) -> "Fault":
        if not isinstance(entry, dict):
            raise FaultSpecError("a fault is a JSON object")
        known = {"count", "match", "status", "delay", "drop", "body", "content_type",
                 "soap_message"}
        unknown = set(entry) - known
        if unknown:
            raise FaultSpecError(f"unknown fault fields: {sorted(unknown)}")
        match = entry.get("match") or {}
        if not isinstance(match, dict) or set(match) - {"path", "operation", "method"}:
            raise FaultSpecError("match holds only path, operation and method")
        fault = Fault(
            count=_int(entry.get("count", 1), "count", 1, 1_000_000),
            path=_opt_str(match.get("path"), "match.path"),
            operation=_opt_str(match.get("operation"), "match.operation"),
            method=_opt_str(match.get("method"), "match.method"),
            status=None if entry.get("status") is None else _int(entry["status"], "status", 100, 599),
            delay=_float(entry.get("delay", 0), "delay", 0.0, MAX_DELAY),
            drop=bool(entry.get("drop", False)),
            body=_opt_str(entry.get("body"), "body"),
            content_type=_opt_str(entry.get("content_type"), "content_type") or "text/plain",
            soap_message=_opt_str(entry.get("soap_message"), "soap_message"),
        )
        if fault.method:
            fault.method = fault.method.upper()
        if not (fault.drop or fault.status or fault.delay or fault.soap_message is not None):
            raise FaultSpecError("a fault needs status, delay, drop or soap_message")
        return fault

    def matches(self, method, path, operation) -> bool:
        return ((self.path is None or self.path == path)
                and (self.operation is None or self.operation == operation)
                and (self.method is None or self.method == method))

    def describe(self) -> str:
        parts = []
        if self.delay:
            parts.append(f"delay {self.delay:g}s")
        if self.drop:
            parts.append("drop")
        if self.status:
            parts.append(f"status {self.status}")
        if self.soap_message is not None:
            parts.append("soap error")
        return ", ".join(parts)

    def to_json(self):
        return {"count": self.count, "match": {"path": self.path, "operation": self.operation,
                                               "method": self.method},
                "status": self.status, "delay": self.delay, "drop": self.drop,
                "body": self.body, "soap_message": self.soap_message}


class FaultQueue:
    """Faults are tried in the order they were added; the first that matches is used and
    counts down, and is forgotten once used up."""

    def __init__(self):
        self._lock = threading.Lock()
        self._faults: List[Fault] = []

    def add(self, fault: Fault):
        with self._lock:
            if len(self._faults) >= MAX_PENDING:
                raise FaultSpecError("too many pending faults")
            self._faults.append(fault)

    def clear(self):
        with self._lock:
            self._faults.clear()

    def take(self, method, path, operation) -> Optional[Fault]:
        with self._lock:
            for i, fault in enumerate(self._faults):
                if fault.matches(method, path, operation):
                    fault.count -= 1
                    if fault.count <= 0:
                        del self._faults[i]
                    return fault
            return None

    def pending(self):
        with self._lock:
            return [f.to_json() for f in self._faults]


def _int(value, name, low, high):
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        raise FaultSpecError(f"{name} must be an integer from {low} to {high}")
    return value


def _float(value, name, low, high):
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not low <= value <= high:
        raise FaultSpecError(f"{name} must be a number from {low} to {high}")
    return float(value)


def _opt_str(value, name):
    if value is not None and not isinstance(value, str):
        raise FaultSpecError(f"{name} must be a string")
    return value
