"""The pcap reader of wire.py on hand-made captures: TCP streams put back
together per connection, also when a client port is used again."""

import os
import struct
import tempfile
import unittest

import wire

SERVER = 8554


def tcp_packet(t, sport, dport, seq, flags, payload=b""):
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq, 0, 5 << 4, flags, 65535, 0, 0) + payload
    total = 20 + len(tcp)
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, total, 0, 0, 64, 6, 0,
                     bytes([127, 0, 0, 2]), bytes([127, 0, 0, 1])) + tcp
    sec, usec = int(t), int(round((t - int(t)) * 1e6))
    return struct.pack("<IIII", sec, usec, len(ip), len(ip)) + ip


def write_pcap(packets):
    fd, path = tempfile.mkstemp(suffix=".pcap")
    with os.fdopen(fd, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))   # raw IP
        f.write(b"".join(packets))
    return path


def reader(packets):
    cap = wire.Capture.__new__(wire.Capture)
    cap.path = write_pcap(packets)
    cap._packets = None
    cap.packets()
    os.unlink(cap.path)
    return cap


SYN, ACK, PSH = 0x02, 0x10, 0x08


def request(method, cseq):
    return ("%s rtsp://127.0.0.1/x RTSP/1.0\r\nCSeq: %d\r\n\r\n" % (method, cseq)).encode()


class TcpStreams(unittest.TestCase):
    def test_client_port_used_again_after_refused_connects(self):
        a, b = request("OPTIONS", 1), request("SETUP", 2)
        packets = [
            tcp_packet(1.0, 40000, SERVER, 1000, SYN),
            tcp_packet(1.1, 40000, SERVER, 1001, PSH | ACK, a),
            tcp_packet(1.2, 40000, SERVER, 1001 + len(a), PSH | ACK, b),
            # the camera goes away; refused connects run through the ports
            # and one lands on 40000 again, with a new initial sequence
            tcp_packet(2.0, 40001, SERVER, 77, SYN),
            tcp_packet(2.1, 40000, SERVER, 900000, SYN),
            tcp_packet(3.0, 40000, SERVER, 5000, SYN),
            tcp_packet(3.0001, 40000, SERVER, 5000, SYN),     # retransmitted SYN
            tcp_packet(3.1, 40000, SERVER, 5001, PSH | ACK, request("OPTIONS", 3)),
        ]
        msgs = reader(packets).rtsp(SERVER)
        self.assertEqual([(m.client_port, m.method, m.cseq) for m in msgs],
                         [(40000, "OPTIONS", 1), (40000, "SETUP", 2), (40000, "OPTIONS", 3)])

    def test_out_of_order_and_retransmitted_segments(self):
        a = request("DESCRIBE", 7)
        half = len(a) // 2
        packets = [
            tcp_packet(1.0, 40002, SERVER, 10, SYN),
            tcp_packet(1.2, 40002, SERVER, 11 + half, PSH | ACK, a[half:]),
            tcp_packet(1.1, 40002, SERVER, 11, PSH | ACK, a[:half]),
            tcp_packet(1.3, 40002, SERVER, 11, PSH | ACK, a[:half]),
        ]
        msgs = reader(packets).rtsp(SERVER)
        self.assertEqual([(m.method, m.cseq) for m in msgs], [("DESCRIBE", 7)])

    def test_a_hole_ends_the_stream(self):
        a, b = request("OPTIONS", 1), request("PLAY", 2)
        packets = [
            tcp_packet(1.0, 40003, SERVER, 10, SYN),
            tcp_packet(1.1, 40003, SERVER, 11, PSH | ACK, a),
            tcp_packet(1.2, 40003, SERVER, 11 + len(a) + 5, PSH | ACK, b),
        ]
        msgs = reader(packets).rtsp(SERVER)
        self.assertEqual([m.method for m in msgs], ["OPTIONS"])


if __name__ == "__main__":
    unittest.main()
