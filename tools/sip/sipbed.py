#!/usr/bin/env python3
"""The SIP test bed: Kamailio as proxy and registrar and baresip as a second
party, both on 127.0.0.1 only, on ports picked at run time so that parallel runs
do not clash. Up in about a second; stopped by pid.

    sipbed.py start DIR [--user 2000] [--answermode auto|manual]
        starts both, writes DIR/bed.env (ports and pids, shell syntax) and prints it
    sipbed.py stop DIR
        stops what DIR/bed.env names

As a module: Bed(dir).start(), .stop(), .stop_registrar(), .start_registrar().
"""
import os
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LOOPBACK = "127.0.0.1"
BARESIP_MODULES = "/usr/lib/baresip/modules"


def free_port(kind=socket.SOCK_DGRAM):
    """A port the kernel has just handed out and taken back."""
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def free_port_pair():
    """An even port whose odd neighbour is free too (RTP and RTCP)."""
    for _ in range(50):
        port = free_port()
        if port % 2 == 0 and port < 65000:
            try:
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                    s.bind((LOOPBACK, port + 1))
                return port
            except OSError:
                pass
    raise RuntimeError("no free pair of UDP ports")


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return
        time.sleep(0.02)
    raise RuntimeError(f"timed out waiting for {what}")


def answers_options(port):
    """Whether a SIP server on loopback answers an OPTIONS for itself."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((LOOPBACK, 0))
        s.settimeout(0.1)
        me = s.getsockname()[1]
        request = (f"OPTIONS sip:{LOOPBACK}:{port} SIP/2.0\r\n"
                   f"Via: SIP/2.0/UDP {LOOPBACK}:{me};branch=z9hG4bK-probe{time.monotonic_ns()}\r\n"
                   f"From: <sip:probe@{LOOPBACK}>;tag=probe\r\n"
                   f"To: <sip:{LOOPBACK}:{port}>\r\n"
                   f"Call-ID: probe-{time.monotonic_ns()}@{LOOPBACK}\r\n"
                   "CSeq: 1 OPTIONS\r\nMax-Forwards: 70\r\nContent-Length: 0\r\n\r\n")
        s.sendto(request.encode(), (LOOPBACK, port))
        try:
            return s.recv(4096).startswith(b"SIP/2.0 200")
        except OSError:
            return False


def stop_pid(pid, second_term_after=0.5, kill_after=3.0):
    """SIGTERM, again after a while (baresip may need it), SIGKILL at last."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    start = time.monotonic()
    termed_again = False
    while True:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            # Not our child (stopped from another process): poll for its end.
            try:
                os.kill(pid, 0)
                done = 0
            except ProcessLookupError:
                done = pid
        if done == pid:
            return
        waited = time.monotonic() - start
        if not termed_again and waited > second_term_after:
            termed_again = True
            os.kill(pid, signal.SIGTERM)
        if waited > kill_after:
            os.kill(pid, signal.SIGKILL)
            kill_after = float("inf")
        time.sleep(0.02)


class Bed:
    def __init__(self, workdir, user="2000", answermode="auto"):
        self.dir = os.path.abspath(workdir)
        self.user = user
        self.answermode = answermode
        self.registrar_port = free_port()
        self.baresip_port = free_port()
        self.ctrl_port = free_port(socket.SOCK_STREAM)
        self.registrar = None
        self.baresip = None
        os.makedirs(self.dir, exist_ok=True)
        self.kamailio_log = os.path.join(self.dir, "kamailio.log")
        self.baresip_log = os.path.join(self.dir, "baresip.log")

    @property
    def registrar_address(self):
        return f"{LOOPBACK}:{self.registrar_port}"

    def start(self):
        self.start_registrar()
        self.start_baresip()
        return self

    def start_registrar(self):
        run = os.path.join(self.dir, "kamailio-run")
        os.makedirs(run, exist_ok=True)
        log = open(self.kamailio_log, "a")
        # -DD: stays in the foreground with its pid; -E: logs to stderr.
        self.registrar = subprocess.Popen(
            ["kamailio", "-f", os.path.join(HERE, "bed", "kamailio.cfg"),
             "-l", f"udp:{self.registrar_address}", "-DD", "-E", "-Y", run, "-w", run,
             "-m", "32", "-M", "4"],
            stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log.close()
        wait_for(lambda: self.registrar.poll() is None and answers_options(self.registrar_port),
                 10, f"Kamailio on {self.registrar_address}")

    def stop_registrar(self):
        if self.registrar is not None:
            stop_pid(self.registrar.pid)
            self.registrar = None

    def start_baresip(self):
        conf = os.path.join(self.dir, "baresip")
        os.makedirs(conf, exist_ok=True)
        rtp = free_port_pair()
        values = {
            "SIP_PORT": self.baresip_port, "CTRL_PORT": self.ctrl_port,
            "DNS_PORT": free_port(), "RTP_PORTS": f"{rtp}-{rtp + 1}",
            "MODULE_PATH": BARESIP_MODULES, "USER": self.user,
            "REGISTRAR_PORT": self.registrar_port, "ANSWERMODE": self.answermode,
        }
        for name, target in (("baresip.config", "config"), ("baresip.accounts", "accounts")):
            with open(os.path.join(HERE, "bed", name)) as f:
                text = f.read()
            for key, value in values.items():
                text = text.replace(f"@{key}@", str(value))
            with open(os.path.join(conf, target), "w") as f:
                f.write(text)
        open(os.path.join(conf, "contacts"), "w").close()
        log = open(self.baresip_log, "a")
        self.baresip = subprocess.Popen(["baresip", "-f", conf], stdout=log,
                                        stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log.close()
        wait_for(lambda: self.baresip.poll() is None and "200 OK" in self.read_baresip_log(),
                 10, f"baresip registered as {self.user}")

    def read_baresip_log(self):
        with open(self.baresip_log, errors="replace") as f:
            return f.read()

    def stop(self):
        if self.baresip is not None:
            stop_pid(self.baresip.pid)
            self.baresip = None
        self.stop_registrar()

    def env(self):
        return {
            "SIPBED_REGISTRAR": self.registrar_address,
            "SIPBED_BARESIP_USER": self.user,
            "SIPBED_BARESIP_CTRL": f"{LOOPBACK}:{self.ctrl_port}",
            "SIPBED_KAMAILIO_PID": self.registrar.pid if self.registrar else "",
            "SIPBED_BARESIP_PID": self.baresip.pid if self.baresip else "",
            "SIPBED_KAMAILIO_LOG": self.kamailio_log,
            "SIPBED_BARESIP_LOG": self.baresip_log,
        }


def main(argv):
    if len(argv) < 3 or argv[1] not in ("start", "stop"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    workdir = argv[2]
    envfile = os.path.join(workdir, "bed.env")
    if argv[1] == "stop":
        pids = {}
        with open(envfile) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                pids[key] = value
        for key in ("SIPBED_BARESIP_PID", "SIPBED_KAMAILIO_PID"):
            if pids.get(key):
                stop_pid(int(pids[key]))
        return 0
    options = dict(zip(argv[3::2], argv[4::2]))
    bed = Bed(workdir, user=options.get("--user", "2000"),
              answermode=options.get("--answermode", "auto"))
    try:
        bed.start()
    except Exception as error:
        bed.stop()
        print(f"sipbed: {error}", file=sys.stderr)
        return 1
    with open(envfile, "w") as f:
        for key, value in bed.env().items():
            f.write(f"{key}={value}\n")
    with open(envfile) as f:
        sys.stdout.write(f.read())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
