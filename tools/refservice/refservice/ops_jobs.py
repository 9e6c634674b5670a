"""Job operations: announcing a job, its file key, and the status reports of both ends."""

from . import model
from .model import Job
from .replies import success
from .state import Malformed, ServiceError
from .xmlutil import child, child_text, read_int, stamp, sub, text_of

# Children of the job element the sender writes, in its order.
SENDER_JOB_ORDER = ["printer", "paper-format", "width", "height", "paper-orientation", "bin",
                    "copies", "collate", "pack", "document", "duplex", "encrypt",
                    "encrypt-method", "transport", "print-notify"]
REQUIRED_JOB_CHILDREN = ["printer", "paper-format", "paper-orientation", "document", "duplex",
                         "transport"]
TRANSPORT_NAMES = ("emf", "bmp", "ps", "jpg", "png", "pdf")
ENCRYPTION_NAMES = ("AES", "AES0")
MAX_PAGES = 100000


def pre_post_job(call):
    state, data = call.state, call.data
    call.expect(data, "PrePostJob2", [], ["token", "job"])
    account = call.account()
    job_elem = child(data, "job")
    if job_elem is None or not child_text(job_elem, "printer"):
        raise Malformed("PrePostJob2 needs a job element naming its printer")
    check_sender_job(call.record, job_elem)
    public_id = child_text(job_elem, "printer")
    printer = state.printers.get(public_id)
    if printer is None or not printer.visible_to(account.id):
        raise ServiceError("Printer not found")
    fields = {c.tag: text_of(c) for c in job_elem if c.tag != "printer"}
    fields["premium"] = "1" if account.premium else "0"
    job = Job(id=state.allocate_job_id(), sender=account.id, printer=public_id, fields=fields,
              started=stamp())
    job.history.append(model.STATUS_CODES[model.POSTING])
    state.jobs[job.id] = job

    response = success()
    sub(response, "job", id=job.id)
    owner = state.accounts.get(printer.owner)
    direct = owner.direct_address if owner and owner.direct_address is not None \
        else state.server.get("direct_address")
    if direct:
        sub(response, "direct-address", direct.replace("{self}", call.host_port))
    sub(response, "post-address", call.post_address(job.id))
    return response


def check_sender_job(record, job_elem):
    """Notes where the announced job differs from the form the sender writes."""
    tags = [c.tag for c in job_elem]
    unknown = [t for t in tags if t not in SENDER_JOB_ORDER]
    if unknown:
        record.deviate(f"job: unknown children {unknown}")
    known = [SENDER_JOB_ORDER.index(t) for t in tags if t in SENDER_JOB_ORDER]
    if known != sorted(set(known)):
        record.deviate(f"job: children out of order or repeated {tags}")
    missing = [t for t in REQUIRED_JOB_CHILDREN if t not in tags]
    if missing:
        record.deviate(f"job: missing children {missing}")
    values = {c.tag: text_of(c) for c in job_elem}
    rules = {
        "width": lambda v: (read_int(v) or 0) > 0,
        "height": lambda v: (read_int(v) or 0) > 0,
        "paper-orientation": lambda v: v in ("1", "2"),
        "copies": lambda v: (read_int(v) or 0) >= 2,
        "collate": lambda v: v == "1", "pack": lambda v: v == "1",
        "encrypt": lambda v: v == "1", "print-notify": lambda v: v == "1",
        "duplex": lambda v: v in ("0", "1", "2"),
        "encrypt-method": lambda v: v in ENCRYPTION_NAMES,
        "transport": lambda v: v in TRANSPORT_NAMES,
    }
    for name, valid in rules.items():
        if name in values and not valid(values[name]):
            record.deviate(f"job: {name}={values[name]!r}")
    if ("encrypt" in values) != ("encrypt-method" in values):
        record.deviate("job: encrypt and encrypt-method go together")


def _job_from_request(call, operation, attrs):
    job_elem = child(call.data, "job")
    if job_elem is None:
        raise Malformed(f"{operation} needs a job element")
    call.expect(job_elem, f"{operation} job", attrs, [])
    job_id = read_int(job_elem.get("id", ""))
    if job_id is None:
        raise Malformed(f"{operation}: job id is not a number")
    job = call.state.jobs.get(job_id)
    if job is None:
        raise ServiceError("Job not found")
    return job_elem, job


def _key_request(call, operation):
    call.expect(call.data, operation, [], ["token", "job", "password"])
    account = call.account()
    if child(call.data, "password") is None:
        raise Malformed(f"{operation} needs a password element")
    _, job = _job_from_request(call, operation, ["id"])
    password = child_text(call.data, "password")
    prefix = call.state.options.job_password_prefix
    if prefix and job.encrypt_method == "AES0" and password != f"{prefix}{job.id}":
        call.record.deviate(f"{operation}: the job password is not the prefix and the job id")
        raise ServiceError("Incorrect password")
    return account, job, password


def make_key(call):
    account, job, password = _key_request(call, "MakeKey")
    if job.sender != account.id:
        raise ServiceError("Access denied")
    if job.status != model.POSTING:
        raise ServiceError("The job is no longer being posted")
    if not job.encrypt_method:
        call.record.deviate("MakeKey for a job announced without encryption")
        raise ServiceError("The job is not encrypted")
    if job.key is not None and job.key_password != password:
        raise ServiceError("The job's key has already been made")
    if job.key is None:
        job.key, job.key_password = call.state.new_key(), password
    response = success()
    sub(response, "file-key", job.key)
    return response


def get_key(call):
    account, job, password = _key_request(call, "GetKey")
    printer = call.state.printers.get(job.printer)
    if account.id != job.sender and (printer is None or printer.owner != account.id):
        raise ServiceError("Access denied")
    if job.key is None:
        raise ServiceError("The job has no key")
    if password != job.key_password:
        raise ServiceError("Incorrect password")
    response = success()
    sub(response, "file-key", job.key)
    return response


def update_job(call):
    state = call.state
    call.expect(call.data, "UpdateJob", [], ["token", "job"])
    account = call.account()
    job_elem = child(call.data, "job")
    status = read_int(job_elem.get("new-status", "")) if job_elem is not None else None
    if status is None:
        raise Malformed("UpdateJob needs a job with a numeric new-status")
    _, job = _job_from_request(call, "UpdateJob",
                               ["id", "new-status", "pages"] if status == 1 else ["id", "new-status"])
    printer = state.printers.get(job.printer)
    is_owner = printer is not None and printer.owner == account.id
    if status in (1, -1):
        if account.id != job.sender:
            raise ServiceError("Access denied")
        if job.status != model.POSTING:
            raise ServiceError("The job is no longer being posted")
        if status == 1:
            _complete_upload(call, job, job_elem)
        else:
            job.status = model.CANCELLED
    elif status in (3, -2):
        if not is_owner:
            raise ServiceError("Access denied")
        if job.status != model.READY:
            raise ServiceError("The job is not waiting to be printed")
        job.status = model.PRINTED if status == 3 else model.REJECTED
        if status == 3:
            _charge_pages(state, job)
    else:
        raise Malformed(f"Unknown job status {status}")
    job.history.append(status)
    return success()


def _complete_upload(call, job, job_elem):
    pages = read_int(job_elem.get("pages", ""))
    if pages is None or not 0 <= pages <= MAX_PAGES:
        raise Malformed("A completed job needs its page count")
    for number, page in sorted(job.pages.items()):
        if number > pages:
            raise ServiceError(f"Page {number} arrived but the job has {pages} pages")
        if not page.complete:
            raise ServiceError(f"Page {number} is incomplete")
    if job.page_count is not None and job.page_count != pages:
        call.record.deviate(f"UpdateJob reports {pages} pages, uploads said {job.page_count}")
    for number in range(1, pages + 1):
        if number not in job.pages and number not in job.direct_pages:
            job.notes.append(f"page {number} never arrived")
    job.final_pages = pages
    job.status = model.READY
    call.state.job_listed(job)


def _charge_pages(state, job):
    sender = state.accounts.get(job.sender)
    if sender is None or sender.free_pages is None:
        return
    copies = read_int(job.fields.get("copies", "1")) or 1
    used = len(job.listed_page_numbers()) * max(copies, 1)
    sender.free_pages = max(0, sender.free_pages - used)
    state.emit(sender, "free-pages")
