"""compare-requests.py OLD-RTSP-DUMP NEW-RTSP-DUMP: plays the GStreamer test
camera (plain, Digest, Basic, both) with two rtsp-dump builds through a
logging proxy and compares the request texts they send, volatile values
(ports, session ids, nonces, responses) masked."""
import os, re, socket, subprocess, sys, threading, select
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "peers"))
import peer

OLD = sys.argv[1]
NEW = sys.argv[2]

def proxy(cam_port, log):
    ls = socket.socket(); ls.bind(("127.0.0.1", 0)); ls.listen(4)
    def serve():
        while True:
            try:
                c, _ = ls.accept()
            except OSError:
                return
            u = socket.create_connection(("127.0.0.1", cam_port))
            def pump(a, b, record):
                while True:
                    try:
                        d = a.recv(65536)
                    except OSError:
                        break
                    if not d:
                        break
                    if record:
                        log.append(d)
                    try:
                        b.sendall(d)
                    except OSError:
                        break
                try:
                    b.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
            threading.Thread(target=pump, args=(c, u, True), daemon=True).start()
            threading.Thread(target=pump, args=(u, c, False), daemon=True).start()
    threading.Thread(target=serve, daemon=True).start()
    return ls

def mask(text):
    text = re.sub(r"client_port=\d+-\d+", "client_port=P", text)
    text = re.sub(r"Session: \S+", "Session: S", text)
    text = re.sub(r'(nonce|response)="[^"]*"', r'\1="X"', text)
    text = re.sub(r":\d+/", ":PORT/", text)
    return text

def run(binary, cam_args, path, creds):
    with peer.start_camera("--port", "0", *cam_args) as cam:
        log = []
        ls = proxy(cam.port, log)
        url = "rtsp://%s127.0.0.1:%d%s" % (creds, ls.getsockname()[1], path)
        subprocess.run([binary, url, "--seconds", "3"], capture_output=True)
        ls.close()
    data = b"".join(log).decode("latin-1")
    return [mask(r) for r in data.split("\r\n\r\n") if r]

cases = [((), "/h264", ""), ((), "/mjpeg", ""), ((), "/mpeg4", ""),
         (("--auth", "digest", "--user", "u", "--password", "p"), "/h264", "u:p@"),
         (("--auth", "basic", "--user", "u", "--password", "p"), "/mjpeg", "u:p@"),
         (("--auth", "both", "--user", "u", "--password", "p"), "/mpeg4", "u:p@")]
same = 0
for args, path, creds in cases:
    old = run(OLD, args, path, creds)
    new = run(NEW, args, path, creds)
    ok = old == new
    same += ok
    print("%-40s %s  (%d requests: %s)" % (" ".join(args) + " " + path, "same" if ok else "DIFFER",
          len(new), ", ".join(r.split(" ")[0] for r in new)))
    if not ok:
        print("OLD:", old); print("NEW:", new)
print("%d of %d cases: identical request texts" % (same, len(cases)))
sys.exit(0 if same == len(cases) else 1)
