"""Record of every request the service received, for tests to inspect."""

import threading
import time
from dataclasses import dataclass, field
from typing import List, Optional

MAX_ENTRIES = 20000
MAX_KEPT_BODY = 65536


@dataclass
class RequestRecord:
    method: str
    path: str
    query: str
    headers: List[tuple]
    kind: str = "unknown"
    seq: int = 0
    time: float = field(default_factory=time.time)
    operation: Optional[str] = None
    param: Optional[str] = None
    body: Optional[str] = None
    body_length: int = 0
    status: Optional[int] = None
    malformed: bool = False
    problems: List[str] = field(default_factory=list)
    deviations: List[str] = field(default_factory=list)
    fault: Optional[str] = None
    internal_error: Optional[str] = None

    def header(self, name: str) -> Optional[str]:
        lowered = name.lower()
        for key, value in self.headers:
            if key.lower() == lowered:
                return value
        return None

    def mark_malformed(self, reason: str):
        self.malformed = True
        self.problems.append(reason)

    def deviate(self, text: str):
        """The request was served, but differs from the form the programs send."""
        self.deviations.append(text)

    def keep_body(self, raw: bytes):
        self.body_length = len(raw)
        self.body = raw[:MAX_KEPT_BODY].decode("utf-8", "replace")

    def to_json(self):
        return {
            "seq": self.seq, "time": self.time, "method": self.method, "path": self.path,
            "query": self.query, "headers": [list(h) for h in self.headers], "kind": self.kind,
            "operation": self.operation, "param": self.param, "body": self.body,
            "body_length": self.body_length, "status": self.status, "malformed": self.malformed,
            "problems": list(self.problems), "deviations": list(self.deviations),
            "fault": self.fault, "internal_error": self.internal_error,
        }


class Journal:
    """Bounded list of records; counters survive the trimming of old entries."""

    def __init__(self):
        self._lock = threading.Lock()
        self._records: List[RequestRecord] = []
        self._next_seq = 1
        self.malformed_count = 0
        self.deviation_count = 0
        self.internal_error_count = 0

    def clear(self):
        with self._lock:
            self._records = []
            self._next_seq = 1
            self.malformed_count = 0
            self.deviation_count = 0
            self.internal_error_count = 0

    def add(self, record: RequestRecord):
        """Called once the request has been answered (or dropped)."""
        with self._lock:
            if record.seq:
                return
            record.seq = self._next_seq
            self._next_seq += 1
            if record.malformed:
                self.malformed_count += 1
            if record.deviations:
                self.deviation_count += 1
            if record.internal_error:
                self.internal_error_count += 1
            self._records.append(record)
            if len(self._records) > MAX_ENTRIES:
                del self._records[: len(self._records) - MAX_ENTRIES]

    def note_internal_error(self, record: RequestRecord, text: str):
        """Counted whether or not the record was already added."""
        with self._lock:
            if record.seq and not record.internal_error:
                self.internal_error_count += 1
            record.internal_error = text

    def select(self, since=0, kind=None, operation=None, path=None, malformed=None):
        with self._lock:
            out = []
            for r in self._records:
                if r.seq <= since:
                    continue
                if kind is not None and r.kind != kind:
                    continue
                if operation is not None and r.operation != operation:
                    continue
                if path is not None and r.path != path:
                    continue
                if malformed is not None and r.malformed != malformed:
                    continue
                out.append(r.to_json())
            return out

    def summary(self):
        with self._lock:
            return {"requests_seen": self._next_seq - 1, "malformed_count": self.malformed_count,
                    "deviation_count": self.deviation_count,
                    "internal_error_count": self.internal_error_count}
