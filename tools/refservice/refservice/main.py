"""Command line: start the service, print the bound port, stop cleanly on SIGTERM/SIGINT."""

import argparse
import json
import signal
import sys
import threading

from .server import Options, make_server
from .state import SeedError, State


def parse_args(argv):
    p = argparse.ArgumentParser(prog="refservice",
                                description="Reference printing service for tests and demos.")
    p.add_argument("--host", default="127.0.0.1", help="address to bind (default 127.0.0.1)")
    p.add_argument("--port", type=int, default=0,
                   help="port to bind; 0 picks a free one (printed as the first output line)")
    p.add_argument("--seed", help="JSON file with accounts, printers, jobs and server settings")
    p.add_argument("--cert", help="TLS certificate (PEM); serves HTTPS when given")
    p.add_argument("--key", help="TLS private key (PEM) for --cert")
    p.add_argument("--direct-address",
                   help='direct address PrePostJob2 names; "{self}" stands for host:port')
    p.add_argument("--namespace", help="require this service namespace on every operation")
    p.add_argument("--fixed-key", help="Base64 job key that MakeKey hands out for every job")
    p.add_argument("--key-bytes", type=int, default=32, help="length of generated job keys")
    p.add_argument("--job-password-prefix",
                   help="four characters; AES0 keys then require this prefix plus the job id")
    p.add_argument("--public-url", help="scheme://host[:port] for the addresses handed out")
    p.add_argument("--max-body", type=int, default=16 * 1024 * 1024,
                   help="largest request body accepted (bytes)")
    p.add_argument("--max-page-bytes", type=int, default=64 * 1024 * 1024,
                   help="largest page file stored (bytes)")
    p.add_argument("--max-store", type=int, default=512 * 1024 * 1024,
                   help="total page bytes kept in memory")
    p.add_argument("--verbose", action="store_true", help="log every request on stderr")
    args = p.parse_args(argv)
    if bool(args.cert) != bool(args.key):
        p.error("--cert and --key go together")
    if not 1 <= args.key_bytes <= 1024:
        p.error("--key-bytes must be 1 to 1024")
    if not 0 <= args.port <= 65535:
        p.error("--port must be 0 to 65535")
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    options = Options(
        host=args.host, port=args.port, cert=args.cert, key=args.key,
        direct_address=args.direct_address, namespace=args.namespace, fixed_key=args.fixed_key,
        key_bytes=args.key_bytes, job_password_prefix=args.job_password_prefix,
        public_url=args.public_url, max_body=args.max_body, max_page_bytes=args.max_page_bytes,
        max_store=args.max_store, verbose=args.verbose)
    try:
        seed = {}
        if args.seed:
            with open(args.seed, "r", encoding="utf-8") as f:
                seed = json.load(f)
        state = State(options, seed)
        server = make_server(options, state)
    except (OSError, ValueError, SeedError) as exc:
        print(f"refservice: {exc}", file=sys.stderr)
        return 2

    # The stop signals are blocked in every thread and taken here by waiting for them. A Python
    # handler runs on the main thread between two bytecodes, also while that thread holds the
    # lock of an Event it is waiting on, so a handler that sets such an Event can deadlock and
    # the process then never ends.
    stop_signals = {signal.SIGTERM, signal.SIGINT}
    for number in stop_signals:
        # An ignored signal is dropped rather than left pending, and a shell starts background
        # commands with SIGINT ignored.
        signal.signal(number, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_BLOCK, stop_signals)

    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                              name="refservice", daemon=True)
    thread.start()
    print(server.port, flush=True)
    print(f"refservice: listening on {server.scheme}://{server.authority}", file=sys.stderr,
          flush=True)
    while thread.is_alive():
        if signal.sigtimedwait(stop_signals, 0.5) is not None:
            break
    server.shutdown()
    server.server_close()
    return 0
