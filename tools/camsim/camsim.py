#!/usr/bin/python3
"""The simulated camera in one process: its HTTP CGI and its RTSP streams on 127.0.0.1.

The HTTP side is http_camera.py's (every option, endpoint and misbehaviour of it works here too).
The RTSP side is Debian's GStreamer RTSP server (rtsp_server.py), and it follows the HTTP side:

- It serves one stream per profile that the "/getprofile" answer announces, at "/rtsph264<res>" or
  "/rtspjpeg<res>": the codec word of the profile name (H264 or H.264; JPEG or MJPEG) then the rest
  of the name lower-cased without spaces, so "H264 1080P" is served at /rtsph2641080p and
  "JPEG D1" at /rtspjpegd1. Other codecs (MPEG-4) are announced but not served. The picture size
  comes from rtsp_server.RESOLUTIONS ("d1" is 720x480), or from a name of the form <w>x<h>; any other
  name is served at 640x480. When the answer is replaced with /camsim/answer, the mounts follow.
- It asks for the same credentials under the same schemes as the HTTP side ("--auth none|basic|
  digest|digest,basic|both"), also after /camsim/auth. A 403 for bad credentials stays HTTP's own.
- "/setstreaming?profilename=H2641080P&vbrcbr=0&bitrate=4096&Iframeperiod=25&outrate=25" and
  "/setstreaming?profilename=JPEGD1&outrate=10&quality=50" change the stream that the NEXT DESCRIBE of
  that path gets; clients already playing keep theirs. The HTTP answer is http_camera.py's. As a
  camera does, it clamps values into the profile's announced ranges (fps_range, bps_range,
  quality_range; without a range 1 to 30 fps, 64 to 20480 kbit/s, quality 1 to 100, key-frame period
  1 to 1000 frames) and keeps the previous value of a field that is missing, not a number, or 0 or
  less (so "outrate=0" keeps the frame rate). A profile name the camera does not announce changes
  nothing. vbrcbr is recorded only: the encoder always runs at a constant bit rate. Bit rates are
  kbit/s. Until changed, a stream runs at --fps, --bitrate and --quality clamped to its profile's
  ranges, with one key frame per second.
- "--session-timeout SECONDS" announces that session time-out and ends a session whose client sent
  neither a request nor an RTCP report for that long (its media stops; the connection stays open).

Startup prints "RTSP <rtsp-port>" and then "READY <http-port> [<https-port>]" (without --no-rtsp;
with it only the READY line), or "FAILED <reason>". It ends when its stdin closes (a stdin that is
/dev/null, as a shell gives a background job, is not watched), and on SIGINT or SIGTERM.

Control endpoints, besides http_camera.py's (no authentication, never logged):
  /camsim/rtsp[?action=stop|start]  answers "running=0|1" and "port=N" lines. stop: the RTSP side goes
                                    away mid-stream (every connection and session closed, media
                                    stopped, so UDP stops too; the port refuses connections).
                                    start: listens again on the same port.
  /camsim/rtsp?path=/rtsph264cif    the settings applied to the next stream of that path, as
                                    "name=value" lines (profile, codec, resolution, width, height,
                                    fps, bitrate, key_frame_period, quality, vbrcbr; version: streams
                                    set up there so far; describes: DESCRIBEs let through; media:
                                    pipelines built, one per stream that clients shared)
  /camsim/state                     gains "rtsp": port, running, auth, streams (as above, per path),
                                    the last /setstreaming and what became of it, session counts

With "--replay FILE" the RTSP side is brantel-replay-server playing a recorded RTP stream (made by
scripts/make_replay_stream.sh) on every H.264 path, cheap enough for dozens of 1080p sessions; see
replay_streams.py for what changes ("--replay-server PATH" names the program, by default the newest build).

Runs with Debian's /usr/bin/python3, which has the GStreamer bindings.
"""

import os
import re
import signal
import stat
import sys
import threading

# The camera is run from the source tree; it leaves no compiled files there.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import http_camera  # noqa: E402

FALLBACK_SIZE = (640, 480)
# (lowest, highest) when the profile announces no range.
FPS_LIMITS = (1, 30)
BITRATE_LIMITS = (64, 20480)
QUALITY_LIMITS = (1, 100)
KEY_FRAME_PERIOD_LIMITS = (1, 1000)
# Codec words of profile names, longest first so that "mjpeg" is not read as "jpeg" plus an "m".
CODEC_WORDS = (("h.264", "h264"), ("h264", "h264"), ("mjpeg", "jpeg"), ("jpeg", "jpeg"))
PROFILE_LIMIT = 100


def lookup(body, key):
    """The value of the first "key=value" line whose key, without surrounding spaces, is key."""
    for line in re.split(r"\r?\n", body):
        name, equals, value = line.partition("=")
        if equals and name.strip() == key:
            return value
    return ""


def numbers(text, separator):
    values = [http_camera.to_int(part.strip()) for part in text.split(separator) if part.strip()]
    return [value for value in values if value is not None]


def compact(text):
    return re.sub(r"\s+", "", text).lower()


class Profile:
    """One stream profile the camera announces, and where and how big it is served."""

    def __init__(self, name, fps_range, bitrates, qualities, resolutions):
        self.name = name
        plain = compact(name)
        self.codec = None
        self.resolution = ""
        for word, codec in CODEC_WORDS:
            if plain.startswith(word):
                self.codec, self.resolution = codec, plain[len(word):]
                break
        self.path = f"/rtsp{self.codec}{self.resolution}" if self.codec else None
        # The names /setstreaming may give: the codec word the driver writes, then the resolution.
        self.keys = {f"{self.codec}{self.resolution}".upper(), plain.replace(".", "").upper()}
        size = re.fullmatch(r"(\d{1,4})x(\d{1,4})", self.resolution)
        if self.resolution in resolutions:
            self.size = resolutions[self.resolution]
        elif size and int(size.group(1)) >= 16 and int(size.group(2)) >= 16:
            self.size = (int(size.group(1)) // 2 * 2, int(size.group(2)) // 2 * 2)
        else:
            self.size = FALLBACK_SIZE
        self.fps_limits = fps_range if fps_range else FPS_LIMITS
        self.bitrate_limits = (min(bitrates), max(bitrates)) if bitrates else BITRATE_LIMITS
        self.quality_limits = (min(qualities), max(qualities)) if qualities else QUALITY_LIMITS


def parse_profiles(body, resolutions):
    """The profiles of a /getprofile answer, read as the driver reads them: profile_00_ onwards until a
    name is missing."""
    profiles = []
    for index in range(PROFILE_LIMIT):
        prefix = f"profile_0{index}_"
        name = lookup(body, prefix + "name")
        if not name:
            break
        fps = numbers(lookup(body, prefix + "fps_range"), "~")
        fps_range = (fps[0], fps[1]) if len(fps) == 2 and 1 <= fps[0] <= fps[1] else None
        bitrates = [value for value in numbers(lookup(body, prefix + "bps_range"), ",") if value > 0]
        qualities = [value for value in numbers(lookup(body, prefix + "quality_range"), ",") if 0 < value <= 100]
        profiles.append(Profile(name, fps_range, bitrates, qualities, resolutions))
    return profiles


def clamp(value, limits):
    return max(limits[0], min(limits[1], value))


class Stream:
    """What one path serves: its profile and the settings of its next stream."""

    def __init__(self, profile, settings, version):
        self.profile = profile
        self.settings = settings
        self.version = version

    def report(self, statistics):
        width, height = self.profile.size
        path = self.profile.path
        return {"profile": self.profile.name, "codec": self.profile.codec, "resolution": self.profile.resolution,
                "width": width, "height": height, **self.settings, "version": self.version,
                "describes": statistics["describes"].get(path, 0), "media": statistics["media"].get(path, 0)}


class CameraStreams:
    """The RTSP side, kept in step with the HTTP side's profiles, authentication and /setstreaming.

    The table of streams is guarded by `lock`, which is held across the hand-over to the GLib loop so
    that two HTTP requests apply their changes in order; the loop itself never takes it.
    """

    def __init__(self, options, rtsp_server):
        self.options = options
        self.rtsp_server = rtsp_server
        self.caller = rtsp_server.LoopCaller()
        self.lock = threading.Lock()
        self.streams = {}
        self.service = None
        self.last_setstreaming = None

    # -- starting and stopping --------------------------------------------------------------------

    def start(self, profile_text, auth):
        def build():
            self.service = self.rtsp_server.RtspService(self.options.bind, self.options.rtsp_port,
                                                        self.options.session_timeout)
            return self.service.start()

        self.caller.run_in_thread()
        with self.lock:
            port = self.caller.call(build)
        self.follow_auth(auth)
        self.follow_profiles(profile_text)
        return port

    def control(self, action):
        with self.lock:
            if action == "stop":
                self.caller.call(self.service.stop)
            elif action == "start":
                self.caller.call(self.service.start)
            elif action:
                raise ValueError("action must be stop or start")
            return self.caller.call(lambda: (self.service.running, self.service.port))

    # -- following the HTTP side ------------------------------------------------------------------

    def follow_auth(self, auth):
        schemes = set(auth.schemes)
        mode = "both" if schemes == {"basic", "digest"} else (auth.schemes[0] if auth.schemes else "none")
        with self.lock:
            self.caller.call(self.service.set_auth, mode, auth.user, auth.password)

    def follow_profiles(self, profile_text):
        """Mounts the announced profiles; a path that stays keeps its settings (clamped anew)."""
        profiles = parse_profiles(profile_text, self.rtsp_server.RESOLUTIONS)
        with self.lock:
            wanted = {}
            for profile in profiles:
                if profile.path is None or profile.path in wanted:
                    continue
                old = self.streams.get(profile.path)
                settings = self.clamped(profile, old.settings if old else self.defaults(profile))
                version = old.version if old else 0
                if old is None or old.profile.size != profile.size or old.settings != settings:
                    version += 1
                wanted[profile.path] = Stream(profile, settings, version)
            gone = [path for path in self.streams if path not in wanted]
            changed = [stream for path, stream in wanted.items()
                       if path not in self.streams or stream.version != self.streams[path].version]

            def remount():
                for path in gone:
                    self.service.unmount(path)
                for stream in changed:
                    self.service.mount(stream.profile.path, self.launch(stream))

            self.caller.call(remount)
            self.streams = wanted

    def apply_setstreaming(self, query):
        """Changes the next stream of the named profile; records what it did in last_setstreaming."""
        name = query.get("profilename", "")
        key = compact(name).replace(".", "").upper()
        outcome = {"query": dict(query), "applied": False, "path": None, "remounted": False}
        with self.lock:
            stream = next((s for s in self.streams.values() if key in s.profile.keys), None)
            if stream is None:
                outcome["reason"] = f"no profile named {name!r}"
                self.last_setstreaming = outcome
                return
            profile = stream.profile
            asked = dict(stream.settings)
            fields = {"outrate": "fps"}
            if profile.codec == "h264":
                fields.update(bitrate="bitrate", Iframeperiod="key_frame_period")
                if http_camera.to_int(query.get("vbrcbr")) in (0, 1):
                    asked["vbrcbr"] = int(query["vbrcbr"])
            else:
                fields.update(quality="quality")
            for parameter, setting in fields.items():
                value = http_camera.to_int(query.get(parameter))
                if value is not None and value > 0:
                    asked[setting] = value
            settings = self.clamped(profile, asked)
            outcome.update(applied=True, path=profile.path, settings=dict(settings),
                           clamped=sorted(k for k in settings if settings[k] != asked[k]))
            if settings != stream.settings:
                replacement = Stream(profile, settings, stream.version + 1)
                self.caller.call(self.service.mount, profile.path, self.launch(replacement))
                self.streams[profile.path] = replacement
                outcome["remounted"] = True
            self.last_setstreaming = outcome

    # -- reports ----------------------------------------------------------------------------------

    def snapshot(self):
        with self.lock:
            statistics = self.caller.call(self.service.statistics)
            running, port = self.caller.call(lambda: (self.service.running, self.service.port))
            return {"port": port, "running": running, "auth": self.service.auth_mode,
                    "streams": {path: stream.report(statistics) for path, stream in self.streams.items()},
                    "last_setstreaming": self.last_setstreaming,
                    "sessions_open": statistics["sessions_open"],
                    "sessions_created": statistics["sessions_created"]}

    def stream_report(self, path):
        with self.lock:
            stream = self.streams.get(path if path.startswith("/") else "/" + path)
            if stream is None:
                return None
            return stream.report(self.caller.call(self.service.statistics))

    # -- settings ---------------------------------------------------------------------------------

    def defaults(self, profile):
        settings = {"fps": self.options.fps}
        if profile.codec == "h264":
            settings.update(bitrate=self.options.bitrate, key_frame_period=None, vbrcbr=0)
        else:
            settings.update(quality=self.options.quality)
        return settings

    @staticmethod
    def clamped(profile, settings):
        result = dict(settings)
        result["fps"] = clamp(result["fps"], profile.fps_limits)
        if profile.codec == "h264":
            result["bitrate"] = clamp(result["bitrate"], profile.bitrate_limits)
            # One key frame per second until /setstreaming names a period.
            period = result["key_frame_period"] or result["fps"]
            result["key_frame_period"] = clamp(period, KEY_FRAME_PERIOD_LIMITS)
        else:
            result["quality"] = clamp(result["quality"], profile.quality_limits)
        return result

    def launch(self, stream):
        width, height = stream.profile.size
        settings = stream.settings
        if stream.profile.codec == "h264":
            return self.rtsp_server.h264_launch(width, height, settings["fps"], settings["bitrate"],
                                                not self.options.no_in_band_parameter_sets,
                                                self.options.key_frame_period or settings["key_frame_period"])
        return self.rtsp_server.jpeg_launch(width, height, settings["fps"], settings["quality"])


class SimulatedCamera(http_camera.HttpCamera):
    """The HTTP camera with an RTSP side that follows it (None with --no-rtsp)."""

    def __init__(self, options, streams):
        super().__init__(options)
        self.streams = streams

    def start_rtsp(self):
        with self.state.lock:
            profile_text = self.answers["/getprofile"]
        return self.streams.start(profile_text, self.auth)

    def answer(self, path, query):
        status, body = super().answer(path, query)
        if path == "/setstreaming" and status == 200 and self.streams is not None:
            try:
                self.streams.apply_setstreaming(query)
            except TimeoutError as error:
                # The camera's answer does not depend on its encoder; the test reading stderr sees why.
                print(f"camsim: /setstreaming not applied: {error}", file=sys.stderr, flush=True)
        return status, body

    def control_answer(self, handler, path, query):
        try:
            if path == "/camsim/rtsp":
                return self.rtsp_control(query)
            status, body, content_type = super().control_answer(handler, path, query)
            if status == 200 and self.streams is not None:
                if path == "/camsim/answer" and query.get("path") == "/getprofile":
                    self.streams.follow_profiles(query["text"])
                elif path == "/camsim/auth":
                    self.streams.follow_auth(self.auth)
            return status, body, content_type
        except TimeoutError as error:
            return 503, f"{error}\r\n", "text/plain"

    def rtsp_control(self, query):
        if self.streams is None:
            return 409, "the RTSP side is off (--no-rtsp)\r\n", "text/plain"
        if "path" in query:
            report = self.streams.stream_report(query["path"])
            if report is None:
                return 404, f"no stream at {query['path']}\r\n", "text/plain"
            fields = {"path": query["path"], **report}
        else:
            try:
                running, port = self.streams.control(query.get("action", ""))
            except OSError as error:
                return 503, f"{error}\r\n", "text/plain"
            fields = {"running": int(running), "port": port}
            if hasattr(self.streams, "control_fields"):
                fields.update(self.streams.control_fields())
        return 200, "".join(f"{k}={'' if v is None else v}\r\n" for k, v in fields.items()), "text/plain"

    def state_snapshot(self):
        snapshot = super().state_snapshot()
        snapshot["rtsp"] = self.streams.snapshot() if self.streams is not None else None
        return snapshot


def parse_args(argv=None):
    parser = http_camera.make_parser(__doc__.splitlines()[0])
    parser.add_argument("--rtsp-port", type=int, default=0, help="RTSP port; 0 picks a free one")
    parser.add_argument("--no-rtsp", action="store_true", help="the HTTP side only")
    parser.add_argument("--fps", type=int, default=25, help="frame rate until /setstreaming changes it")
    parser.add_argument("--bitrate", type=int, default=512, help="H.264 kbit/s until /setstreaming changes it")
    parser.add_argument("--quality", type=int, default=70, help="JPEG quality until /setstreaming changes it")
    parser.add_argument("--no-in-band-parameter-sets", action="store_true",
                        help="H.264 SPS/PPS only in the SDP, not in front of key frames")
    parser.add_argument("--key-frame-period", type=int, default=0,
                        help="frames between H.264 key frames whatever /setstreaming asks; 0: as asked")
    parser.add_argument("--session-timeout", type=int, default=0,
                        help="seconds an RTSP session lives without a request or an RTCP report from its client, "
                             "announced in the Session header and enforced; 0: GStreamer's 60, not enforced")
    parser.add_argument("--replay", metavar="FILE",
                        help="serve this recorded RTP stream (scripts/make_replay_stream.sh) on every H.264 path")
    parser.add_argument("--replay-server", metavar="PATH", help="the brantel-replay-server program to run")
    parser.add_argument("--replay-stagger-ms", type=int, default=1000, metavar="MS",
                        help="each replay session starts up to this much after its PLAY (random), so that sessions "
                             "started together do not send their key frames together; 0 starts at once")
    return parser.parse_args(argv)


def stdin_is_null():
    try:
        here, null = os.fstat(sys.stdin.fileno()), os.stat(os.devnull)
    except (OSError, ValueError):
        return True
    return stat.S_ISCHR(here.st_mode) and here.st_rdev == null.st_rdev


def wait_for_end(options):
    """Returns when stdin closes (unless it is not watched) or a SIGINT or SIGTERM comes."""
    ended = threading.Event()
    signalled = []

    def on_signal(number, _frame):
        # Only a flag: a handler that took the event's lock could meet it held by this very thread.
        signalled.append(number)

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    if not options.no_stdin_watch and not stdin_is_null():
        def watch():
            try:
                while sys.stdin.buffer.read1(4096):
                    pass
            except (OSError, ValueError):
                pass
            ended.set()

        threading.Thread(target=watch, name="stdin-watch", daemon=True).start()
    while not signalled and not ended.wait(0.2):
        pass


def main(argv=None):
    options = parse_args(argv)
    streams = None
    try:
        if options.replay and not options.no_rtsp:
            import replay_streams  # no GStreamer in this process

            streams = replay_streams.ReplayStreams(options)
        elif not options.no_rtsp:
            import rtsp_server  # GStreamer is needed only here
            rtsp_server.Gst.init(None)
            streams = CameraStreams(options, rtsp_server)
        camera = SimulatedCamera(options, streams)
        rtsp_port = camera.start_rtsp() if streams is not None else None
        http_port, https_port = camera.start()
    except Exception as error:  # noqa: BLE001 - whatever stops the start is the one line the caller reads
        print(f"FAILED {error}", flush=True)
        return 1
    if rtsp_port is not None:
        print(f"RTSP {rtsp_port}", flush=True)
    print(http_camera.ready_line(http_port, https_port), flush=True)
    wait_for_end(options)
    if hasattr(streams, "close"):
        # What the replay source cost, for a benchmark to account for.
        stats = streams.close()
        if stats:
            print(stats, flush=True)
    # Without waiting for GStreamer's or the HTTP threads' goodbyes: the sockets close with the process.
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
