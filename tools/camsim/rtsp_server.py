#!/usr/bin/python3
"""The RTSP side of the simulated camera: Debian's GStreamer RTSP server on 127.0.0.1.

Serves live test pictures as H.264 and JPEG under the camera family's stream paths
(/rtsph264<resolution>, /rtspjpeg<resolution>), over UDP and interleaved TCP, without
authentication or with Basic or Digest. Prints "READY <port>" on stdout once it listens,
then runs until it is killed or its stdin closes.

Runs with Debian's /usr/bin/python3, which has the GStreamer bindings (python3-gi and
gir1.2-gst-rtsp-server-1.0).
"""

import argparse
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

RESOLUTIONS = {
    "qcif": (176, 144),
    "cif": (352, 288),
    "vga": (640, 480),
    "d1": (704, 576),
    "720p": (1280, 720),
    "1080p": (1920, 1080),
}


def h264_launch(width, height, fps, bitrate_kbit, in_band_parameter_sets):
    config_interval = 1 if in_band_parameter_sets else 0
    return (
        f"( videotestsrc is-live=true pattern=ball ! video/x-raw,width={width},height={height},framerate={fps}/1 "
        f"! x264enc tune=zerolatency speed-preset=ultrafast bitrate={bitrate_kbit} key-int-max={fps} "
        f"! video/x-h264,profile=baseline "
        f"! rtph264pay name=pay0 pt=96 config-interval={config_interval} )"
    )


def jpeg_launch(width, height, fps, quality):
    # jpegenc needs planar 4:2:0 input, or the payloader refuses the components.
    return (
        f"( videotestsrc is-live=true pattern=ball ! video/x-raw,width={width},height={height},framerate={fps}/1 "
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
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", "user")
    if mode == "basic":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
    elif mode == "digest":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        auth.add_digest(user, password, token)
    elif mode == "both":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC | GstRtsp.RTSPAuthMethod.DIGEST)
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
        auth.add_digest(user, password, token)
    return auth


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
    args = parser.parse_args()

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    auth_enabled = args.auth != "none"
    if auth_enabled:
        server.set_auth(make_auth(args.auth, args.user, args.password))

    mounts = server.get_mount_points()
    for name, (width, height) in RESOLUTIONS.items():
        mounts.add_factory(f"/rtsph264{name}", make_factory(
            h264_launch(width, height, args.fps, args.bitrate, not args.no_in_band_parameter_sets), auth_enabled))
        mounts.add_factory(f"/rtspjpeg{name}", make_factory(
            jpeg_launch(width, height, args.fps, args.quality), auth_enabled))

    if server.attach(None) == 0:
        print("FAILED cannot listen", flush=True)
        return 1
    print(f"READY {server.get_bound_port()}", flush=True)

    loop = GLib.MainLoop()
    # The test that started us goes away: so do we.
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.HUP | GLib.IOCondition.IN, lambda *_: loop.quit() or False)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
