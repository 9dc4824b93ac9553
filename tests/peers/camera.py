#!/usr/bin/python3
"""Local test camera: an RTSP server built on GStreamer's gst-rtsp-server.

It serves three live synthetic video mounts (a moving test pattern):

  /h264   H.264 constrained baseline (x264enc)  RTP payload type 96
  /mjpeg  JPEG (jpegenc)                        RTP payload type 26
  /mpeg4  MPEG-4 Visual simple (avenc_mpeg4)    RTP payload type 96

Run it with Debian's interpreter (it needs python3-gi):

  /usr/bin/python3 tests/peers/camera.py [--port N] [--address A]
      [--auth none|basic|digest|both] [--user U] [--password P]
      [--session-timeout S] [--multicast] [--multicast-only]
      [--force-multicast-answer] [--multicast-iface IFACE]
      [--mcast-range FIRST-LAST] [--mcast-ports MIN-MAX] [--mcast-ttl T]
      [--fps N] [--size WxH] [--pattern NAME] [--speed N] [--log-requests]
      [--bitrate KBITS]

When it listens, exactly one line goes to stdout:

  listening rtsp://ADDRESS:PORT

Everything else (diagnostics) goes to stderr.  SIGTERM / SIGINT end it with
exit status 0.

Multicast modes (--multicast, --multicast-only, --force-multicast-answer)
send RTP to groups in 239.255.0.0/16.  So that this never leaves the
machine, the camera refuses them when its network namespace has an IPv4
address outside 127.0.0.0/8, unless --multicast-iface lo pins the traffic
to the loopback interface.  Run multicast tests in the namespace pair made
by peer.make_netns_pair().
"""

import argparse
import ctypes
import os
import signal
import subprocess
import sys
import threading
from collections import deque

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

MOUNTS = ("/h264", "/mjpeg", "/mpeg4")
ROLE = "camerauser"


def log(*parts):
    print("camera:", *parts, file=sys.stderr, flush=True)


# --------------------------------------------------------------------------
# command line


def parse_size(text):
    try:
        w, h = text.lower().split("x")
        w, h = int(w), int(h)
    except ValueError:
        raise argparse.ArgumentTypeError("size must be WxH, e.g. 320x240")
    if w <= 0 or h <= 0 or w % 2 or h % 2:
        raise argparse.ArgumentTypeError("width and height must be even and > 0")
    # The RTP/JPEG header stores width/8 and height/8 in one byte each.
    if w > 2040 or h > 2040:
        raise argparse.ArgumentTypeError("width and height must be <= 2040")
    return w, h


def parse_range(text):
    lo, _, hi = text.partition("-")
    return lo.strip(), (hi or lo).strip()


def parse_args(argv):
    p = argparse.ArgumentParser(description="GStreamer based local RTSP test camera")
    p.add_argument("--port", type=int, default=0,
                   help="RTSP TCP port (0 = pick a free one, default)")
    p.add_argument("--address", default="127.0.0.1",
                   help="address to bind (default 127.0.0.1)")
    p.add_argument("--auth", choices=("none", "basic", "digest", "both"), default="none")
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="pass")
    p.add_argument("--session-timeout", type=int, default=0,
                   help="session timeout in seconds (0 = server default of 60)")
    p.add_argument("--multicast", action="store_true",
                   help="mounts also accept multicast transports (address pool 239.255/16)")
    p.add_argument("--multicast-only", action="store_true",
                   help="mounts accept only multicast transports (unicast offers get 461)")
    p.add_argument("--force-multicast-answer", action="store_true",
                   help="answer a unicast UDP transport offer with a multicast transport")
    p.add_argument("--multicast-iface", default=None,
                   help="network interface for outgoing multicast")
    p.add_argument("--mcast-range", default="239.255.42.1-239.255.42.254",
                   help="multicast group range FIRST-LAST (inside 239.255.0.0/16)")
    p.add_argument("--mcast-ports", default="5000-5999",
                   help="multicast port range MIN-MAX")
    p.add_argument("--mcast-ttl", type=int, default=1)
    p.add_argument("--protocols", choices=("tcp",), default=None,
                   help="lower transports the mounts allow (tcp: RTP/AVP/TCP only; UDP gets 461)")
    p.add_argument("--fps", type=int, default=15)
    p.add_argument("--slices", type=int, default=1,
                   help="H.264 slices per picture")
    p.add_argument("--aggregate", choices=("none", "zero-latency", "max"), default=None,
                   help="rtph264pay aggregate-mode (STAP-A); the payloader's default when unset")
    p.add_argument("--size", type=parse_size, default=(320, 240))
    p.add_argument("--pattern", default="ball",
                   help="videotestsrc pattern (e.g. smpte100 for colour bars)")
    p.add_argument("--speed", type=int, default=0,
                   help="horizontal scroll of the pattern, pixels per frame")
    p.add_argument("--bitrate", type=int, default=512,
                   help="H.264 bit rate in kbit/s")
    p.add_argument("--log-requests", action="store_true",
                   help='write "camera: request METHOD" to stderr for each request')
    args = p.parse_args(argv)
    if not 1 <= args.fps <= 60:
        p.error("--fps must be within 1..60")
    if args.session_timeout < 0:
        p.error("--session-timeout must be >= 0")
    if args.multicast_only or args.force_multicast_answer:
        args.multicast = True
    first, last = parse_range(args.mcast_range)
    for a in (first, last):
        parts = a.split(".")
        if len(parts) != 4 or parts[0] != "239" or parts[1] != "255":
            p.error("--mcast-range must stay inside 239.255.0.0/16")
    args.mcast_first, args.mcast_last = first, last
    plo, phi = parse_range(args.mcast_ports)
    args.mcast_port_min, args.mcast_port_max = int(plo), int(phi)
    return args


# --------------------------------------------------------------------------
# pipelines


def launch_line(mount, args):
    w, h = args.size
    fps = args.fps
    src = ("videotestsrc is-live=true pattern=%s horizontal-speed=%d ! "
           "video/x-raw,format=I420,width=%d,height=%d,framerate=%d/1"
           % (args.pattern, args.speed, w, h, fps))
    if mount == "/h264":
        enc = ("x264enc name=enc tune=zerolatency speed-preset=ultrafast "
               "bframes=0 key-int-max=%d bitrate=%d threads=1%s ! "
               "video/x-h264,profile=constrained-baseline ! "
               "rtph264pay name=pay0 pt=96 config-interval=-1%s"
               % (fps, args.bitrate,
                  ' option-string="slices=%d"' % args.slices if args.slices > 1 else "",
                  " aggregate-mode=%s" % args.aggregate if args.aggregate else ""))
    elif mount == "/mjpeg":
        enc = "jpegenc name=enc quality=70 ! rtpjpegpay name=pay0 pt=26"
    elif mount == "/mpeg4":
        # max-ptime=0: one frame per RTP packet group (without it several
        # small frames share a packet).  rtpmp4vpay still sends a frame only
        # when the next one arrives (one frame interval of extra latency).
        # config-interval=-1: the VOL config goes in-band before each I-VOP.
        enc = ("avenc_mpeg4 name=enc bitrate=400000 gop-size=%d max-bframes=0 ! "
               "rtpmp4vpay name=pay0 pt=96 config-interval=-1 max-ptime=0" % fps)
    else:
        raise ValueError(mount)
    return "( %s ! %s )" % (src, enc)


class TimestampRestorer:
    """avenc_mpeg4 (GStreamer 1.22 with FFmpeg 5) stamps every encoded frame
    with one bogus timestamp (2**63, FFmpeg's "no value" converted), so the
    payloader clips them all to one RTP time and the RTSP media's sink drops
    them.  Remember the running time of each raw frame going in and put it
    back on the encoded frame coming out (no B-frames: same order, one out
    for each in).  The encoder's output segment is shifted (it starts near
    1000 h), so the running time is mapped through both pads' segments."""

    def __init__(self, enc):
        self.pending = deque(maxlen=256)
        self.lock = threading.Lock()
        self.sinkpad = enc.get_static_pad("sink")
        self.srcpad = enc.get_static_pad("src")
        self.sinkpad.add_probe(Gst.PadProbeType.BUFFER, self.on_in)
        self.srcpad.add_probe(Gst.PadProbeType.BUFFER, self.on_out)

    @staticmethod
    def _segment(pad):
        ev = pad.get_sticky_event(Gst.EventType.SEGMENT, 0)
        if ev is None:
            return None
        seg = ev.parse_segment()
        return seg if seg.format == Gst.Format.TIME else None

    def on_in(self, pad, info):
        buf = info.get_buffer()
        seg = self._segment(pad)
        running = Gst.CLOCK_TIME_NONE
        if seg is not None and buf.pts != Gst.CLOCK_TIME_NONE:
            running = seg.to_running_time(Gst.Format.TIME, buf.pts)
        with self.lock:
            self.pending.append((running, buf.duration))
        return Gst.PadProbeReturn.OK

    def on_out(self, pad, info):
        buf = info.get_buffer()
        with self.lock:
            stamp = self.pending.popleft() if self.pending else None
        seg = self._segment(pad)
        if stamp is None or seg is None or stamp[0] == Gst.CLOCK_TIME_NONE:
            return Gst.PadProbeReturn.OK
        running, duration = stamp
        pts = seg.position_from_running_time(Gst.Format.TIME, running)
        if pts != Gst.CLOCK_TIME_NONE:
            buf.pts = pts
            buf.dts = pts
        if duration != Gst.CLOCK_TIME_NONE:
            buf.duration = duration
        return Gst.PadProbeReturn.OK


def on_media_configure(factory, media, mount):
    if mount != "/mpeg4":
        return
    element = media.get_element()
    enc = element.get_by_name("enc")
    if enc is None:
        log("mpeg4: encoder element not found; timestamps not restored")
        return
    # the pad probes hold the restorer's bound methods, which keeps it
    # alive as long as the pipeline
    TimestampRestorer(enc)


# --------------------------------------------------------------------------
# clients


class ForcedMulticastClient(GstRtspServer.RTSPClient):
    """RTSP connection that answers a unicast UDP transport offer with a
    multicast transport.

    The stock handler of SETUP parses the client's Transport header, keeps the
    first transport the stream supports (unicast UDP is allowed on the mount),
    then calls the configure_client_transport virtual method.  This override
    switches the parsed transport to UDP multicast before chaining up; the
    default handler then takes a group, port pair and TTL from the mount's
    address pool, adds the group as a destination of the stream's multicast
    sink and the reply's Transport header is built from it:
    "RTP/AVP;multicast;destination=239.255.x.y;ttl=T;port=P-Q;mode=..."."""

    def do_configure_client_transport(self, ctx, ct):
        # A destination= in the offer does not matter: the default handler
        # keeps a client's own multicast destination only when the client's
        # token grants "transport.client-settings", which ours never do.
        if ct.lower_transport == GstRtsp.RTSPLowerTrans.UDP:
            ct.lower_transport = GstRtsp.RTSPLowerTrans.UDP_MCAST
            log("forced multicast answer to a unicast offer")
        return GstRtspServer.RTSPClient.do_configure_client_transport(self, ctx, ct)


class _Native:
    """The few C entry points that the GI bindings cannot call usefully."""

    def __init__(self):
        self.rtsp = ctypes.CDLL("libgstrtsp-1.0.so.0")
        self.server = ctypes.CDLL("libgstrtspserver-1.0.so.0")
        vp = ctypes.c_void_p
        self.rtsp.gst_rtsp_connection_accept.argtypes = [vp, ctypes.POINTER(vp), vp]
        self.rtsp.gst_rtsp_connection_accept.restype = ctypes.c_int
        self.server.gst_rtsp_client_set_connection.argtypes = [vp, vp]
        self.server.gst_rtsp_client_set_connection.restype = ctypes.c_int
        self.server.gst_rtsp_auth_set_supported_methods.argtypes = [vp, ctypes.c_int]
        self.server.gst_rtsp_auth_set_supported_methods.restype = None
        self.server.gst_rtsp_auth_get_supported_methods.argtypes = [vp]
        self.server.gst_rtsp_auth_get_supported_methods.restype = ctypes.c_int


_native = None


def native():
    global _native
    if _native is None:
        _native = _Native()
    return _native


def gobject_address(obj):
    """Address of the C GObject behind a PyGObject wrapper (PyGObject keeps
    it right after PyObject_HEAD); checked against the wrapper's repr."""
    head = ctypes.sizeof(ctypes.c_ssize_t) + ctypes.sizeof(ctypes.c_void_p)
    addr = ctypes.c_void_p.from_address(id(obj) + head).value
    if not addr or ("at 0x%x)" % addr) not in repr(obj):
        raise RuntimeError("cannot find the C object of %r" % (obj,))
    return addr


class Camera:
    def __init__(self, args):
        self.args = args
        self.server = GstRtspServer.RTSPServer()
        self.clients = set()
        self.listen_socket = None

    def on_new_session(self, client, session):
        if self.args.session_timeout:
            session.set_timeout(self.args.session_timeout)

    def on_client_connected(self, server, client):
        # stock accept path: the server created a plain GstRTSPClient
        client.connect("new-session", self.on_new_session)
        if self.args.log_requests:
            for method in ("options", "describe", "setup", "play", "teardown"):
                client.connect(method + "-request", self.on_request, method.upper())

    def on_request(self, client, ctx, method):
        if method == "SETUP":
            # the transport asked for: UDP, or TCP after a fall-back
            res, transport = ctx.request.get_header(GstRtsp.RTSPHeaderField.TRANSPORT, 0)
            log("request", method, transport if res == GstRtsp.RTSPResult.OK else "-")
        else:
            log("request", method)

    def start_stock(self):
        """Let GstRTSPServer accept connections itself.  Returns the port."""
        self.server.connect("client-connected", self.on_client_connected)
        if self.server.attach(None) == 0:
            return None
        return self.server.get_bound_port()

    def start_forced_multicast(self):
        """Accept connections here and hand each to a ForcedMulticastClient.

        GstRTSPServer always creates plain GstRTSPClient objects (its
        create_client virtual method is not reachable from Python), so the
        listening socket is made by the server object but watched here, the
        same way the server would: accept into a GstRTSPConnection, give it
        to the client, attach the client to the main context.  The two C
        calls involved transfer ownership of a GstRTSPConnection, which the
        Python bindings cannot express, so they go through ctypes."""
        try:
            self.listen_socket = self.server.create_socket(None)
        except GLib.Error as e:
            log("cannot listen:", e.message)
            return None
        if self.listen_socket is None:
            return None
        GLib.io_add_watch(self.listen_socket.get_fd(), GLib.PRIORITY_DEFAULT,
                          GLib.IOCondition.IN, self.on_incoming)
        return self.listen_socket.get_local_address().get_port()

    def on_incoming(self, fd, cond):
        n = native()
        conn = ctypes.c_void_p()
        res = n.rtsp.gst_rtsp_connection_accept(
            gobject_address(self.listen_socket), ctypes.byref(conn), None)
        if res != 0 or not conn.value:
            log("accept failed (%d)" % res)
            return True
        client = ForcedMulticastClient()
        client.set_session_pool(self.server.get_session_pool())
        client.set_mount_points(self.server.get_mount_points())
        auth = self.server.get_auth()
        if auth is not None:
            client.set_auth(auth)
        client.set_thread_pool(self.server.get_thread_pool())
        client.set_content_length_limit(self.server.get_content_length_limit())
        # takes ownership of the connection
        if not n.server.gst_rtsp_client_set_connection(gobject_address(client), conn):
            log("could not set up the client connection")
            return True
        client.connect("new-session", self.on_new_session)
        client.connect("closed", self.on_client_closed)
        self.clients.add(client)
        client.attach(GLib.MainContext.default())
        return True

    def on_client_closed(self, client):
        self.clients.discard(client)


# --------------------------------------------------------------------------
# authentication


def set_supported_methods(auth, methods):
    """Enable several authentication methods at once.  The GI binding of
    gst_rtsp_auth_set_supported_methods() types the argument as a single
    GstRTSPAuthMethod enum value and refuses BASIC|DIGEST, so call the C
    function directly."""
    n = native().server
    n.gst_rtsp_auth_set_supported_methods(gobject_address(auth), int(methods))
    if n.gst_rtsp_auth_get_supported_methods(gobject_address(auth)) != int(methods):
        raise RuntimeError("could not set the supported authentication methods")


def make_auth(args):
    if args.auth == "none":
        return None
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, ROLE)
    methods = 0
    if args.auth in ("basic", "both"):
        basic = GstRtspServer.RTSPAuth.make_basic(args.user, args.password)
        auth.add_basic(basic, token)
        methods |= int(GstRtsp.RTSPAuthMethod.BASIC)
    if args.auth in ("digest", "both"):
        auth.add_digest(args.user, args.password, token)
        methods |= int(GstRtsp.RTSPAuthMethod.DIGEST)
    set_supported_methods(auth, methods)
    return auth


# --------------------------------------------------------------------------


def non_loopback_addresses():
    """IPv4 addresses in this network namespace outside 127.0.0.0/8."""
    try:
        out = subprocess.run(["ip", "-4", "-o", "addr", "show"], check=True,
                             stdout=subprocess.PIPE, text=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return ["(cannot list addresses)"]
    found = []
    for line in out.splitlines():
        words = line.split()
        if "inet" in words:
            addr = words[words.index("inet") + 1].split("/")[0]
            if not addr.startswith("127."):
                found.append(addr)
    return found


def check_multicast_confined(args):
    """Multicast RTP must not leave the machine: allow multicast modes only
    inside a network namespace whose addresses are all in 127.0.0.0/8 (such
    as the pair that peer.make_netns_pair() creates), or with the multicast
    interface pinned to lo."""
    if args.multicast_iface == "lo":
        return
    others = non_loopback_addresses()
    if others:
        raise SystemExit(
            "camera: refusing multicast here: this network namespace has "
            "non-loopback addresses (%s). Run it inside a private network "
            "namespace (see peer.make_netns_pair) or pass --multicast-iface lo."
            % ", ".join(others))


def configure(camera):
    """Mount points, authentication and address pool on camera.server."""
    args = camera.args
    server = camera.server
    server.set_address(args.address)
    server.set_service(str(args.port))

    auth = make_auth(args)
    if auth is not None:
        server.set_auth(auth)

    pool = None
    if args.multicast:
        pool = GstRtspServer.RTSPAddressPool()
        if not pool.add_range(args.mcast_first, args.mcast_last,
                              args.mcast_port_min, args.mcast_port_max,
                              args.mcast_ttl):
            raise SystemExit("camera: bad multicast address/port range")

    mounts = server.get_mount_points()
    for mount in MOUNTS:
        factory = GstRtspServer.RTSPMediaFactory()
        factory.set_launch(launch_line(mount, args))
        # one live pipeline per mount, shared by all clients, like a camera
        factory.set_shared(True)
        factory.connect("media-configure", on_media_configure, mount)
        if pool is not None:
            factory.set_address_pool(pool)
            if args.multicast_iface:
                factory.set_multicast_iface(args.multicast_iface)
            if args.multicast_only:
                protocols = GstRtsp.RTSPLowerTrans.UDP_MCAST
            else:
                protocols = (GstRtsp.RTSPLowerTrans.UDP
                             | GstRtsp.RTSPLowerTrans.UDP_MCAST
                             | GstRtsp.RTSPLowerTrans.TCP)
            factory.set_protocols(protocols)
        if args.protocols == "tcp":
            factory.set_protocols(GstRtsp.RTSPLowerTrans.TCP)
        if auth is not None:
            factory.add_role_from_structure(Gst.Structure.new_from_string(
                "%s, media.factory.access=(boolean)true, "
                "media.factory.construct=(boolean)true" % ROLE))
        mounts.add_factory(mount, factory)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.multicast:
        check_multicast_confined(args)
    Gst.init(None)
    camera = Camera(args)
    configure(camera)
    loop = GLib.MainLoop()

    if args.force_multicast_answer:
        port = camera.start_forced_multicast()
    else:
        port = camera.start_stock()
    if port is None or port <= 0:
        log("cannot listen on %s:%d" % (args.address, args.port))
        return 1

    # Expire timed-out sessions; this is what stops the streaming to a
    # client that sends neither RTCP nor keep-alives (the server gives a
    # session its timeout plus 5 s of grace).
    pool = camera.server.get_session_pool()

    def cleanup_sessions():
        pool.cleanup()
        return True

    GLib.timeout_add(500, cleanup_sessions)

    def on_signal(*_):
        loop.quit()
        return False

    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGTERM, on_signal)
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGINT, on_signal)

    host = args.address if ":" not in args.address else "[%s]" % args.address
    sys.stdout.write("listening rtsp://%s:%d\n" % (host, port))
    sys.stdout.flush()
    log("mounts:", " ".join(MOUNTS), "auth=%s" % args.auth,
        "session-timeout=%s" % (args.session_timeout or "default"),
        "multicast=%s" % ("only" if args.multicast_only else
                          "forced" if args.force_multicast_answer else
                          "yes" if args.multicast else "no"),
        "fps=%d size=%dx%d" % (args.fps, args.size[0], args.size[1]))

    loop.run()

    # end all sessions so the pipelines stop before the process leaves
    pool.filter(lambda *a: GstRtspServer.RTSPFilterResult.REMOVE, None)
    log("stopped")
    sys.stdout.flush()
    sys.stderr.flush()
    # skip interpreter teardown: GStreamer threads may still be winding down
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
