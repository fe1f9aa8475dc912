#!/usr/bin/python3
"""The RTSP side of the simulated camera: Debian's GStreamer RTSP server on 127.0.0.1.

Serves live test pictures as H.264 and JPEG under the camera family's stream paths
(/rtsph264<resolution>, /rtspjpeg<resolution>), over UDP and interleaved TCP, without
authentication or with Basic or Digest. Prints "READY <port>" on stdout once it listens,
then runs until it is killed or its stdin closes.

Run on its own it mounts every resolution of RESOLUTIONS for both codecs. camsim.py imports
RtspService from here and mounts what the camera's profiles announce instead.

Runs with Debian's /usr/bin/python3, which has the GStreamer bindings (python3-gi and
gir1.2-gst-rtsp-server-1.0).
"""

import argparse
import ctypes
import sys
import threading

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

# Picture sizes of the resolution names this camera family uses in its profile names. "d1" and
# "cif" are the NTSC sizes 720x480 and 352x240, the sizes the driver's own resolution table gives
# those names, so a host sees the size it was told at device search; the PAL 704x576 is "4cif".
RESOLUTIONS = {
    "qcif": (176, 144),
    "qvga": (320, 240),
    "cif": (352, 240),
    "vga": (640, 480),
    "d1": (720, 480),
    "480p": (720, 480),
    "4cif": (704, 576),
    "960h": (960, 480),
    "720p": (1280, 720),
    "sxga": (1280, 1024),
    "1080p": (1920, 1080),
    "3m": (2048, 1536),
    "5m": (2592, 1944),
}

REALM = "IP Camera"

# The test picture is not a live source: the server's sinks pace it to the clock all the same, and
# unlike a live source it prerolls when paused, so a PLAY that resumes a paused session (with
# "Range: npt=0.000-", as cameras accept it) is answered instead of failing with 503 after 20 s.
TEST_SOURCE = "videotestsrc is-live=false pattern=ball"


def h264_launch(width, height, fps, bitrate_kbit, in_band_parameter_sets, key_frame_period=None):
    config_interval = 1 if in_band_parameter_sets else 0
    # x264 writes the sets in front of every key frame unless told not to repeat them; then they
    # reach the payloader only in the avc caps, and so only the session description.
    stream_format = "byte-stream" if in_band_parameter_sets else "avc"
    repeat_headers = "" if in_band_parameter_sets else " option-string=repeat-headers=0"
    key_int = key_frame_period if key_frame_period else fps
    return (
        f"( {TEST_SOURCE} ! video/x-raw,width={width},height={height},framerate={fps}/1 "
        f"! x264enc tune=zerolatency speed-preset=ultrafast bitrate={bitrate_kbit} key-int-max={key_int}{repeat_headers} "
        f"! video/x-h264,profile=baseline,stream-format={stream_format} "
        f"! rtph264pay name=pay0 pt=96 config-interval={config_interval} )"
    )


def jpeg_launch(width, height, fps, quality):
    # jpegenc needs planar 4:2:0 input, or the payloader refuses the components.
    return (
        f"( {TEST_SOURCE} ! video/x-raw,width={width},height={height},framerate={fps}/1 "
        f"! videoconvert ! video/x-raw,format=I420 ! jpegenc quality={quality} "
        f"! rtpjpegpay name=pay0 pt=26 )"
    )


def make_factory(launch, auth_enabled):
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    factory.set_shared(True)
    factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP | GstRtsp.RTSPLowerTrans.TCP)
    if auth_enabled:
        factory.add_role_from_structure(
            Gst.Structure.from_string("user, media.factory.access=(boolean)true, "
                                      "media.factory.construct=(boolean)true")[0])
    return factory


def make_auth(mode, user, password):
    """None for "none"; otherwise an RTSPAuth that knows the one user under the given schemes."""
    if mode == "none":
        return None
    auth = GstRtspServer.RTSPAuth()
    if hasattr(auth, "set_realm"):
        # The HTTP side's realm: a client that keeps one set of credentials per realm keeps one here.
        auth.set_realm(REALM)
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", "user")
    if mode == "basic":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
    elif mode == "digest":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
    elif mode == "both":
        set_supported_methods_raw(auth, int(GstRtsp.RTSPAuthMethod.BASIC) | int(GstRtsp.RTSPAuthMethod.DIGEST))
    else:
        raise ValueError(f"unknown RTSP authentication {mode!r}")
    if mode in ("basic", "both"):
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
    if mode in ("digest", "both"):
        auth.add_digest(user, password, token)
    return auth


def set_supported_methods_raw(auth, methods):
    """gst_rtsp_auth_set_supported_methods with a set of methods.

    The bindings take the method set for an enum and refuse the two bits together, so the C function
    is called directly on the object's pointer.
    """
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    library = ctypes.CDLL("libgstrtspserver-1.0.so.0")
    library.gst_rtsp_auth_set_supported_methods.argtypes = [ctypes.c_void_p, ctypes.c_int]
    library.gst_rtsp_auth_set_supported_methods.restype = None
    library.gst_rtsp_auth_set_supported_methods(get_pointer(auth.__gpointer__, None), methods)


class LoopCaller:
    """Runs functions on the thread of the GLib main loop, where every GStreamer object here lives.

    The RTSP server's clients, mounts and sources are handled by that loop; calling into them from
    another thread (the HTTP side's) races with it, so such calls are queued to it and waited for.
    """

    def __init__(self, timeout=10.0):
        self.loop = GLib.MainLoop()
        self.thread = None
        self.timeout = timeout

    def run_in_thread(self):
        self.thread = threading.Thread(target=self.loop.run, name="glib-main-loop", daemon=True)
        self.thread.start()

    def call(self, function, *args):
        if self.thread is None or threading.current_thread() is self.thread:
            return function(*args)
        done = threading.Event()
        outcome = {}

        def run():
            try:
                outcome["value"] = function(*args)
            except Exception as error:  # noqa: BLE001 - handed to the waiting caller
                outcome["error"] = error
            finally:
                done.set()
            return GLib.SOURCE_REMOVE

        # At the priority of the server's own I/O, so that busy clients cannot starve it.
        GLib.idle_add(run, priority=GLib.PRIORITY_DEFAULT)
        if not done.wait(self.timeout):
            raise TimeoutError("the GLib main loop did not answer in time")
        if "error" in outcome:
            raise outcome["error"]
        return outcome.get("value")


class RtspService:
    """One GStreamer RTSP server whose mounts, authentication and listening change while it runs.

    Every method must run on the GLib main loop's thread (see LoopCaller). Factories are shared: the
    clients of one path watch one encoder. Replacing the factory at a path leaves the clients that
    already play with their media; the next DESCRIBE gets the new one.
    """

    def __init__(self, address="127.0.0.1", port=0, session_timeout=0):
        """session_timeout: the seconds a session lives without a request or an RTCP report from its client,
        announced in the Session header and enforced; 0 keeps GStreamer's 60 s, announced but not enforced."""
        self.server = GstRtspServer.RTSPServer()
        self.server.set_address(address)
        self.server.set_service(str(port))
        self.mounts = self.server.get_mount_points()
        self.source_id = 0
        self.port = None
        self.auth_mode = "none"
        self.stats_lock = threading.Lock()
        self.describes = {}  # path -> DESCRIBE requests that passed the authentication
        self.media = {}  # path -> media built (one per stream served, shared ones counted once)
        self.sessions_created = 0
        self.session_timeout = session_timeout
        self.activity_lock = threading.Lock()
        self.session_activity = {}  # session id -> monotonic time of its creation or its last request
        self.media_rtcp = {}  # hash of a media -> monotonic time of the last RTCP packet it received
        self.server.connect("client-connected", self._client_connected)
        if session_timeout > 0:
            # GStreamer's pool never sweeps itself, and it keeps every interleaved session alive for as
            # long as its connection is open: the time-out is enforced here instead.
            GLib.timeout_add(250, self._end_silent_sessions)

    # -- listening --------------------------------------------------------------------------------

    def start(self):
        """Listens (again on the same port after a stop); returns the port."""
        if self.source_id:
            return self.port
        if self.port is not None:
            self.server.set_service(str(self.port))
        source_id = self.server.attach(None)
        if source_id == 0:
            raise OSError(f"cannot listen on RTSP port {self.server.get_service()}")
        self.source_id = source_id
        self.port = self.server.get_bound_port()
        return self.port

    def stop(self):
        """The server goes away as a camera that is switched off: the port stops listening, every
        connection is closed and every session ends, so its media stops sending UDP as well."""
        if self.source_id:
            # Destroying the listening source releases the server's only hold on the socket.
            GLib.source_remove(self.source_id)
            self.source_id = 0
        # Sessions outlive their connections until they time out, and a client could take one up again
        # after the start; a camera switched off forgets them. Releasing a session's media stops its
        # pipeline once no other session uses it.
        def end_session(_pool, session, *_):
            session.filter(lambda *_args: GstRtspServer.RTSPFilterResult.REMOVE)
            return GstRtspServer.RTSPFilterResult.REMOVE

        self.server.get_session_pool().filter(end_session)
        self.server.client_filter(lambda *_args: GstRtspServer.RTSPFilterResult.REMOVE)

    @property
    def running(self):
        return self.source_id != 0

    # -- what is served ---------------------------------------------------------------------------

    def set_auth(self, mode, user, password):
        auth = make_auth(mode, user, password)
        self.server.set_auth(auth)
        self.auth_mode = mode

    def mount(self, path, launch):
        """Serves launch at path from the next DESCRIBE on."""
        # The role is always granted: without an RTSPAuth it is not looked at, and the authentication
        # can be switched on later without remounting.
        factory = make_factory(launch, True)
        factory.connect("media-configure", self._media_configure, path)
        self.mounts.remove_factory(path)
        self.mounts.add_factory(path, factory)

    def unmount(self, path):
        self.mounts.remove_factory(path)

    def statistics(self):
        with self.stats_lock:
            return {"describes": dict(self.describes), "media": dict(self.media),
                    "sessions_created": self.sessions_created,
                    "sessions_open": self.server.get_session_pool().get_n_sessions()}

    # -- counters (signals may come from the server's client threads) -------------------------------

    def _client_connected(self, _server, client):
        client.connect("describe-request", self._describe_request)
        client.connect("new-session", self._new_session)
        if self.session_timeout > 0:
            for request in ("options", "setup", "play", "pause", "get-parameter", "set-parameter"):
                client.connect(f"{request}-request", self._session_request)

    def _describe_request(self, _client, context):
        path = context.uri.abspath if context.uri is not None else ""
        with self.stats_lock:
            self.describes[path] = self.describes.get(path, 0) + 1

    def _media_configure(self, _factory, media, path):
        with self.stats_lock:
            self.media[path] = self.media.get(path, 0) + 1
        if self.session_timeout > 0:
            media.connect("prepared", self._watch_rtcp)

    def _new_session(self, _client, session):
        if self.session_timeout > 0:
            session.set_timeout(self.session_timeout)
            with self.activity_lock:
                self.session_activity[session.get_sessionid()] = GLib.get_monotonic_time()
        with self.stats_lock:
            self.sessions_created += 1

    # -- the session time-out ---------------------------------------------------------------------

    def _session_request(self, _client, context):
        # Any request that names the session keeps it (RFC 2326 12.37). The context's session is not set
        # for every method, so the header is read.
        if context.request is None:
            return
        result, value = context.request.get_header(GstRtsp.RTSPHeaderField.SESSION, 0)
        if result == GstRtsp.RTSPResult.OK and value:
            with self.activity_lock:
                session_id = value.split(";")[0].strip()
                if session_id in self.session_activity:
                    self.session_activity[session_id] = GLib.get_monotonic_time()

    def _watch_rtcp(self, media):
        key = hash(media)

        def received(*_):
            with self.activity_lock:
                self.media_rtcp[key] = GLib.get_monotonic_time()

        for index in range(media.n_streams()):
            rtp_session = media.get_stream(index).get_rtpsession()
            if rtp_session is not None:
                rtp_session.connect("on-receiving-rtcp", received)

    def _end_silent_sessions(self):
        """Ends every session without a request or an RTCP report for the time-out. The media is shared, so
        an RTCP report of any of its clients keeps all of its sessions: the tests have one client a stream."""
        now = GLib.get_monotonic_time()
        limit = self.session_timeout * 1_000_000

        def last_activity(session):
            medias = []
            session.filter(lambda _session, session_media, *_: medias.append(hash(session_media.get_media()))
                           or GstRtspServer.RTSPFilterResult.KEEP)
            with self.activity_lock:
                times = [self.session_activity.get(session.get_sessionid(), now)]
                times += [self.media_rtcp.get(key, 0) for key in medias]
            return max(times)

        def end_silent(_pool, session, *_):
            if now - last_activity(session) <= limit:
                return GstRtspServer.RTSPFilterResult.KEEP
            print(f"rtsp: session {session.get_sessionid()} timed out", file=sys.stderr, flush=True)
            session.filter(lambda *_args: GstRtspServer.RTSPFilterResult.REMOVE)
            with self.activity_lock:
                self.session_activity.pop(session.get_sessionid(), None)
            return GstRtspServer.RTSPFilterResult.REMOVE

        self.server.get_session_pool().filter(end_silent)
        return GLib.SOURCE_CONTINUE


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--auth", choices=["none", "basic", "digest", "both"], default="none")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--bitrate", type=int, default=512, help="H.264 kbit/s")
    parser.add_argument("--quality", type=int, default=70, help="JPEG quality")
    parser.add_argument("--no-in-band-parameter-sets", action="store_true",
                        help="SPS/PPS only in the SDP, not in front of key frames")
    parser.add_argument("--session-timeout", type=int, default=0,
                        help="seconds a silent session lives, announced and enforced; 0: GStreamer's 60, not enforced")
    args = parser.parse_args()

    Gst.init(None)
    service = RtspService("127.0.0.1", args.port, args.session_timeout)
    service.set_auth(args.auth, args.user, args.password)
    for name, (width, height) in RESOLUTIONS.items():
        service.mount(f"/rtsph264{name}",
                      h264_launch(width, height, args.fps, args.bitrate, not args.no_in_band_parameter_sets))
        service.mount(f"/rtspjpeg{name}", jpeg_launch(width, height, args.fps, args.quality))
    try:
        port = service.start()
    except OSError:
        print("FAILED cannot listen", flush=True)
        return 1
    print(f"READY {port}", flush=True)

    loop = GLib.MainLoop()
    # The test that started us goes away: so do we.
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.HUP | GLib.IOCondition.IN, lambda *_: loop.quit() or False)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
