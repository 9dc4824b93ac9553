"""What went over the wire: a tcpdump capture (stopped by its PID) and a
small reader of the pcap file it writes, with UDP datagrams, TCP streams put
back together and the RTSP messages in them.  Standard library only; needs
root (CAP_NET_RAW) for tcpdump.

    with Capture("lo", "udp or tcp port 8554") as cap:
        ...
    for d in cap.udp():              # Datagram: t, src, sport, dst, dport, data
    for m in cap.rtsp(8554):         # Message: t, client_port, from_client, ...
"""

import os
import select
import signal
import struct
import subprocess
import tempfile
import time

TCPDUMP = "/usr/bin/tcpdump" if os.path.exists("/usr/bin/tcpdump") else "/usr/sbin/tcpdump"


def tcpdump_available():
    return os.geteuid() == 0 and os.path.exists(TCPDUMP)


class Datagram:
    __slots__ = ("t", "src", "sport", "dst", "dport", "data")

    def __init__(self, t, src, sport, dst, dport, data):
        self.t, self.src, self.sport, self.dst, self.dport, self.data = (
            t, src, sport, dst, dport, data)

    def __repr__(self):
        return "<%.3f %s:%d > %s:%d %d bytes %s>" % (
            self.t, self.src, self.sport, self.dst, self.dport, len(self.data),
            self.data[:4].hex())


class Message:
    """One RTSP request or response in a TCP stream."""

    def __init__(self, t, client_port, from_client, start_line, headers, body):
        self.t = t                          # capture time of its first byte
        self.client_port = client_port      # the connection's client side
        self.from_client = from_client
        self.start_line = start_line
        self.headers = headers              # [(name, value)] in order
        self.body = body

    @property
    def method(self):
        return None if self.start_line.startswith("RTSP/") else self.start_line.split(" ")[0]

    @property
    def uri(self):
        parts = self.start_line.split(" ")
        return parts[1] if self.method and len(parts) > 1 else None

    @property
    def status(self):
        if not self.start_line.startswith("RTSP/"):
            return None
        parts = self.start_line.split(" ")
        return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else -1

    def header(self, name, default=None):
        for k, v in self.headers:
            if k.lower() == name.lower():
                return v
        return default

    @property
    def cseq(self):
        v = self.header("CSeq")
        return int(v) if v is not None and v.strip().isdigit() else None

    def __repr__(self):
        return "<%.3f %s :%d %s>" % (self.t, "C>S" if self.from_client else "S>C",
                                     self.client_port, self.start_line)


class Capture:
    """tcpdump writing every packet matching `bpf` on `iface` to a pcap file,
    optionally inside a network namespace (a peer.Netns).  With
    CAMVUE_KEEP_PCAP set in the environment the file is kept for reading
    with tcpdump -r after the test."""

    def __init__(self, iface, bpf, netns=None):
        self.iface, self.bpf, self.netns = iface, bpf, netns
        fd, self.path = tempfile.mkstemp(prefix="camvue-", suffix=".pcap")
        os.close(fd)
        self.proc = None
        self.stderr = ""
        self._packets = None

    def start(self, timeout=10.0):
        # -U and --immediate-mode: each packet goes to the file at once (with
        # the kernel's block timeout the last second would be lost on
        # SIGTERM); -Z root: keep the privileges needed to write the file we
        # made; -s 0: whole packets.
        argv = [TCPDUMP, "-i", self.iface, "-n", "-U", "--immediate-mode", "-s", "0",
                "-Z", "root", "-w", self.path, self.bpf]
        if self.netns is not None:
            argv = self.netns.cmd(argv)
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # tcpdump says "listening on IFACE" on stderr once it captures.
        buf = b""
        deadline = time.monotonic() + timeout
        while b"listening on" not in buf:
            left = deadline - time.monotonic()
            if left <= 0 or self.proc.poll() is not None:
                self.stop()
                raise RuntimeError("tcpdump did not start: %s" % buf.decode("utf-8", "replace"))
            ready, _, _ = select.select([self.proc.stderr], [], [], left)
            if ready:
                chunk = os.read(self.proc.stderr.fileno(), 4096)
                if not chunk:
                    continue
                buf += chunk
        self.stderr = buf.decode("utf-8", "replace")
        return self

    def stop(self):
        """SIGTERM to our tcpdump (it writes out and exits), then wait."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        rest = self.proc.stderr.read()
        self.proc.stderr.close()
        self.stderr += rest.decode("utf-8", "replace")
        self.proc = None

    def close(self):
        self.stop()
        if os.environ.get("CAMVUE_KEEP_PCAP"):
            return
        try:
            os.unlink(self.path)
        except OSError:
            pass

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()
        return False

    # -- reading

    def packets(self):
        """[(t, proto, src, dst, l4 bytes)] of the IPv4 packets captured."""
        if self._packets is None:
            with open(self.path, "rb") as f:
                self._packets = list(read_pcap(f.read()))
        return self._packets

    def udp(self):
        out = []
        for t, proto, src, dst, l4 in self.packets():
            if proto != 17 or len(l4) < 8:
                continue
            sport, dport, length = struct.unpack("!HHH", l4[:6])
            out.append(Datagram(t, src, sport, dst, dport, l4[8:length]))
        return out

    def tcp_streams(self, server_port):
        """{(client_port, from_client, n): [(t, bytes of that segment)]} of
        the connections to/from `server_port`, in sequence order, duplicates
        and overlaps cut.  `n` counts the connections that used the same
        client port: a client that reconnects quickly (a refused connect a
        millisecond) cycles through the ephemeral ports, so a later SYN on
        the same port starts a new connection rather than moving the old
        one's sequence base."""
        raw = {}
        for t, proto, src, dst, l4 in self.packets():
            if proto != 6 or len(l4) < 20:
                continue
            sport, dport, seq = struct.unpack("!HHI", l4[:8])
            flags = l4[13]
            offset = (l4[12] >> 4) * 4
            payload = l4[offset:]
            if dport == server_port:
                key = (sport, True)
            elif sport == server_port:
                key = (dport, False)
            else:
                continue
            conns = raw.setdefault(key, [])
            if flags & 0x02:        # SYN: data starts at seq + 1
                if not (conns and conns[-1]["isn"] == seq):     # else retransmitted
                    conns.append({"isn": seq, "segs": []})
                continue
            if payload:
                if not conns:
                    conns.append({"isn": None, "segs": []})
                conns[-1]["segs"].append((t, seq, payload))
        out = {}
        for (cport, from_client), conns in raw.items():
            for n, st in enumerate(conns):
                segs = st["segs"]
                if not segs:
                    continue
                base = (st["isn"] + 1) if st["isn"] is not None else min(s for _, s, _ in segs)
                ordered = sorted(((seq - base) & 0xFFFFFFFF, t, p) for t, seq, p in segs)
                pos, pieces = 0, []
                for rel, t, p in ordered:
                    if rel + len(p) <= pos:
                        continue        # retransmitted
                    if rel > pos:
                        break           # a hole: the rest is not usable
                    p = p[pos - rel:]
                    pieces.append((t, p))
                    pos += len(p)
                out[(cport, from_client, n)] = pieces
        return out

    def rtsp(self, server_port):
        """Every RTSP message to/from `server_port`, ordered by time."""
        msgs = []
        for (cport, from_client, _), pieces in self.tcp_streams(server_port).items():
            msgs += parse_rtsp_stream(pieces, cport, from_client)
        msgs.sort(key=lambda m: (m.t, not m.from_client))
        return msgs


def read_pcap(data):
    """Yields (t, ip protocol, src, dst, layer-4 bytes) for IPv4 packets."""
    if len(data) < 24:
        return
    magic = data[:4]
    if magic in (b"\xd4\xc3\xb2\xa1", b"\x4d\x3c\xb2\xa1"):
        endian = "<"
    elif magic in (b"\xa1\xb2\xc3\xd4", b"\xa1\xb2\x3c\x4d"):
        endian = ">"
    else:
        raise ValueError("not a pcap file (magic %s)" % magic.hex())
    nano = magic in (b"\x4d\x3c\xb2\xa1", b"\xa1\xb2\x3c\x4d")
    linktype = struct.unpack(endian + "I", data[20:24])[0] & 0x0FFFFFFF
    pos = 24
    while pos + 16 <= len(data):
        sec, frac, incl, _ = struct.unpack(endian + "IIII", data[pos:pos + 16])
        frame = data[pos + 16:pos + 16 + incl]
        pos += 16 + incl
        t = sec + frac / (1e9 if nano else 1e6)
        ip = _network_layer(linktype, frame)
        if ip is None or len(ip) < 20 or ip[0] >> 4 != 4:
            continue
        ihl = (ip[0] & 0x0F) * 4
        total = struct.unpack("!H", ip[2:4])[0]
        if struct.unpack("!H", ip[6:8])[0] & 0x1FFF:
            continue                # a later fragment
        src = ".".join(str(b) for b in ip[12:16])
        dst = ".".join(str(b) for b in ip[16:20])
        yield t, ip[9], src, dst, ip[ihl:total]


def _network_layer(linktype, frame):
    if linktype == 1:               # Ethernet (Linux lo and veth)
        ethertype = struct.unpack("!H", frame[12:14])[0] if len(frame) >= 14 else 0
        return frame[14:] if ethertype == 0x0800 else None
    if linktype == 113:             # Linux cooked
        return frame[16:] if frame[14:16] == b"\x08\x00" else None
    if linktype == 276:             # Linux cooked v2
        return frame[20:] if frame[0:2] == b"\x08\x00" else None
    if linktype in (12, 101):       # raw IP
        return frame
    if linktype == 0:               # BSD loopback
        return frame[4:]
    return None


def parse_rtsp_stream(pieces, client_port, from_client):
    """RTSP messages in one direction of one connection; `pieces` are
    (t, bytes) in order.  Interleaved binary data ($) is skipped."""
    data = b"".join(p for _, p in pieces)
    starts, off = [], 0
    for t, p in pieces:
        starts.append((off, t))
        off += len(p)

    def time_at(offset):
        t = starts[0][1] if starts else 0.0
        for o, tt in starts:
            if o > offset:
                break
            t = tt
        return t

    msgs, pos = [], 0
    while pos < len(data):
        if data[pos:pos + 1] == b"$":
            if pos + 4 > len(data):
                break
            pos += 4 + struct.unpack("!H", data[pos + 2:pos + 4])[0]
            continue
        end = data.find(b"\r\n\r\n", pos)
        if end < 0:
            break
        head = data[pos:end].decode("utf-8", "replace").split("\r\n")
        headers = []
        for line in head[1:]:
            k, _, v = line.partition(":")
            headers.append((k.strip(), v.strip()))
        length = 0
        for k, v in headers:
            if k.lower() == "content-length" and v.isdigit():
                length = int(v)
        body = data[end + 4:end + 4 + length].decode("utf-8", "replace")
        msgs.append(Message(time_at(pos), client_port, from_client, head[0], headers, body))
        pos = end + 4 + length
    return msgs


def exchanges(messages):
    """Pairs (request, response or None) per connection, matched by CSeq."""
    out = []
    for req in messages:
        if not req.from_client or req.method is None:
            continue
        resp = None
        for m in messages:
            if (not m.from_client and m.client_port == req.client_port
                    and m.cseq == req.cseq and m.t >= req.t):
                resp = m
                break
        out.append((req, resp))
    return out
