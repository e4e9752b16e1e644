#!/usr/bin/env python3
"""Runs one or two phones against the SIP test bed (Kamailio and baresip): each
phone is a zol-imsd talking SIP and a zol-host with the module running a
scenario. The SIP end-to-end tests and the two-phone demo both run on it.

    phones.py [--story] BUILD_DIR NAME|PATH.scn

Phone A (user 1001) runs tests/sip/scenarios/NAME.scn (or PATH.scn); when
NAME.b.scn exists beside it, phone B (user 1002) runs it at the same time.
baresip is user 2000. A scenario's "# imsd: ..." lines add zol-imsd options.
With --story the run is told as it happens: each host's requests and answers,
what each stack does and sends over SIP, and what passes the proxy.

The scenarios assert on the host's side. They reach the rest of the bed through
echo lines that begin with @bed, which this script carries out in order while
the host goes on. A scenario that must wait for one puts "sync N" in front of
it and "expect unsol 1055 int=N" after it: once the directive is done, this
script has the phone's stack send an SRVCC indication carrying N, the one
indication that takes any number to the host and changes nothing.

    @bed baresip dial USER          baresip calls sip:USER@127.0.0.1
    @bed baresip hangup             baresip ends its call
    @bed baresip event TYPE [TEXT]  baresip reports event TYPE (with TEXT) from now on
    @bed baresip log TEXT           baresip's log says TEXT from now on
    @bed kamailio log TEXT          Kamailio's log says TEXT from now on
    @bed imsd log TEXT              this phone's zol-imsd traces TEXT from now on
    @bed host log TEXT              ... its zol-host prints TEXT (a-imsd, b-host ...:
                                    that phone's)
    @bed registrar stop|start       Kamailio goes away, or comes back on its port
                                    (its log is then read from the restart on)
    @bed sms-delivered SUBMIT from=N
        the last incoming SMS (1003) is the SMS-DELIVER for the SMS-SUBMIT (hex)
        from number N: same data coding, protocol and user data
    @bed sms-report SUBMIT to=N
        the last status report (1004) says the SMS-SUBMIT reached number N

Exit status 0 pass, 1 fail, 77 skipped (an emulated build: the peers run natively
only).
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sipbed  # noqa: E402

WAIT = 15.0  # for anything the bed should see; far beyond what a run needs
USERS = {"a": "1001", "b": "1002"}


class Failure(Exception):
    pass


class Baresip:
    """baresip's TCP control: netstring-framed JSON commands, responses and events."""

    def __init__(self, address, log_path):
        host, port = address.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=WAIT)
        self.log_path = log_path
        self.events = []
        self.responses = []
        self.cond = threading.Condition()
        self.event_cursor = 0
        self.log_cursor = 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        buf = b""
        while True:
            try:
                data = self.sock.recv(4096)
            except OSError:
                return
            if not data:
                return
            buf += data
            while b":" in buf:
                length, _, rest = buf.partition(b":")
                if len(rest) < int(length) + 1:
                    break
                try:
                    message = json.loads(rest[:int(length)])
                except ValueError as error:
                    message = {"event": True, "type": "UNREADABLE", "param": str(error)}
                buf = rest[int(length) + 1:]
                with self.cond:
                    (self.events if message.get("event") else self.responses).append(message)
                    self.cond.notify_all()

    def command(self, name, params=""):
        body = json.dumps({"command": name, "params": params, "token": name}).encode()
        with self.cond:
            before = len(self.responses)
        self.sock.sendall(str(len(body)).encode() + b":" + body + b",")
        with self.cond:
            if not self.cond.wait_for(lambda: len(self.responses) > before, WAIT):
                raise Failure(f"baresip did not answer {name}; events: {self.events[-5:]}")
            response = self.responses[-1]
        if not response.get("ok"):
            raise Failure(f"baresip refused {name} {params}: {response}")

    def wait_event(self, kind, text):
        def found():
            for i in range(self.event_cursor, len(self.events)):
                e = self.events[i]
                if e.get("type") == kind and text in json.dumps(e):
                    self.event_cursor = i + 1
                    return True
            return False
        with self.cond:
            if not self.cond.wait_for(found, WAIT):
                raise Failure(f"baresip reported no {kind} {text!r}; events: "
                              + ", ".join(e.get("type", "?") for e in self.events))


def wait_log(path, text, cursor):
    """Waits until the file has `text` after `cursor`; returns the new cursor. A
    `$` at the end of `text` stands for the end of its line."""
    pattern = re.compile(re.escape(text[:-1]) + "$" if text.endswith("$") else re.escape(text),
                         re.MULTILINE)
    end = time.monotonic() + WAIT
    while time.monotonic() < end:
        with open(path, errors="replace") as f:
            content = f.read()
        m = pattern.search(content, cursor)
        if m:
            return m.end()
        time.sleep(0.05)
    raise Failure(f"{os.path.basename(path)} never said {text!r}")


# ---- SMS PDUs, to check that what arrived is what was sent ----

def take_address(pdu, at):
    digits, toa = pdu[at], pdu[at + 1]
    octets = pdu[at + 2:at + 2 + (digits + 1) // 2]
    number = "".join(f"{b & 0xF:x}{b >> 4:x}" for b in octets)[:digits]
    return ("+" if toa & 0x70 == 0x10 else "") + number, at + 2 + (digits + 1) // 2


def parse_submit(pdu):
    first, ref = pdu[0], pdu[1]
    number, at = take_address(pdu, 2)
    pid, dcs = pdu[at], pdu[at + 1]
    vpf = (first >> 3) & 3
    at += 2 + {0: 0, 2: 1}.get(vpf, 7)
    return {"srr": bool(first & 0x20), "ref": ref, "to": number, "pid": pid, "dcs": dcs,
            "ud": pdu[at:]}


def split_sca(pdu):
    return pdu[1 + pdu[0]:]


def check_delivered(text, submit, sender):
    pdu = split_sca(bytes.fromhex(text))
    if pdu[0] & 0x03 != 0:
        raise Failure(f"not an SMS-DELIVER: {text}")
    number, at = take_address(pdu, 1)
    got = {"from": number, "pid": pdu[at], "dcs": pdu[at + 1], "ud": pdu[at + 9:],
           "sri": bool(pdu[0] & 0x20)}
    want = {"from": sender, "pid": submit["pid"], "dcs": submit["dcs"], "ud": submit["ud"],
            "sri": submit["srr"]}
    if got != want:
        raise Failure(f"SMS-DELIVER {text} carries {got}, expected {want}")


def check_report(text, submit, recipient):
    pdu = split_sca(bytes.fromhex(text))
    if pdu[0] & 0x03 != 2:
        raise Failure(f"not an SMS-STATUS-REPORT: {text}")
    number, at = take_address(pdu, 2)
    got = {"ref": pdu[1], "to": number, "status": pdu[at + 14]}
    want = {"ref": submit["ref"], "to": recipient, "status": 0}
    if got != want:
        raise Failure(f"SMS-STATUS-REPORT {text} says {got}, expected {want}")


# ---- One phone: zol-imsd and zol-host ----

class Phone:
    def __init__(self, name, scenario, build, work, bed):
        self.name = name
        self.user = USERS[name]
        self.scenario = scenario
        self.build = build
        self.dir = os.path.join(work, f"phone-{name}")
        os.makedirs(self.dir)
        self.bed = bed
        self.imsd = None
        self.host = None
        self.failures = []
        self.last_text = {}

    def imsd_options(self):
        options = []
        with open(self.scenario) as f:
            for line in f:
                if line.startswith("# imsd:"):
                    options += line.split(":", 1)[1].split()
        return options

    def control(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(WAIT)
            s.connect(os.path.join(self.dir, "imsd.ctl"))
            s.sendall(line.encode() + b"\n")
            s.shutdown(socket.SHUT_WR)
            reply = b""
            while True:
                data = s.recv(4096)
                if not data:
                    return reply.decode()
                reply += data

    def start_imsd(self):
        self.imsd_log = os.path.join(self.dir, "imsd.log")
        with open(self.imsd_log, "w") as log:
            self.imsd = subprocess.Popen(
                [os.path.join(self.build, "sim", "zol-imsd"),
                 "--socket", os.path.join(self.dir, "imsd.sock"),
                 "--control", os.path.join(self.dir, "imsd.ctl"),
                 "--sip-registrar", self.bed.registrar_address, "--sip-user", self.user]
                + self.imsd_options(), stdout=log, stderr=subprocess.STDOUT)

        def registered():
            if self.imsd.poll() is not None:
                raise Failure(f"zol-imsd of phone {self.name} exited with {self.imsd.returncode}")
            try:
                return "ok registered" in self.control("sip status")
            except OSError:
                return False
        sipbed.wait_for(registered, WAIT, f"phone {self.name} registered")

    def start_host(self, directives):
        env = dict(os.environ, ZOL_IMSD_SOCKET=os.path.join(self.dir, "imsd.sock"))
        self.host_log = os.path.join(self.dir, "host.log")
        self.host = subprocess.Popen(
            [os.path.join(self.build, "sim", "zol-host"),
             "--module", os.path.join(self.build, "sim", "libreference-zol.so"),
             "--script", self.scenario, "--imsd-control", os.path.join(self.dir, "imsd.ctl"),
             "--log", os.path.join(self.dir, "radio.log"), "--timeout-ms", "20000"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, text=True)
        self.reader = threading.Thread(target=self.read_host, args=(directives,), daemon=True)
        self.reader.start()

    def read_host(self, directives):
        with open(self.host_log, "w") as log:
            for line in self.host.stdout:
                log.write(line)
                log.flush()
                line = unstamped(line)
                m = re.match(r"< unsol \S+ \((1003|1004)\): \"([0-9A-Fa-f]+)\"", line)
                if m:
                    self.last_text[m.group(1)] = m.group(2)
                if line.startswith("@bed "):
                    try:
                        directives(self, line.split()[1:])
                    except (Failure, OSError, ValueError, IndexError) as error:
                        self.failures.append(f"{line.strip()}: {error}")
                        log.write(f"!! {line.strip()}: {error}\n")

    def stop(self):
        if self.host is not None:
            try:
                self.host.wait(timeout=90)
            except subprocess.TimeoutExpired:
                self.host.kill()
                self.failures.append("zol-host did not finish")
            self.reader.join(timeout=WAIT)
        if self.imsd is not None:
            self.imsd.send_signal(signal.SIGTERM)
            try:
                if self.imsd.wait(timeout=WAIT) != 0:
                    self.failures.append(f"zol-imsd exited with {self.imsd.returncode}")
            except subprocess.TimeoutExpired:
                self.imsd.kill()
                self.failures.append("zol-imsd did not stop on SIGTERM")


# ---- Telling a run as it happens ----

STAMP = re.compile(r"(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}|\d+\.\d{6}) ")


def unstamped(line):
    """The line without the time stamp the host and the stack put in front."""
    m = STAMP.match(line)
    return line[m.end():] if m else line


def story_line(who, line):
    """The line as the story tells it, or None when it is not part of the story."""
    line = unstamped(line.rstrip("\n"))
    if who == "proxy":
        m = re.search(r"<script>: sip: (.*)", line)
        return m.group(1) if m else None
    if who.endswith("stack"):
        if line.startswith("imsd    "):
            return line[8:]
        return None
    if line.startswith(("> ", "< ", "    call ", "### ")):
        return line
    return None


def tell(sources, stop):
    """Prints the new lines of each (label, path) as they appear, until `stop` is set."""
    offsets = {path: 0 for _, path in sources}
    width = max(len(label) for label, _ in sources)
    while True:
        last = stop.is_set()
        for label, path in sources:
            if not os.path.exists(path):
                continue
            with open(path, errors="replace") as f:
                f.seek(offsets[path])
                text = f.read()
            complete = text[:text.rfind("\n") + 1]
            offsets[path] += len(complete.encode())
            for line in complete.splitlines():
                shown = story_line(label, line)
                if shown is not None:
                    print(f"{label:>{width}} | {shown}", flush=True)
        if last:
            return
        time.sleep(0.05)


def main(argv):
    story = "--story" in argv
    argv = [a for a in argv if a != "--story"]
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build, name = os.path.abspath(argv[1]), argv[2]
    if os.environ.get("ZOL_E2E_EMULATOR"):
        print("SKIP: the SIP peers and the phones run in native builds only")
        return 77
    if os.environ.get("ZOL_SIP_BUILT") == "OFF":
        print("SKIP: this build's zol-imsd has no SIP side (ZOL_SIP=OFF)")
        return 77
    for tool in ("kamailio", "baresip"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is not installed (tools/setup.sh installs it)")
            return 1
    base = (name[:-4] if name.endswith(".scn")
            else os.path.join(HERE, "..", "..", "tests", "sip", "scenarios", name))
    scenarios = {"a": f"{base}.scn", "b": f"{base}.b.scn"}
    name = os.path.basename(base)
    work = tempfile.mkdtemp(prefix=f"zol-sip-{name}.")
    bed = sipbed.Bed(os.path.join(work, "bed"))
    phones = []
    lock = threading.Lock()
    cursors = {}
    baresip = None

    def directives(phone, words):
        if words[0] == "sync":
            try:
                directives(phone, words[2:])
            finally:
                phone.control(f"srvcc {int(words[1])}")
            return
        what = words[0]
        if what == "baresip" and words[1] == "dial":
            baresip.command("dial", f"sip:{words[2]}@{sipbed.LOOPBACK}")
        elif what == "baresip" and words[1] == "hangup":
            baresip.command("hangup")
        elif what == "baresip" and words[1] == "event":
            baresip.wait_event(words[2], " ".join(words[3:]))
        elif words[1] == "log" and re.fullmatch(r"baresip|kamailio|([ab]-)?(imsd|host)", what):
            if what in ("baresip", "kamailio"):
                path = bed.baresip_log if what == "baresip" else bed.kamailio_log
            else:
                target = phone if "-" not in what else next(p for p in phones if p.name == what[0])
                path = target.imsd_log if what.endswith("imsd") else target.host_log
            # Each log is read on from where the last look at it ended.
            with lock:
                cursor = cursors.get(path, 0)
            found = wait_log(path, " ".join(words[2:]), cursor)
            with lock:
                cursors[path] = max(found, cursors.get(path, 0))
        elif what == "registrar" and words[1] == "stop":
            bed.stop_registrar()
        elif what == "registrar" and words[1] == "start":
            with lock:
                cursors[bed.kamailio_log] = os.path.getsize(bed.kamailio_log)
            bed.start_registrar()
        elif what in ("sms-delivered", "sms-report"):
            unsol = "1003" if what == "sms-delivered" else "1004"
            if unsol not in phone.last_text:
                raise Failure(f"no {unsol} has arrived")
            submit = parse_submit(bytes.fromhex(words[1]))
            number = words[2].split("=", 1)[1]
            (check_delivered if unsol == "1003" else check_report)(
                phone.last_text[unsol], submit, number)
        else:
            raise Failure("unknown directive")

    status = 1
    try:
        bed.start()
        baresip = Baresip(f"{sipbed.LOOPBACK}:{bed.ctrl_port}", bed.baresip_log)
        for key in ("a", "b"):
            if os.path.exists(scenarios[key]):
                phones.append(Phone(key, scenarios[key], build, work, bed))
        for phone in phones:
            phone.start_imsd()
        if story:
            sources = [("proxy", bed.kamailio_log)]
            for phone in phones:
                sources += [(f"{phone.name.upper()} {phone.user}", os.path.join(phone.dir, "host.log")),
                            (f"{phone.name.upper()} stack", phone.imsd_log)]
            told = threading.Event()
            teller = threading.Thread(target=tell, args=(sources, told), daemon=True)
            teller.start()
        # The called phones first: a call must not arrive before their module is up.
        for phone in reversed(phones):
            phone.start_host(directives)
            sipbed.wait_for(lambda: "connected=yes" in phone.control("status"), WAIT,
                            f"the module of phone {phone.name}")
        for phone in phones:
            phone.stop()
        if story:
            told.set()
            teller.join()
        status = 0 if all(p.host.returncode == 0 and not p.failures for p in phones) else 1
    except (Failure, RuntimeError, OSError) as error:
        print(f"FAIL: {error}")
        for phone in phones:
            if phone.host is not None and phone.host.poll() is None:
                phone.host.kill()
            phone.stop()
    finally:
        bed.stop()
    for phone in phones:
        if not story or status != 0:
            print(f"=== phone {phone.name} ({phone.user}): host")
            print(open(phone.host_log).read() if phone.host is not None else "(not started)")
        for failure in phone.failures:
            print(f"FAIL phone {phone.name}: {failure}")
        if status != 0:
            print(f"=== phone {phone.name}: zol-imsd")
            print(open(phone.imsd_log).read())
    if status != 0:
        for path in (bed.kamailio_log, bed.baresip_log):
            if os.path.exists(path):
                print(f"=== {os.path.basename(path)} (last 80 lines)")
                print("".join(open(path, errors="replace").readlines()[-80:]))
    shutil.rmtree(work, ignore_errors=True)
    print("PASS" if status == 0 else "FAIL")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
