#!/usr/bin/env python3
"""Scriptable HTTP, HTTPS and forward-proxy server for the transport tests.

    test_server.py --root DIR

Listens on 127.0.0.1 on three ephemeral ports and writes them to DIR/ports.txt (http=N, https=N,
proxy=N) once all three accept connections; its pid goes to DIR/server.pid. SIGTERM ends it.

Every test owns a directory DIR/<ns>/. The namespace of a request is the first token of its target,
split on '/', '?', '&' and '=', that names a directory under DIR; the file served by default is the
path that follows that token (up to a '?' or '&'). Each request is recorded in DIR/<ns>/requests.log
before it is answered (request bodies in DIR/<ns>/body-<index>.bin); requests without a namespace go
to DIR/unmatched.log and get a 404.

Without a script the server serves the file (GET and HEAD, with single byte ranges; other methods
get an empty 200). DIR/<ns>/script.json, re-read on every request, holds {"rules": [...]}: the first
rule that matches and is not used up decides the answer.
  match, method, listener, count                 which requests a rule applies to
  status, headers, body | body_file | serve       what it answers; a header given as null removes a
                                                  default one. Without status and body source the
                                                  rule answers the default (the file), with status
                                                  alone an empty body.
  ignore_range                                    serve (or the default file) answers 200 to a Range
  ignore_if_range                                 a Range is served even when If-Range names another
                                                  version (by default such a request gets the whole file)
  etag                                            the file is answered with a strong ETag of its bytes,
                                                  which If-Range may name instead of the Last-Modified date
  replace_with [+ replace_mtime]                  before answering, the served file is replaced by the
                                                  bytes of this namespace file, modified at replace_mtime
                                                  (default: a second after the old version)
  no_content_length, chunked, close_after,        how the answer is delivered (chunked: in chunks,
  stall_after +                                   without Content-Length)
  stall_seconds, stall_before_headers, delay_ms,
  rate_bytes_per_second                           the body goes out in small pieces, no faster than
                                                  this (a positive number; a slow server or network)
Rule use counts live in memory per namespace and restart when script.json changes, and when the
namespace is recreated (its requests.log is gone).

The proxy listener demands Basic credentials: DIR/<ns>/proxy-credentials.txt when the target's
namespace has one, else DIR/proxy-credentials.txt, else proxyuser:proxypass. An authorised request
with an absolute target http://host:port/path is handled as the http listener handles /path.
"""

import argparse
import base64
import email.utils
import hashlib
import json
import os
import re
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit

LISTENERS = ("http", "https", "proxy")
STREAM_CHUNK = 1 << 20
# A paced body goes out in pieces of at most this many bytes, about 50 pieces a second.
PACED_PIECE = 64 * 1024
PACED_PIECES_PER_SECOND = 50
DEFAULT_PROXY_CREDENTIALS = "proxyuser:proxypass"
TOKEN = re.compile(r"[^/?&=]+")
RANGE = re.compile(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*")
UNSATISFIABLE = "unsatisfiable"


class ScriptError(Exception):
    pass


class RecordState:
    """Per log file: the next request index and the script rules' use counts, under one lock so that
    recording a request and choosing its rule happen together."""

    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        self.next_index = 1
        self.script_key = None
        self.rule_uses = {}


class Body:
    """What a response sends after its headers: bytes, or a byte range of a file."""

    def __init__(self, data=b"", path=None, offset=0, length=None):
        self.data, self.path, self.offset = data, path, offset
        self.length = len(data) if path is None else length


class Plan:
    def __init__(self, status, headers=None, body=None):
        self.status = status
        self.headers = list(headers or [])
        self.body = body or Body()

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def set_header(self, name, value):
        self.headers = [(k, v) for k, v in self.headers if k.lower() != name.lower()]
        if value is not None:
            self.headers.append((name, str(value)))


def body_pieces(body, length, piece_size):
    """The first length bytes of body in pieces of at most piece_size bytes."""
    if body.path is None:
        for start in range(0, length, piece_size):
            yield body.data[start:min(length, start + piece_size)]
        return
    with open(body.path, "rb") as source:
        source.seek(body.offset)
        while length > 0:
            piece = source.read(min(piece_size, length))
            if not piece:
                return
            yield piece
            length -= len(piece)


def http_date(seconds):
    return email.utils.formatdate(seconds, usegmt=True)


def resolve_under(base, relative):
    """base/relative when it stays inside base, else None."""
    if relative is None or "\0" in relative:
        return None
    base_real = os.path.realpath(base)
    path = os.path.realpath(os.path.join(base_real, relative.lstrip("/")))
    if path == base_real or not path.startswith(base_real + os.sep):
        return None
    return path


def find_namespace(root, target):
    """(namespace, what follows it in the target) or None. The raw target is tried first, then its
    percent-decoded form, for clients that encode a query value."""
    for text in (target, unquote(target)):
        for token in TOKEN.finditer(text):
            name = token.group(0)
            if name in (".", "..") or "\0" in name:
                continue
            if os.path.isdir(os.path.join(root, name)):
                return name, text[token.end():]
    return None


def parse_range(value, size):
    """(first, last) of a single byte range, UNSATISFIABLE, or None when the header is ignored."""
    match = RANGE.fullmatch(value)
    if not match:
        return None
    first, last = match.groups()
    if first == "" and last == "":
        return None
    if first == "":
        suffix = int(last)
        return (max(0, size - suffix), size - 1) if suffix > 0 and size > 0 else UNSATISFIABLE
    start = int(first)
    if start >= size or (last != "" and start > int(last)):
        return UNSATISFIABLE
    return start, size - 1 if last == "" else min(int(last), size - 1)


def rule_matches(rule, method, target, listener):
    return (("match" not in rule or rule["match"] in target)
            and ("method" not in rule or rule["method"].upper() == method)
            and ("listener" not in rule or rule["listener"] == listener))


def check_rule(rule):
    """Refuses the values that would make a rule misbehave quietly rather than fail."""
    rate = rule.get("rate_bytes_per_second")
    if rate is not None and (isinstance(rate, bool) or not isinstance(rate, (int, float)) or not rate > 0):
        raise ScriptError(f"rate_bytes_per_second must be a positive number, not {rate!r}")


def select_rule(state, directory, method, target, listener):
    """The first rule of directory/script.json that matches and is not used up, counted as used."""
    path = os.path.join(directory, "script.json")
    try:
        stamp = os.stat(path).st_mtime_ns
        with open(path, "rb") as script_file:
            content = script_file.read()
    except FileNotFoundError:
        state.script_key, state.rule_uses = None, {}
        return None
    if state.script_key != (stamp, content):
        state.script_key, state.rule_uses = (stamp, content), {}
    try:
        rules = json.loads(content)["rules"]
    except (ValueError, KeyError, TypeError) as error:
        raise ScriptError(f"{path}: {error}") from error
    for position, rule in enumerate(rules):
        if not rule_matches(rule, method, target, listener):
            continue
        check_rule(rule)
        used = state.rule_uses.get(position, 0)
        if "count" in rule and used >= rule["count"]:
            continue
        state.rule_uses[position] = used + 1
        return rule
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "vx-test-server/1.0"
    timeout = 120

    def handle_any(self):
        server = self.server
        try:
            body = self.read_body()
        except (ValueError, OSError):
            self.send_error(400, "Unreadable request body")
            self.close_connection = True
            return
        # The target as it arrived (self.path has a leading "//" folded into "/").
        raw_target = self.requestline.split()[1]
        target = raw_target
        if server.listener == "proxy" and target.lower().startswith("http://"):
            parts = urlsplit(target)
            target = (parts.path or "/") + (f"?{parts.query}" if parts.query else "")
        found = find_namespace(server.root, target)
        directory = os.path.join(server.root, found[0]) if found else None
        authorised = server.listener != "proxy" or self.proxy_authorised(directory)
        try:
            rule = self.record(directory, raw_target, body, target, wanted_rule=found is not None and authorised)
        except (ScriptError, OSError) as error:  # a broken script, or the namespace went away
            self.deliver(Plan(500, [("Content-Type", "text/plain")], Body(f"{error}\n".encode())), {})
            return
        if not authorised:
            plan = Plan(407, [("Proxy-Authenticate", 'Basic realm="vx-test"'), ("Content-Type", "text/plain")],
                        Body(b"Proxy authentication required\n"))
            self.deliver(plan, {})
        elif found is None:
            self.deliver(self.not_found(), {})
        else:
            self.deliver(self.plan(directory, found[1], rule), rule or {})

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = handle_any

    # --- request side -------------------------------------------------------------------------

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            pieces = []
            while True:
                size = int(self.rfile.readline(65537).split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline(65537) not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(pieces)
                piece = self.rfile.read(size)
                if len(piece) != size:
                    raise ValueError("short chunk")
                pieces.append(piece)
                self.rfile.readline(65537)
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length > 0 else b""
        if len(data) != length:
            raise ValueError("short body")
        return data

    def proxy_authorised(self, directory):
        expected = DEFAULT_PROXY_CREDENTIALS
        for folder in ([directory] if directory else []) + [self.server.root]:
            try:
                with open(os.path.join(folder, "proxy-credentials.txt"), encoding="latin-1") as credentials:
                    expected = credentials.readline().rstrip("\r\n")
                break
            except FileNotFoundError:
                continue
        scheme, _, token = self.headers.get("Proxy-Authorization", "").strip().partition(" ")
        if scheme.lower() != "basic":
            return False
        try:
            given = base64.b64decode(token.strip(), validate=True).decode("latin-1")
        except ValueError:
            return False
        return given == expected

    def record(self, directory, raw_target, body, target, wanted_rule):
        """Appends the request's block to its log (and its body file); returns the rule to apply."""
        log_path = os.path.join(directory or self.server.root, "requests.log" if directory else "unmatched.log")
        state = self.server.record_state(log_path)
        with state.lock:
            if not os.path.exists(log_path):
                state.reset()
            index = state.next_index
            state.next_index += 1
            lines = [f"REQUEST {index} {self.server.listener}", f"{self.command} {raw_target}"]
            for name, value in self.headers.items():
                lines.append(f"{name}: {value}".replace("\r", " ").replace("\n", " "))
            lines += [f"BODY {len(body)}", "END", ""]
            if body and directory:
                with open(os.path.join(directory, f"body-{index}.bin"), "wb") as body_file:
                    body_file.write(body)
            # Header values and the target arrive as latin-1 text; written back, they are the
            # bytes that were received.
            with open(log_path, "ab") as log:
                log.write("\n".join(lines).encode("latin-1", "replace"))
                log.flush()
            if not wanted_rule:
                return None
            return select_rule(state, directory, self.command, target, self.server.listener)

    # --- response side ------------------------------------------------------------------------

    def not_found(self):
        return Plan(404, [("Content-Type", "text/plain")], Body(b"Not Found\n"))

    def file_plan(self, path, ignore_range=False, ignore_if_range=False, etag=False):
        if path is None or not os.path.isfile(path):
            return self.not_found()
        stat = os.stat(path)
        size = stat.st_size
        last_modified = http_date(stat.st_mtime)
        headers = [("Content-Type", "application/octet-stream"), ("Last-Modified", last_modified),
                   ("Accept-Ranges", "bytes")]
        current = last_modified
        if etag:
            with open(path, "rb") as served:
                current = '"' + hashlib.sha256(served.read()).hexdigest()[:16] + '"'
            headers.append(("ETag", current))
        requested = self.headers.get("Range")
        validator = self.headers.get("If-Range")
        if validator is not None and not ignore_if_range:
            validator = validator.strip()
            # An entity tag is compared strongly (a weak one never matches), a date exactly.
            matches = validator == current if validator.startswith('"') else validator == last_modified
            if not matches:
                requested = None  # another version than the client holds: the whole file
        wanted = parse_range(requested, size) if requested and not ignore_range else None
        if wanted == UNSATISFIABLE:
            return Plan(416, headers + [("Content-Range", f"bytes */{size}")])
        if wanted:
            first, last = wanted
            return Plan(206, headers + [("Content-Range", f"bytes {first}-{last}/{size}")],
                        Body(path=path, offset=first, length=last - first + 1))
        return Plan(200, headers, Body(path=path, length=size))

    def plan(self, directory, rest, rule):
        target_file = resolve_under(directory, unquote(re.split(r"[?&#]", rest, maxsplit=1)[0]))
        if rule is None:
            rule = {}
        if "replace_with" in rule:
            self.replace_file(directory, target_file, rule)
        ignore_range = bool(rule.get("ignore_range"))
        ignore_if_range = bool(rule.get("ignore_if_range"))
        etag = bool(rule.get("etag"))
        if "body" in rule:
            plan = Plan(rule.get("status", 200), [], Body(str(rule["body"]).encode("utf-8")))
        elif "body_file" in rule:
            path = resolve_under(directory, rule["body_file"])
            if path is None or not os.path.isfile(path):
                return Plan(500, [("Content-Type", "text/plain")], Body(b"script: body_file not found\n"))
            plan = Plan(rule.get("status", 200), [], Body(path=path, length=os.path.getsize(path)))
        elif "serve" in rule:
            plan = self.file_plan(resolve_under(directory, rule["serve"]), ignore_range, ignore_if_range, etag)
            plan.status = rule.get("status", plan.status)
        elif "status" in rule:
            plan = Plan(rule["status"])
        elif self.command in ("GET", "HEAD"):
            plan = self.file_plan(target_file, ignore_range, ignore_if_range, etag)
        else:
            plan = Plan(200)
        for name, value in rule.get("headers", {}).items():
            plan.set_header(name, value)
        return plan

    @staticmethod
    def replace_file(directory, target_file, rule):
        """Puts another version in place of the served file before the answer: the bytes of
        replace_with, modified at replace_mtime (default: a second after the old version)."""
        source = resolve_under(directory, rule["replace_with"])
        if source is None or target_file is None or not os.path.isfile(source):
            sys.stderr.write(f"replace_with: {rule['replace_with']} not found\n")
            return
        old_mtime = os.stat(target_file).st_mtime if os.path.isfile(target_file) else time.time()
        with open(source, "rb") as new_version:
            data = new_version.read()
        temporary = target_file + ".replacing"
        with open(temporary, "wb") as replacement:
            replacement.write(data)
        mtime = float(rule.get("replace_mtime", int(old_mtime) + 1))
        os.utime(temporary, (mtime, mtime))
        os.replace(temporary, target_file)

    def deliver(self, plan, rule):
        stop = self.server.stop_event
        if rule.get("delay_ms") and stop.wait(rule["delay_ms"] / 1000.0):
            self.close_abruptly()
            return
        if "stall_before_headers" in rule:
            stop.wait(float(rule["stall_before_headers"]))
            self.close_abruptly()
            return
        bodiless = self.command == "HEAD" or plan.status in (204, 304) or plan.status < 200
        given_length = plan.header("Content-Length")
        self.send_response(plan.status)
        chunked = bool(rule.get("chunked")) and not bodiless
        if rule.get("no_content_length"):
            plan.set_header("Content-Length", None)
            plan.set_header("Connection", "close")
        elif chunked:
            plan.set_header("Content-Length", None)
            plan.set_header("Transfer-Encoding", "chunked")
        elif given_length is None and plan.status not in (204, 304):
            plan.set_header("Content-Length", plan.body.length)
        elif given_length is not None and given_length.strip() != str(plan.body.length):
            self.close_connection = True  # the client cannot find the end of this body
        for name, value in plan.headers:
            self.send_header(name, value)
        self.end_headers()
        limit = rule.get("close_after", rule.get("stall_after"))
        if chunked:
            self.write_chunked(plan.body)
            return
        if not self.write_body(plan.body, 0 if bodiless else limit, rule.get("rate_bytes_per_second")):
            self.close_abruptly()  # the server is stopping
            return
        if "close_after" in rule:
            self.close_abruptly()
        elif "stall_after" in rule:
            stop.wait(float(rule.get("stall_seconds", 0)))
            self.close_abruptly()

    def write_body(self, body, limit=None, rate=None):
        """Sends the body (its first limit bytes); False when the server stopped before the end."""
        length = body.length if limit is None else min(body.length, max(0, int(limit)))
        if length <= 0:
            return True
        if rate is not None:
            return self.write_paced(body, length, float(rate))
        if body.path is None:
            self.wfile.write(body.data[:length])
            return True
        if not isinstance(self.connection, ssl.SSLSocket):
            with open(body.path, "rb") as source:
                self.connection.sendfile(source, body.offset, length)
            return True
        for piece in body_pieces(body, length, STREAM_CHUNK):
            self.wfile.write(piece)
        return True

    def write_chunked(self, body):
        """Sends the body in chunks of at most 16 KiB and the last, empty chunk."""
        for piece in body_pieces(body, body.length, 16 * 1024):
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
        self.wfile.write(b"0\r\n\r\n")

    def write_paced(self, body, length, rate):
        """Sends length bytes at no more than rate bytes a second: each piece waits until the bytes
        before it have taken their time."""
        piece_size = max(1, min(PACED_PIECE, int(rate / PACED_PIECES_PER_SECOND)))
        stop = self.server.stop_event
        started = time.monotonic()
        sent = 0
        for piece in body_pieces(body, length, piece_size):
            wait = started + sent / rate - time.monotonic()
            if wait > 0 and stop.wait(wait):
                return False
            self.wfile.write(piece)
            sent += len(piece)
        return True

    def close_abruptly(self):
        """Ends the connection here, without finishing (or starting) the answer."""
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def log_message(self, format, *args):  # pylint: disable=redefined-builtin
        sys.stderr.write(f"[{self.server.listener}] {self.address_string()} {format % args}\n")


class TestServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False  # idle keep-alive connections must not hold up the shutdown
    request_queue_size = 64

    def __init__(self, listener, root, stop_event, states, ssl_context=None):
        self.listener, self.root, self.stop_event = listener, root, stop_event
        self.ssl_context = ssl_context
        self._states, self._states_lock = states, threading.Lock()
        super().__init__(("127.0.0.1", 0), Handler)

    def server_bind(self):
        # HTTPServer.server_bind would look up the host's name, which can be slow here.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def record_state(self, log_path):
        with self._states_lock:
            return self._states.setdefault(log_path, RecordState())

    def finish_request(self, request, client_address):
        if self.ssl_context is None:
            super().finish_request(request, client_address)
            return
        # The handshake runs in the connection's own thread so that a slow client blocks no other.
        request.settimeout(30)
        try:
            secure = self.ssl_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            sys.stderr.write(f"[{self.listener}] handshake failed: {error}\n")
            return
        try:
            super().finish_request(secure, client_address)
        finally:
            try:
                secure.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            secure.close()

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ConnectionError, ssl.SSLError, TimeoutError)):
            sys.stderr.write(f"[{self.listener}] {client_address}: {error!r}\n")
        else:
            super().handle_error(request, client_address)


def write_atomically(path, text):
    temporary = f"{path}.tmp"
    with open(temporary, "w", encoding="ascii") as output:
        output.write(text)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--lifetime", type=float, default=3600.0,
                        help="seconds after which the server ends by itself (a run that never stopped it)")
    arguments = parser.parse_args()
    root = os.path.realpath(arguments.root)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(root, "cert.pem"), os.path.join(root, "key.pem"))
    # The certificate's SHA-256 fingerprint, for the tests that pin it.
    with open(os.path.join(root, "cert.pem"), encoding="ascii") as pem:
        der = ssl.PEM_cert_to_DER_cert(pem.read())
    with open(os.path.join(root, "cert.sha256"), "w", encoding="ascii") as fingerprint:
        fingerprint.write(hashlib.sha256(der).hexdigest())

    stop_event = threading.Event()
    states = {}
    servers = [TestServer(name, root, stop_event, states, context if name == "https" else None)
               for name in LISTENERS]
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()

    signal.signal(signal.SIGTERM, lambda *_: stop_event.set())
    signal.signal(signal.SIGINT, lambda *_: stop_event.set())
    write_atomically(os.path.join(root, "server.pid"), f"{os.getpid()}\n")
    write_atomically(os.path.join(root, "ports.txt"),
                     "".join(f"{server.listener}={server.server_port}\n" for server in servers))
    sys.stderr.write(f"listening: {', '.join(f'{s.listener}={s.server_port}' for s in servers)}\n")
    sys.stderr.flush()

    deadline = time.monotonic() + arguments.lifetime
    while not stop_event.wait(1.0):
        if time.monotonic() > deadline or not os.path.isdir(root):
            sys.stderr.write("lifetime over or root gone; stopping\n")
            stop_event.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    try:
        os.remove(os.path.join(root, "ports.txt"))
    except OSError:
        pass
    sys.stderr.write("stopped\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
