"""An RTSP proxy on loopback whose RTP path drops, duplicates and reorders
packets at set rates.  The control connection passes through unchanged except
for the client ports of SETUP, which it points at its own UDP relay.
Standard library only."""

import random
import re
import select
import socket
import threading

_CLIENT_PORT = re.compile(rb"client_port=(\d+)-(\d+)")


class LossyRelay:
    def __init__(self, camera_host, camera_port, drop=0.0, duplicate=0.0, reorder=0.0, seed=1):
        self.camera = (camera_host, camera_port)
        self.rates = (drop, duplicate, reorder)
        self.random = random.Random(seed)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.stats = {"forwarded": 0, "dropped": 0, "duplicated": 0, "reordered": 0}
        self._stop = threading.Event()
        self._threads = []
        self._sockets = [self.listener]
        self._spawn(self._accept)

    def url(self, mount):
        return "rtsp://127.0.0.1:%d%s" % (self.port, mount)

    def close(self):
        self._stop.set()
        for t in self._threads:
            t.join(5)
        for s in self._sockets:
            s.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _spawn(self, fn, *args):
        t = threading.Thread(target=fn, args=args, daemon=True)
        t.start()
        self._threads.append(t)

    def _accept(self):
        while not self._stop.is_set():
            r, _, _ = select.select([self.listener], [], [], 0.05)
            if r:
                client, _ = self.listener.accept()
                upstream = socket.create_connection(self.camera)
                self._sockets += [client, upstream]
                self._spawn(self._control, client, upstream)

    def _control(self, client, upstream):
        pending = b""
        while not self._stop.is_set():
            r, _, _ = select.select([client, upstream], [], [], 0.05)
            try:
                if client in r:
                    data = client.recv(65536)
                    if not data:
                        break
                    pending += data
                    while pending:
                        if pending[:1] == b"$":
                            # an interleaved frame (RTP/AVP/TCP) passes as is
                            if len(pending) < 4:
                                break
                            end = 4 + int.from_bytes(pending[2:4], "big")
                            if len(pending) < end:
                                break
                            frame, pending = pending[:end], pending[end:]
                            upstream.sendall(frame)
                            continue
                        if b"\r\n\r\n" not in pending:
                            break
                        end = pending.index(b"\r\n\r\n") + 4
                        request, pending = pending[:end], pending[end:]
                        upstream.sendall(self._rewrite_setup(request))
                if upstream in r:
                    data = upstream.recv(65536)
                    if not data:
                        break
                    client.sendall(data)
            except OSError:
                break
        client.close()
        upstream.close()

    def _rewrite_setup(self, request):
        m = _CLIENT_PORT.search(request)
        if not request.startswith(b"SETUP") or not m:
            return request
        client_ports = (int(m.group(1)), int(m.group(2)))
        rtp, rtcp = self._relay_pair()
        self._spawn(self._relay_rtp, rtp, client_ports[0])
        self._spawn(self._relay_plain, rtcp, client_ports[1])
        ports = b"client_port=%d-%d" % (rtp.getsockname()[1], rtcp.getsockname()[1])
        return request[:m.start()] + ports + request[m.end():]

    def _relay_pair(self):
        while True:
            rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtp.bind(("127.0.0.1", 0))
            port = rtp.getsockname()[1]
            if port % 2 == 0:
                rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                try:
                    rtcp.bind(("127.0.0.1", port + 1))
                    self._sockets += [rtp, rtcp]
                    return rtp, rtcp
                except OSError:
                    rtcp.close()
            rtp.close()

    def _relay_rtp(self, sock, client_port):
        drop, duplicate, reorder = self.rates
        held = None
        dest = ("127.0.0.1", client_port)
        while not self._stop.is_set():
            r, _, _ = select.select([sock], [], [], 0.05)
            if not r:
                continue
            packet = sock.recv(65536)
            roll = self.random.random()
            if roll < drop:
                self.stats["dropped"] += 1
                continue
            if held is None and roll < drop + reorder:
                held = packet  # goes out after the next one
                self.stats["reordered"] += 1
                continue
            sock.sendto(packet, dest)
            self.stats["forwarded"] += 1
            if roll >= 1.0 - duplicate:
                sock.sendto(packet, dest)
                self.stats["duplicated"] += 1
            if held is not None:
                sock.sendto(held, dest)
                held = None

    def _relay_plain(self, sock, client_port):
        while not self._stop.is_set():
            r, _, _ = select.select([sock], [], [], 0.05)
            if r:
                sock.sendto(sock.recv(65536), ("127.0.0.1", client_port))
