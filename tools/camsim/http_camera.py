#!/usr/bin/python3
"""The HTTP side of the simulated camera: the camera family's CGI on 127.0.0.1.

Serves the CGI requests the driver makes ("/server", "/getprofile", "/setstreaming", "/privacymask",
"/control", "/camera", "/ptzpreset", "/getalarmmotion", "/setio") with Basic and/or Digest
authentication, over HTTP and optionally HTTPS with a self-signed certificate made at start. Keeps the
state a real camera would (relays, PTZ moves, presets, focus and iris modes, stream and privacy-mask
settings, alarm state) and records every request it receives; a goto of a preset never set is answered 400. It can misbehave on demand: answer with
another status, stall before or after the head, close in the middle of the body, frame the body in
small chunks or send it slowly, answer with a body too big or empty or with bytes that are no HTTP, or drop the
connection.

Prints "READY <http-port> [<https-port>]" on stdout once it listens and ends when its stdin closes.

Control endpoints (no authentication, never logged):
  /camsim/log[?clear=1]            the request log as a JSON array (clear empties it)
  /camsim/misbehave?path=P&action=A[&...]   add a rule (see Misbehaviour); ?clear=1 removes all
  /camsim/alarm?motion=0|1&input=0|1        change the alarm state; open alarm streams push a part
  /camsim/alarmstream?boundary=trailing|leading&split=N&split_delay_ms=D&heartbeat=S&transfer=length|chunked|close
                     &spaces=0|1&silent=0|1&endless=N&end=1
                                   how alarm streams write (kept until changed; see AlarmStyle); end=1 ends
                                   every open alarm stream now
  /camsim/answer?path=/server|/getprofile&text=T   replace the answer of /server or /getprofile
  /camsim/auth?schemes=digest,basic&user=U&password=W&bad=401|403   change the authentication
  /camsim/state                    the camera's state as JSON

Runs on Debian's /usr/bin/python3 with the standard library only; HTTPS needs the openssl program.
"""

import argparse
import base64
import hashlib
import hmac
import json
import os
import re
import secrets
import select
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
from collections import deque
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

DEFAULT_SERVER = (
    "Model Name=VC-4220\r\n"
    "MAC address=00:1C:A8:12:34:56\r\n"
    "Software Version=2.4.1 build 0312\r\n"
    "SysFeature=35\r\n"  # 0x20 PTZ, 0x2 one relay, 0x1 one alarm input
    "logoEnable=15\r\n"
)

DEFAULT_PROFILE = (
    "profile_00_name=H264 1080P\r\n"
    "profile_00_fps_range=1~30\r\n"
    "profile_00_bps_range=1024,2048,3072,4096,5120,6144,7168,8192\r\n"
    "profile_00_quality_range=\r\n"
    "profile_01_name=H264 720P\r\n"
    "profile_01_fps_range=1~30\r\n"
    "profile_01_bps_range=1024,2048,3072,4096,5120\r\n"
    "profile_01_quality_range=\r\n"
    "profile_02_name=JPEG D1\r\n"
    "profile_02_fps_range=1~25\r\n"
    "profile_02_bps_range=\r\n"
    "profile_02_quality_range=20,30,40,50,60,70,80\r\n"
)

ALARM_BOUNDARY = "ipcamera"
REALM = "IP Camera"
LOG_LIMIT = 10000

# Misbehaviour shorthands and the plan fields they set; query parameters of a rule override them.
ACTIONS = {
    "status": {},
    "stall-before-headers": {"stall_before": 30.0},
    "stall-after-headers": {"stall_after": 30.0},
    "close-mid-body": {"cut": "half"},
    "chunked": {"transfer": "chunked", "chunk": 16},
    "slow": {"chunk": 16, "delay_ms": 100},
    "no-length": {"transfer": "close"},
    "big": {"size": 2 * 1024 * 1024},
    "empty": {"size": 0},
    "drop": {"drop": True},
    "garbage": {"garbage": True},
}


class Plan:
    """How one answer goes out: the normal way unless a rule says otherwise."""

    def __init__(self):
        self.action = ""
        self.status = None
        self.size = None
        self.transfer = "length"  # length, chunked or close
        self.chunk = 0  # bytes per write; 0 writes the body at once
        self.delay_ms = 0
        self.stall_before = 0.0
        self.stall_after = 0.0
        self.cut = None  # "half" or a byte count: send this much of the body, then close
        self.drop = False
        self.garbage = False  # answer with bytes that are no HTTP, then close


class Rule:
    def __init__(self, query):
        fields = {key: values[0] for key, values in parse_qs(query, keep_blank_values=True).items()}
        self.path = fields.pop("path", "*")
        self.action = fields.pop("action", "status")
        if self.action not in ACTIONS:
            raise ValueError(f"unknown action {self.action!r}")
        self.times = int(fields.pop("times", "-1"))
        self.settings = dict(ACTIONS[self.action])
        for key, value in fields.items():
            if key in ("status", "size", "chunk", "delay_ms"):
                self.settings[key] = int(value)
            elif key in ("stall_before", "stall_after", "seconds"):
                seconds = float(value)
                if key == "seconds":
                    key = "stall_before" if self.action == "stall-before-headers" else "stall_after"
                self.settings[key] = seconds
            elif key == "cut":
                self.settings[key] = value if value == "half" else int(value)
            elif key == "transfer":
                if value not in ("length", "chunked", "close"):
                    raise ValueError(f"unknown transfer {value!r}")
                self.settings[key] = value
            else:
                raise ValueError(f"unknown rule field {key!r}")
        if self.action == "status" and "status" not in self.settings:
            raise ValueError("action status needs status=N")

    def matches(self, path):
        return self.times != 0 and (self.path == "*" or self.path == path)

    def plan(self):
        plan = Plan()
        plan.action = self.action
        for key, value in self.settings.items():
            setattr(plan, key, value)
        return plan


class Authenticator:
    """Basic and Digest (RFC 2617, with or without qop=auth) for one user."""

    def __init__(self, schemes, user, password, bad_status, qop):
        self.schemes = schemes  # in the server's order of preference; empty: no authentication
        self.user = user
        self.password = password
        self.bad_status = bad_status
        self.qop = qop
        self._nonces = deque(maxlen=1000)
        self._lock = threading.Lock()

    def challenges(self):
        values = []
        for scheme in self.schemes:
            if scheme == "digest":
                nonce = secrets.token_hex(16)
                with self._lock:
                    self._nonces.append(nonce)
                qop = f', qop="{self.qop}"' if self.qop != "none" else ""
                values.append(f'Digest realm="{REALM}", nonce="{nonce}"{qop}, algorithm=MD5')
            elif scheme == "basic":
                values.append(f'Basic realm="{REALM}"')
            else:
                # Offered, as some servers offer them first, but never accepted.
                values.append(scheme.upper() if scheme == "ntlm" else scheme.capitalize())
        return values

    def check(self, method, target, header):
        """(authorized, scheme given, user given)"""
        if not self.schemes:
            return True, "", ""
        if not header:
            return False, "", ""
        scheme, _, rest = header.partition(" ")
        scheme = scheme.lower()
        if scheme == "basic":
            try:
                user, _, password = base64.b64decode(rest.strip(), validate=True).decode("utf-8").partition(":")
            except (ValueError, UnicodeDecodeError):
                return False, scheme, ""
            good = "basic" in self.schemes and user == self.user and password == self.password
            return good, scheme, user
        if scheme == "digest":
            fields = dict((m.group(1).lower(), m.group(3) if m.group(3) is not None else m.group(2))
                          for m in re.finditer(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|([^,\s]*))', rest))
            user = fields.get("username", "")
            return "digest" in self.schemes and self._digest_valid(method, target, fields), scheme, user
        return False, scheme, ""

    def _digest_valid(self, method, target, fields):
        with self._lock:
            known = fields.get("nonce") in self._nonces
        if not known or fields.get("username") != self.user or fields.get("realm") != REALM:
            return False
        if fields.get("uri") != target:
            return False

        def md5(text):
            return hashlib.md5(text.encode("utf-8")).hexdigest()

        ha1 = md5(f"{self.user}:{REALM}:{self.password}")
        ha2 = md5(f"{method}:{target}")
        if "qop" in fields:
            expected = md5(f"{ha1}:{fields['nonce']}:{fields.get('nc', '')}:{fields.get('cnonce', '')}:"
                           f"{fields['qop']}:{ha2}")
        else:
            expected = md5(f"{ha1}:{fields['nonce']}:{ha2}")
        return hmac.compare_digest(expected, fields.get("response", ""))


class AlarmStyle:
    """How the alarm stream writes its parts, steered per test through /camsim/alarmstream.

    boundary  "trailing": each part is followed at once by the next boundary (the first also has one in
              front); "leading": each part goes out behind its own boundary and the next boundary comes
              only with the next event.
    split     0 writes each event at once; N writes its first N bytes, waits split_delay_ms, then the rest.
    heartbeat seconds between repeats of the current part; None keeps --alarm-interval, 0 sends none.
    transfer  None keeps the body framing of a misbehaviour rule (chunked) or the default (unframed, closed
              at its end); "chunked" or "close" force one.
    spaces    writes "MotionDetect = 1".
    silent    writes no part at all (new streams send their head only; open ones stop writing).
    endless   N > 0: after the first part, N bytes of filler every 50 ms and never another boundary, so
              that the part never ends; 0 writes parts again.
    """

    FIELDS = ("boundary", "split", "split_delay_ms", "heartbeat", "transfer", "spaces", "silent", "endless")

    def __init__(self):
        self.boundary = "trailing"
        self.split = 0
        self.split_delay_ms = 100
        self.heartbeat = None
        self.transfer = None
        self.spaces = False
        self.silent = False
        self.endless = 0

    def update(self, query):
        for key, value in query.items():
            if key == "boundary":
                if value not in ("trailing", "leading"):
                    raise ValueError(f"unknown boundary {value!r}")
                self.boundary = value
            elif key in ("split", "split_delay_ms", "endless"):
                number = to_int(value)
                if number is None or number < 0:
                    raise ValueError(f"{key} needs a count")
                setattr(self, key, number)
            elif key == "heartbeat":
                self.heartbeat = float(value)
            elif key == "transfer":
                if value not in ("length", "chunked", "close"):
                    raise ValueError(f"unknown transfer {value!r}")
                self.transfer = None if value == "length" else value
            elif key in ("spaces", "silent"):
                setattr(self, key, value not in ("0", ""))
            elif key != "end":
                raise ValueError(f"unknown alarm stream field {key!r}")


class CameraState:
    """What the camera remembers between requests; every field is guarded by `lock`."""

    def __init__(self, relays):
        self.lock = threading.Condition()
        self.relays = {index: 0 for index in range(1, relays + 1)}
        self.motion = 0
        self.alarm_input = 0
        self.alarm_sequence = 0
        self.alarm_style = AlarmStyle()
        # Raised by /camsim/alarmstream?end=1: every alarm stream opened before ends.
        self.alarm_ends = 0
        self.ptz = {}  # camera id -> {"pan", "tilt", "zoom", "moving", "stops"}
        self.lens = {"autofocus": None, "autoiris": None, "focus": 0, "iris": 0}
        self.presets = {}  # camera id -> sorted preset numbers
        self.last_goto = None
        self.streaming = {}
        self.privacy_masks = {}

    def snapshot(self):
        with self.lock:
            return {
                "relays": {str(k): v for k, v in self.relays.items()},
                "motion": self.motion,
                "alarm_input": self.alarm_input,
                "ptz": {str(k): dict(v) for k, v in self.ptz.items()},
                "lens": dict(self.lens),
                "presets": {str(k): sorted(v) for k, v in self.presets.items()},
                "last_goto": self.last_goto,
                "streaming": dict(self.streaming),
                "privacy_masks": dict(self.privacy_masks),
            }

    def alarm_part(self):
        equals = " = " if self.alarm_style.spaces else "="
        body = f"MotionDetect{equals}{self.motion}\r\nAlarmInputDetect={self.alarm_input}\r\n"
        return f"Content-Type: text/plain\r\nContent-Length: {len(body)}\r\n\r\n{body}\r\n"

    def alarm_event(self, first):
        """The bytes of one event of the alarm stream, in the current style."""
        boundary = f"--{ALARM_BOUNDARY}\r\n"
        if self.alarm_style.boundary == "leading":
            return boundary + self.alarm_part()
        # Trailing: the next boundary follows at once, so a reader can tell the part is complete.
        return (boundary if first else "") + self.alarm_part() + boundary


def make_certificate(path, addresses):
    """A self-signed certificate for the addresses, written to path and path + ".key"."""
    openssl = shutil.which("openssl")
    if openssl is None:
        raise RuntimeError("HTTPS needs the openssl program (Debian package openssl)")
    names = ",".join([f"IP:{address}" for address in sorted(set(addresses))] + ["DNS:localhost"])
    subprocess.run([openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", "/CN=BrantelIPCapture simulated camera",
                    "-addext", f"subjectAltName={names}", "-keyout", path + ".key", "-out", path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class CameraHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "IPCamera/2.4"
    sys_version = ""
    # A client that connects and never sends does not hold a thread for ever.
    timeout = 60

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def version_string(self):
        return self.server_version

    def do_GET(self):
        self.server.camera.handle(self)

    do_POST = do_GET
    do_PUT = do_GET
    do_HEAD = do_GET


class CameraServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # The benchmark opens the camera as hundreds of devices at once: with socketserver's backlog of 5 the
    # kernel drops most of their connections' handshakes, and each one then waits seconds for a resend.
    request_queue_size = 512

    def __init__(self, address, camera, tls_context=None):
        self.camera = camera
        self.tls_context = tls_context
        super().__init__(address, CameraHandler)

    def handle_error(self, request, client_address):
        # A client that goes away mid-answer is part of the tests, not an error worth a traceback.
        if not isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError, ssl.SSLError)):
            super().handle_error(request, client_address)

    def finish_request(self, request, client_address):
        if self.tls_context is None:
            super().finish_request(request, client_address)
            return
        # The handshake runs on the connection's own thread, so a client that stalls in it holds up
        # nobody else; a plain-HTTP client fails it and is closed without an answer.
        request.settimeout(10)
        try:
            connection = self.tls_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            # Recorded, so that a test sees a client try HTTP on this port.
            entry = new_entry(client_address[1], True)
            entry["tls_failed"] = True
            entry["query"] = {}
            self.camera.record(entry)
            return
        connection.settimeout(None)
        try:
            self.RequestHandlerClass(connection, client_address, self)
        finally:
            try:
                connection.close()
            except OSError:
                pass


class HttpCamera:
    def __init__(self, options):
        self.options = options
        self.state = CameraState(options.relays)
        self.auth = Authenticator(parse_schemes(options.auth), options.user, options.password,
                                  options.bad_credentials, options.digest_qop)
        self.answers = {"/server": read_answer(options.server_file, options.server_text, DEFAULT_SERVER),
                        "/getprofile": read_answer(options.profile_file, options.profile_text, DEFAULT_PROFILE)}
        self.rules = [Rule(text) for text in options.misbehave]
        self.rules_lock = threading.Lock()
        self.log = deque(maxlen=LOG_LIMIT)
        self.log_lock = threading.Lock()
        self.log_file = open(options.log, "a", encoding="utf-8") if options.log else None
        self.servers = []
        self.certificate = None

    # -- running ---------------------------------------------------------------------------------------

    def start(self):
        """Listens; returns the HTTP port and the HTTPS port (None without HTTPS)."""
        http = CameraServer((self.options.bind, self.options.port), self)
        self.servers.append(http)
        https_port = None
        if self.options.https_port is not None:
            self.certificate = self.options.cert or os.path.join(tempfile.mkdtemp(prefix="camsim-"), "camera.pem")
            make_certificate(self.certificate, {self.options.bind, self.options.https_bind, "127.0.0.1"})
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(self.certificate, self.certificate + ".key")
            https = CameraServer((self.options.https_bind, self.options.https_port), self, context)
            self.servers.append(https)
            https_port = https.server_address[1]
        for server in self.servers:
            threading.Thread(target=server.serve_forever, daemon=True).start()
        return http.server_address[1], https_port

    def stop(self):
        for server in self.servers:
            server.shutdown()
            server.server_close()

    # -- one request ------------------------------------------------------------------------------------

    def handle(self, handler):
        target = handler.path
        parts = urlsplit(target if target.startswith("/") else "/" + target)
        path = parts.path
        query = {key: values[0] for key, values in parse_qs(parts.query, keep_blank_values=True).items()}
        if path.startswith("/camsim/"):
            self.control(handler, path, query)
            return

        authorized, scheme, user = self.auth.check(handler.command, target, handler.headers.get("Authorization"))
        entry = new_entry(handler.client_address[1], isinstance(handler.connection, ssl.SSLSocket))
        entry.update(method=handler.command, target=target, path=path, authorization=scheme, user=user,
                     authorized=authorized)
        # Last, so that a reader can take the fixed fields from the text before it.
        entry["query"] = query
        if not authorized:
            status = self.auth.bad_status if scheme else 401
            entry["status"] = status
            self.record(entry)
            challenges = self.auth.challenges() if status == 401 else []
            body = b"<html><body>401 Unauthorized</body></html>" if status == 401 else b"403 Forbidden"
            self.send(handler, status, body, "text/html", [("WWW-Authenticate", c) for c in challenges], Plan())
            return

        plan = self.take_plan(path)
        entry["misbehave"] = plan.action
        if path == "/getalarmmotion" and plan.status is None and plan.size is None and not plan.drop:
            entry["status"] = 200
            self.record(entry)
            self.serve_alarm_stream(handler, plan)
            return
        if plan.status is not None:
            # A request the camera refuses changes nothing in it.
            status = plan.status
            body = f"{status} Simulated answer\r\n".encode()
        else:
            status, body = self.answer(path, query)
        if plan.size is not None:
            line = b"filler=0123456789abcdefghijklmnopqrstuvwxyz0123456789\r\n"
            body = (line * (plan.size // len(line) + 1))[: plan.size]
        entry["status"] = status
        self.record(entry)
        self.send(handler, status, body, "text/plain", [], plan)

    def answer(self, path, query):
        """(status, body) of a CGI request."""
        ok = (200, b"OK\r\n")
        bad = (400, b"400 Bad Request\r\n")
        state = self.state
        if path in self.answers:
            with state.lock:
                return 200, self.answers[path].encode("utf-8")
        if path == "/setstreaming":
            if "profilename" not in query:
                return bad
            with state.lock:
                state.streaming = dict(query)
            return ok
        if path == "/privacymask":
            if query.get("cmd") != "set":
                return bad
            with state.lock:
                if "pmClear" in query:
                    state.privacy_masks.pop(query["pmClear"], None)
                elif "pmID" in query and "pmBlock" in query:
                    state.privacy_masks[query["pmID"]] = query["pmBlock"]
                else:
                    return bad
            return ok
        if path == "/control":
            camid = to_int(query.get("camid"))
            if camid is None or camid < 1:
                return bad
            with state.lock:
                ptz = state.ptz.setdefault(camid, {"pan": 0, "tilt": 0, "zoom": 0, "moving": False, "stops": 0})
                if query.get("stop") == "1":
                    ptz.update(pan=0, tilt=0, zoom=0, moving=False)
                    ptz["stops"] += 1
                else:
                    for key in ("pan", "tilt", "zoom"):
                        value = to_int(query.get("r" + key))
                        if value is not None:
                            ptz[key] = value
                    ptz["moving"] = any(ptz[key] != 0 for key in ("pan", "tilt", "zoom"))
            return ok
        if path == "/camera":
            with state.lock:
                lens = state.lens
                for key in ("autofocus", "autoiris", "focus", "iris"):
                    value = to_int(query.get(key))
                    if value is not None:
                        lens[key] = value
            return ok
        if path == "/ptzpreset":
            camid = to_int(query.get("camid"))
            if camid is None or camid < 1:
                return bad
            with state.lock:
                presets = state.presets.setdefault(camid, set())
                for key in ("set_preset", "goto_preset", "rem_preset"):
                    number = to_int(query.get(key))
                    if number is None:
                        continue
                    if key == "set_preset":
                        presets.add(number)
                    elif key == "rem_preset":
                        presets.discard(number)
                    elif number not in presets:
                        # As a camera does: there is no position to go to.
                        return bad
                    else:
                        state.last_goto = number
                    return ok
            return bad
        if path == "/setio":
            changes = {}
            for key, value in query.items():
                match = re.fullmatch(r"relay(\d+)", key)
                index = int(match.group(1)) if match else None
                level = to_int(value)
                if index is None or index not in state.relays or level not in (0, 1):
                    return bad
                changes[index] = level
            if not changes:
                return bad
            with state.lock:
                state.relays.update(changes)
            return 200, "".join(f"relay{k}={v}\r\n" for k, v in sorted(changes.items())).encode()
        return 404, b"<html><body>404 Not Found</body></html>"

    def take_plan(self, path):
        with self.rules_lock:
            for rule in self.rules:
                if rule.matches(path):
                    if rule.times > 0:
                        rule.times -= 1
                    return rule.plan()
        return Plan()

    def record(self, entry):
        line = json.dumps(entry)
        with self.log_lock:
            self.log.append(entry)
            if self.log_file is not None:
                self.log_file.write(line + "\n")
                self.log_file.flush()

    # -- writing answers --------------------------------------------------------------------------------

    def send(self, handler, status, body, content_type, headers, plan):
        if plan.drop:
            handler.close_connection = True
            return
        if plan.garbage:
            try:
                handler.wfile.write(b"\x00\x17not an answer\r\n\r\n")
            except OSError:
                pass
            handler.close_connection = True
            return
        if plan.stall_before:
            stall(handler, plan.stall_before)
            handler.close_connection = True
            return
        handler.send_response(status)
        handler.send_header("Content-Type", content_type)
        for name, value in headers:
            handler.send_header(name, value)
        if plan.transfer == "chunked":
            handler.send_header("Transfer-Encoding", "chunked")
        elif plan.transfer == "close":
            handler.send_header("Connection", "close")
            handler.close_connection = True
        else:
            handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        if handler.command == "HEAD":
            return
        if plan.stall_after and not stall(handler, plan.stall_after):
            handler.close_connection = True
            return
        cut = None if plan.cut is None else (len(body) // 2 if plan.cut == "half" else min(plan.cut, len(body)))
        to_send = body if cut is None else body[:cut]
        step = plan.chunk if plan.chunk > 0 else max(len(to_send), 1)
        try:
            for offset in range(0, len(to_send), step):
                if offset and plan.delay_ms:
                    time.sleep(plan.delay_ms / 1000)
                write_piece(handler, to_send[offset: offset + step], plan.transfer == "chunked")
            if cut is not None:
                handler.close_connection = True
            elif plan.transfer == "chunked":
                handler.wfile.write(b"0\r\n\r\n")
        except OSError:
            handler.close_connection = True

    def serve_alarm_stream(self, handler, plan):
        """Kept open: the current state at once, then a part at every change and every heartbeat."""
        state = self.state
        if plan.stall_before:
            stall(handler, plan.stall_before)
            handler.close_connection = True
            return
        with state.lock:
            style = state.alarm_style
            chunked = (style.transfer or plan.transfer) == "chunked"
            ends_seen = state.alarm_ends
        handler.send_response(200)
        handler.send_header("Content-Type", f"multipart/x-mixed-replace; boundary={ALARM_BOUNDARY}")
        handler.send_header("Cache-Control", "no-cache")
        if chunked:
            handler.send_header("Transfer-Encoding", "chunked")
        else:
            handler.send_header("Connection", "close")
        handler.end_headers()
        handler.close_connection = True
        if plan.stall_after and not stall(handler, plan.stall_after):
            return
        ends = time.monotonic() + self.options.alarm_stream_seconds if self.options.alarm_stream_seconds else None
        sequence = None
        last_push = time.monotonic()
        first = True
        try:
            while ends is None or time.monotonic() < ends:
                with state.lock:
                    if state.alarm_ends != ends_seen:
                        break
                    heartbeat = self.options.alarm_interval if style.heartbeat is None else style.heartbeat
                    changed = state.alarm_sequence != sequence
                    due = heartbeat > 0 and time.monotonic() - last_push >= heartbeat
                    event = None
                    if (changed or due) and not style.silent:
                        sequence = state.alarm_sequence
                        event = state.alarm_event(first).encode()
                        split, delay = style.split, style.split_delay_ms
                    filler = style.endless if not first else 0
                    if filler:
                        event = None
                if event is not None:
                    # The first event goes out at once; a split one in two writes with a pause between.
                    if 0 < split < len(event):
                        write_piece(handler, event[:split], chunked)
                        handler.wfile.flush()
                        time.sleep(delay / 1000)
                        write_piece(handler, event[split:], chunked)
                    else:
                        write_piece(handler, event, chunked)
                    handler.wfile.flush()
                    first = False
                    last_push = time.monotonic()
                if filler:
                    line = b"filler=0123456789abcdefghijklmnopqrstuvwxyz\r\n"
                    write_piece(handler, (line * (filler // len(line) + 1))[:filler], chunked)
                    handler.wfile.flush()
                readable, _, _ = select.select([handler.connection], [], [], 0.05)
                if readable and not client_still_there(handler):
                    return
            if chunked:
                handler.wfile.write(b"0\r\n\r\n")
        except (OSError, ValueError):
            return

    # -- control ----------------------------------------------------------------------------------------

    def control(self, handler, path, query):
        try:
            status, body, content_type = self.control_answer(handler, path, query)
        except ValueError as error:
            status, body, content_type = 400, f"{error}\r\n", "text/plain"
        self.send(handler, status, body.encode("utf-8"), content_type, [], Plan())

    def control_answer(self, handler, path, query):
        """(status, body text, content type) of a control endpoint; ValueError for a bad request."""
        status, body, content_type = 200, "OK\r\n", "text/plain"
        if path == "/camsim/log":
            with self.log_lock:
                if query.get("clear") == "1":
                    self.log.clear()
                body, content_type = json.dumps(list(self.log), sort_keys=True), "application/json"
        elif path == "/camsim/misbehave":
            with self.rules_lock:
                if query.get("clear") == "1":
                    self.rules.clear()
                else:
                    self.rules.append(Rule(handler.path.partition("?")[2]))
        elif path == "/camsim/alarm":
            with self.state.lock:
                if "motion" in query:
                    self.state.motion = 1 if query["motion"] not in ("0", "") else 0
                if "input" in query:
                    self.state.alarm_input = 1 if query["input"] not in ("0", "") else 0
                self.state.alarm_sequence += 1
        elif path == "/camsim/alarmstream":
            with self.state.lock:
                self.state.alarm_style.update(query)
                if query.get("end") not in (None, "0", ""):
                    self.state.alarm_ends += 1
        elif path == "/camsim/answer":
            if query.get("path") not in self.answers or "text" not in query:
                raise ValueError("path must be /server or /getprofile, with text")
            with self.state.lock:
                self.answers[query["path"]] = query["text"]
        elif path == "/camsim/auth":
            self.auth = Authenticator(parse_schemes(query.get("schemes", "none")),
                                      query.get("user", self.auth.user), query.get("password", self.auth.password),
                                      int(query.get("bad", self.auth.bad_status)),
                                      query.get("qop", self.auth.qop))
        elif path == "/camsim/state":
            body, content_type = json.dumps(self.state_snapshot(), sort_keys=True), "application/json"
        else:
            status, body = 404, "unknown control endpoint\r\n"
        return status, body, content_type

    def state_snapshot(self):
        """What /camsim/state reports."""
        return self.state.snapshot()


def new_entry(client_port, tls):
    return {"time": round(time.time(), 3), "method": "", "target": "", "path": "", "authorization": "", "user": "",
            "authorized": False, "tls": tls, "client_port": client_port, "status": 0, "misbehave": "",
            "tls_failed": False}


def write_piece(handler, data, chunked):
    if chunked:
        handler.wfile.write(f"{len(data):x}\r\n".encode() + data + b"\r\n")
    else:
        handler.wfile.write(data)


def client_still_there(handler):
    """False once the client has closed its side (it sends nothing else while it waits for us)."""
    connection = handler.connection
    try:
        connection.settimeout(0.05)
        data = connection.recv(1)
        return bool(data)
    except (socket.timeout, ssl.SSLWantReadError):
        return True
    except (OSError, ValueError):
        return False
    finally:
        try:
            connection.settimeout(None)
        except OSError:
            pass


def stall(handler, seconds):
    """Waits, answering nothing, until the time passes (True) or the client goes away (False)."""
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return True
        readable, _, _ = select.select([handler.connection], [], [], min(left, 0.2))
        if readable and not client_still_there(handler):
            return False


def to_int(text):
    if text is None or not re.fullmatch(r"[+-]?\d+", text):
        return None
    return int(text)


def parse_schemes(text):
    schemes = [s.strip().lower() for s in text.split(",") if s.strip()]
    if schemes == ["none"]:
        return []
    if schemes == ["both"]:
        return ["digest", "basic"]
    for scheme in schemes:
        if scheme not in ("basic", "digest", "ntlm", "negotiate"):
            raise ValueError(f"unknown authentication scheme {scheme!r}")
    return schemes


def read_answer(path, text, default):
    if path:
        with open(path, encoding="utf-8", newline="") as answer:
            return answer.read()
    return text if text is not None else default


def make_parser(description=__doc__.splitlines()[0]):
    """The command-line options of the HTTP side; camsim.py adds its own to them."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--bind", default="127.0.0.1", help="address of the HTTP port")
    parser.add_argument("--port", type=int, default=0, help="HTTP port; 0 picks a free one")
    parser.add_argument("--https-port", type=int, default=None, help="serve HTTPS too; 0 picks a free port")
    parser.add_argument("--https-bind", default="127.0.0.1", help="address of the HTTPS port (e.g. 127.0.0.2)")
    parser.add_argument("--cert", default=None, help="where to write the self-signed certificate (PEM; key in .key)")
    parser.add_argument("--auth", default="none",
                        help="none, or the schemes in the server's order of preference: basic, digest, digest,basic "
                             "(both is digest,basic); ntlm and negotiate are offered but never accepted")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--bad-credentials", type=int, choices=[401, 403], default=401,
                        help="the answer to wrong credentials")
    parser.add_argument("--digest-qop", choices=["auth", "none"], default="auth",
                        help="offer qop=auth in Digest challenges, or the RFC 2069 form")
    parser.add_argument("--server-file", help="answer of /server from a file")
    parser.add_argument("--server-text", help="answer of /server")
    parser.add_argument("--profile-file", help="answer of /getprofile from a file")
    parser.add_argument("--profile-text", help="answer of /getprofile")
    parser.add_argument("--relays", type=int, default=1, help="number of relay outputs")
    parser.add_argument("--alarm-interval", type=float, default=5.0,
                        help="seconds between repeated parts of the alarm stream; 0 pushes only changes")
    parser.add_argument("--alarm-stream-seconds", type=float, default=0,
                        help="end each alarm stream after this long; 0 keeps it open")
    parser.add_argument("--misbehave", action="append", default=[],
                        help="a rule as for /camsim/misbehave, e.g. 'path=/server&action=status&status=500'")
    parser.add_argument("--log", help="append every request as a JSON line to this file")
    parser.add_argument("--no-stdin-watch", action="store_true", help="keep running when stdin closes")
    return parser


def parse_args(argv=None):
    return make_parser().parse_args(argv)


# What starting the camera may fail with; main prints "FAILED <reason>" for them.
START_ERRORS = (OSError, ValueError, RuntimeError, subprocess.CalledProcessError)


def ready_line(http_port, https_port):
    return f"READY {http_port}" + (f" {https_port}" if https_port is not None else "")


def main(argv=None):
    options = parse_args(argv)
    try:
        camera = HttpCamera(options)
        http_port, https_port = camera.start()
    except START_ERRORS as error:
        print(f"FAILED {error}", flush=True)
        return 1
    print(ready_line(http_port, https_port), flush=True)
    if options.no_stdin_watch:
        threading.Event().wait()
    # The test that started us goes away: so do we.
    while sys.stdin.buffer.read(4096):
        pass
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
