"""Start/stop helpers for the local test camera (camera.py), for Python
integration tests.  Standard library only.

    from peer import start_camera, make_netns_pair, netns_cmd

    with start_camera("--auth", "digest") as cam:
        url = cam.url("/h264")          # rtsp://127.0.0.1:PORT/h264

    with make_netns_pair() as (server_ns, client_ns):
        with start_camera("--address", server_ns.addr, "--multicast",
                          netns=server_ns.name) as cam:
            subprocess.run(netns_cmd(client_ns.name, ["some", "client"]))

Network namespaces need root (CAP_NET_ADMIN); netns_available() tells
whether they can be made here.  Inside them client and camera talk over
127.10.0.1 / 127.10.0.2 on a veth pair (route_localnet=1 makes the kernel
route those loopback-range addresses there).

Also here: RtspConnection, a minimal RTSP/1.0 client for hand-made requests
(plus basic_authorization / digest_authorization / parse_transport /
sdp_controls / rtp_header), and a command line for use inside a namespace:

    python3 peer.py multicast-probe URL [SECONDS [TRANSPORT-OFFER]]

which DESCRIBEs and SETUPs the mount with a unicast offer, joins the group
of a multicast answer, PLAYs, counts RTP datagrams and prints JSON.
"""

import contextlib
import os
import select
import signal
import subprocess
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
CAMERA = os.path.join(HERE, "camera.py")
# Debian's interpreter: it has the GObject introspection bindings (python3-gi).
PYTHON = "/usr/bin/python3"
IP = "/usr/sbin/ip" if os.path.exists("/usr/sbin/ip") else "ip"


class CameraError(RuntimeError):
    pass


class Camera:
    """A running camera.py process."""

    def __init__(self, proc, base_url, args, stderr_path):
        self.proc = proc
        self.base_url = base_url            # rtsp://HOST:PORT
        self.args = list(args)
        self.stderr_path = stderr_path
        hostport = base_url.split("//", 1)[1]
        self.host, _, port = hostport.rpartition(":")
        self.port = int(port)

    @property
    def pid(self):
        return self.proc.pid

    def url(self, mount="", user=None, password=None):
        """URL of a mount ("/h264", "h264" or "" for the server root),
        optionally with user:password@ credentials."""
        if mount and not mount.startswith("/"):
            mount = "/" + mount
        base = self.base_url
        if user is not None:
            cred = user if password is None else "%s:%s" % (user, password)
            base = base.replace("rtsp://", "rtsp://%s@" % cred, 1)
        return base + mount

    def running(self):
        return self.proc.poll() is None

    def stderr_text(self):
        try:
            with open(self.stderr_path, "r", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def stop(self, timeout=10.0):
        """Terminate (SIGTERM, then SIGKILL after `timeout`) and wait.
        Returns the exit status."""
        if self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        if self.proc.stdout:
            self.proc.stdout.close()
        return self.proc.returncode

    def close(self):
        self.stop()
        with contextlib.suppress(OSError):
            os.unlink(self.stderr_path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def netns_cmd(ns, argv):
    """argv prefixed to run inside network namespace `ns` (None = here)."""
    if ns is None:
        return list(argv)
    return [IP, "netns", "exec", ns] + list(argv)


def start_camera(*args, netns=None, timeout=15.0, env=None):
    """Launch camera.py with `args` (strings), wait for its "listening" line
    and return a Camera.  With netns=NAME it runs inside that namespace."""
    args = [str(a) for a in args]
    fd, err_path = _tempfile("camera-", ".log")
    err = os.fdopen(fd, "w")
    argv = netns_cmd(netns, [PYTHON, CAMERA] + args)
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=err, env=env)
    err.close()
    deadline = time.monotonic() + timeout
    line = b""
    try:
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0:
                raise CameraError("camera did not report listening within %.0f s" % timeout)
            ready, _, _ = select.select([proc.stdout], [], [], left)
            if not ready:
                continue
            chunk = os.read(proc.stdout.fileno(), 1)
            if not chunk:
                raise CameraError("camera exited (status %s) before listening"
                                  % proc.wait(5))
            line += chunk
        text = line.decode().strip()
        if not text.startswith("listening rtsp://"):
            raise CameraError("unexpected first line from camera: %r" % text)
    except BaseException as e:
        if proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()
        proc.stdout.close()
        with open(err_path, errors="replace") as f:
            detail = f.read()
        os.unlink(err_path)
        if isinstance(e, CameraError):
            raise CameraError("%s\n--- camera stderr ---\n%s" % (e, detail)) from None
        raise
    return Camera(proc, text.split(" ", 1)[1], args, err_path)


def _tempfile(prefix, suffix):
    import tempfile
    return tempfile.mkstemp(prefix=prefix, suffix=suffix)


# --------------------------------------------------------------------------
# network namespaces


class Netns:
    def __init__(self, name, veth, addr):
        self.name = name        # namespace name for `ip netns exec`
        self.veth = veth        # its end of the veth pair
        self.addr = addr        # its loopback-range address on the veth

    def cmd(self, argv):
        return netns_cmd(self.name, argv)

    def run(self, argv, **kw):
        return subprocess.run(self.cmd(argv), **kw)

    def popen(self, argv, **kw):
        return subprocess.Popen(self.cmd(argv), **kw)

    def __repr__(self):
        return "Netns(%r, %r, %r)" % (self.name, self.veth, self.addr)


def _ip(*argv, check=True):
    r = subprocess.run([IP] + list(argv), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True)
    if check and r.returncode != 0:
        raise RuntimeError("ip %s failed: %s" % (" ".join(argv), r.stderr.strip()))
    return r


def netns_available():
    """True when this process may create network namespaces."""
    if os.geteuid() != 0:
        return False
    name = "camprobe%d" % os.getpid()
    if _ip("netns", "add", name, check=False).returncode != 0:
        return False
    _ip("netns", "del", name, check=False)
    return True


@contextlib.contextmanager
def make_netns_pair(subnet="127.10.0", prefix=24):
    """Two fresh network namespaces joined by a veth pair.

    Yields (a, b): Netns objects; a has SUBNET.1 and b has SUBNET.2 on the
    veth.  Both namespaces have lo up and a route for 224.0.0.0/4 on the
    veth, so multicast group joins with interface 0.0.0.0 work and datagrams
    sent to a group cross the pair.  Addresses in 127.0.0.0/8 are only
    meaningful inside these namespaces, so the kernel is told to route them
    (net.ipv4.conf.*.route_localnet=1).  Everything is deleted on exit.
    """
    tag = "%d%s" % (os.getpid() % 100000, uuid.uuid4().hex[:4])
    ns_a, ns_b = "camA%s" % tag, "camB%s" % tag
    veth_a, veth_b = "cva%s" % tag, "cvb%s" % tag      # <= 15 chars
    addr_a, addr_b = "%s.1" % subnet, "%s.2" % subnet
    created = []
    try:
        for ns in (ns_a, ns_b):
            _ip("netns", "add", ns)
            created.append(ns)
        _ip("link", "add", veth_a, "netns", ns_a, "type", "veth",
            "peer", "name", veth_b, "netns", ns_b)
        for ns, veth, addr in ((ns_a, veth_a, addr_a), (ns_b, veth_b, addr_b)):
            sysctl = ["sysctl", "-q", "-w"]
            for key in ("net.ipv4.conf.all.route_localnet=1",
                        "net.ipv4.conf.%s.route_localnet=1" % veth):
                _ip("netns", "exec", ns, *sysctl, key)
            _ip("-n", ns, "link", "set", "lo", "up")
            _ip("-n", ns, "addr", "add", "%s/%d" % (addr, prefix), "dev", veth)
            _ip("-n", ns, "link", "set", veth, "up", "multicast", "on")
            _ip("-n", ns, "route", "add", "224.0.0.0/4", "dev", veth)
        yield Netns(ns_a, veth_a, addr_a), Netns(ns_b, veth_b, addr_b)
    finally:
        for ns in reversed(created):
            # deleting a namespace also deletes the veth end inside it
            _ip("netns", "del", ns, check=False)


# --------------------------------------------------------------------------
# a minimal RTSP client, for checks ffmpeg cannot make


class RtspResponse:
    def __init__(self, status_line, headers, body):
        self.status_line = status_line
        parts = status_line.split(" ", 2)
        self.version = parts[0]
        self.status = int(parts[1]) if len(parts) > 1 else 0
        self.reason = parts[2] if len(parts) > 2 else ""
        self.headers = headers            # list of (name, value) in order
        self.body = body

    def header(self, name, default=None):
        """First value of header `name` (case-insensitive)."""
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return default

    def all(self, name):
        return [v for k, v in self.headers if k.lower() == name.lower()]

    def __repr__(self):
        return "<RtspResponse %s>" % self.status_line


class RtspConnection:
    """One RTSP/1.0 TCP connection; requests are sent one at a time."""

    def __init__(self, host, port, timeout=10.0, source=None):
        import socket
        self.sock = socket.create_connection((host, port), timeout=timeout,
                                             source_address=source)
        self.cseq = 0
        self.buf = b""
        self.session = None

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def request(self, method, url, headers=(), body=b""):
        self.cseq += 1
        lines = ["%s %s RTSP/1.0" % (method, url), "CSeq: %d" % self.cseq,
                 "User-Agent: peer.py"]
        if self.session and not any(k.lower() == "session" for k, _ in headers):
            lines.append("Session: %s" % self.session)
        lines += ["%s: %s" % kv for kv in headers]
        if body:
            lines.append("Content-Length: %d" % len(body))
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode() + body)
        resp = self.read_response()
        sess = resp.header("Session")
        if method == "TEARDOWN" and resp.status == 200:
            self.session = None
        elif sess:
            self.session = sess.split(";")[0].strip()
        return resp

    def read_response(self):
        while True:
            # skip interleaved binary data ($ channel len payload)
            while self.buf[:1] == b"$":
                self._fill(4)
                n = int.from_bytes(self.buf[2:4], "big")
                self._fill(4 + n)
                self.buf = self.buf[4 + n:]
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            self._more()
        head = self.buf[:end].decode("utf-8", "replace")
        self.buf = self.buf[end + 4:]
        lines = head.split("\r\n")
        headers = []
        for line in lines[1:]:
            k, _, v = line.partition(":")
            headers.append((k.strip(), v.strip()))
        n = 0
        for k, v in headers:
            if k.lower() == "content-length":
                n = int(v)
        self._fill(n)
        body, self.buf = self.buf[:n], self.buf[n:]
        return RtspResponse(lines[0], headers, body.decode("utf-8", "replace"))

    def _more(self):
        data = self.sock.recv(65536)
        if not data:
            raise ConnectionError("RTSP connection closed by peer")
        self.buf += data

    def _fill(self, n):
        while len(self.buf) < n:
            self._more()


def sdp_controls(sdp, base):
    """Absolute control URLs of the SDP's media sections."""
    out = []
    in_media = False
    for line in sdp.splitlines():
        line = line.strip()
        if line.startswith("m="):
            in_media = True
        elif in_media and line.startswith("a=control:"):
            ctl = line[len("a=control:"):].strip()
            if "://" not in ctl:
                ctl = base.rstrip("/") + "/" + ctl
            out.append(ctl)
    return out


def parse_transport(value):
    """Transport header value -> dict (first alternative only)."""
    first = value.split(",")[0]
    parts = [p.strip() for p in first.split(";")]
    out = {"protocol": parts[0]}
    for p in parts[1:]:
        k, eq, v = p.partition("=")
        out[k.lower()] = v.strip('"') if eq else True
    return out


def basic_authorization(user, password):
    import base64
    return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


def parse_challenge(value):
    """'Digest realm="x", nonce="y"' -> ("digest", {"realm": "x", ...})."""
    import re
    scheme, _, rest = value.strip().partition(" ")
    params = dict((k.lower(), v1 if v1 else v2) for k, v1, v2 in
                  re.findall(r'(\w+)\s*=\s*(?:"([^"]*)"|([^\s,]*))', rest))
    return scheme.lower(), params


def digest_authorization(user, password, method, uri, challenge,
                         cnonce="0a4f113b", nc="00000001"):
    """Authorization header value answering a Digest challenge (dict from
    parse_challenge).  Without qop in the challenge: RFC 2069 style."""
    import hashlib

    def md5(s):
        return hashlib.md5(s.encode()).hexdigest()
    realm, nonce = challenge.get("realm", ""), challenge.get("nonce", "")
    ha1 = md5("%s:%s:%s" % (user, realm, password))
    ha2 = md5("%s:%s" % (method, uri))
    qop = challenge.get("qop")
    fields = ['username="%s"' % user, 'realm="%s"' % realm,
              'nonce="%s"' % nonce, 'uri="%s"' % uri]
    if qop:
        qop = "auth"
        resp = md5("%s:%s:%s:%s:%s:%s" % (ha1, nonce, nc, cnonce, qop, ha2))
        fields += ["qop=%s" % qop, "nc=%s" % nc, 'cnonce="%s"' % cnonce]
    else:
        resp = md5("%s:%s:%s" % (ha1, nonce, ha2))
    fields.append('response="%s"' % resp)
    if "opaque" in challenge:
        fields.append('opaque="%s"' % challenge["opaque"])
    return "Digest " + ", ".join(fields)


def rtp_header(data):
    """(version, payload type, sequence, timestamp, ssrc) of an RTP packet,
    or None when it is too short to be one."""
    if len(data) < 12:
        return None
    return (data[0] >> 6, data[1] & 0x7F, int.from_bytes(data[2:4], "big"),
            int.from_bytes(data[4:8], "big"), int.from_bytes(data[8:12], "big"))


def multicast_probe(url, seconds=3.0, offer=None):
    """Ask `url` (a single-stream mount) for a stream with a unicast UDP offer
    (or `offer`), and if the answer is multicast, join the group and count
    RTP datagrams for `seconds`.  Returns a dict (JSON-serialisable)."""
    import socket
    import struct
    host, port = _host_port(url)
    result = {"url": url}
    with RtspConnection(host, port) as rc:
        d = rc.request("DESCRIBE", url, [("Accept", "application/sdp")])
        result["describe"] = d.status
        if d.status != 200:
            return result
        base = d.header("Content-Base", url)
        ctl = sdp_controls(d.body, base)[0]
        offer = offer or "RTP/AVP;unicast;client_port=41000-41001"
        s = rc.request("SETUP", ctl, [("Transport", offer)])
        result["setup"] = s.status
        result["transport"] = s.header("Transport")
        if s.status != 200 or not result["transport"]:
            return result
        tr = parse_transport(result["transport"])
        if "multicast" not in tr:
            return result
        group = tr["destination"]
        gport = int(str(tr["port"]).split("-")[0])
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((group, gport))
        mreq = struct.pack("4s4s", socket.inet_aton(group), socket.inet_aton("0.0.0.0"))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
        p = rc.request("PLAY", base, [("Range", "npt=0-")])
        result["play"] = p.status
        count, pts, ssrcs, sources = 0, set(), set(), set()
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            sock.settimeout(left)
            try:
                data, src = sock.recvfrom(65536)
            except OSError:
                break
            h = rtp_header(data)
            if h and h[0] == 2:
                count += 1
                pts.add(h[1])
                ssrcs.add(h[4])
                sources.add(src[0])
        sock.close()
        rc.request("TEARDOWN", base)
        result.update(group=group, port=gport, ttl=tr.get("ttl"),
                      rtp_packets=count, payload_types=sorted(pts),
                      ssrc_count=len(ssrcs), sources=sorted(sources))
    return result


def _host_port(url):
    hostport = url.split("//", 1)[1].split("/", 1)[0].rsplit("@", 1)[-1]
    host, _, port = hostport.rpartition(":")
    return host.strip("[]"), int(port or 554)


def _main(argv):
    import json
    if argv[:1] == ["multicast-probe"]:
        # multicast-probe URL [SECONDS [TRANSPORT-OFFER]]
        seconds = float(argv[2]) if len(argv) > 2 else 3.0
        offer = argv[3] if len(argv) > 3 else None
        print(json.dumps(multicast_probe(argv[1], seconds, offer)))
        return 0
    # python3 peer.py [camera args...]: start a camera, print its URL, wait
    with start_camera(*argv) as cam:
        print(cam.url("/h264"), flush=True)
        try:
            cam.proc.wait()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
