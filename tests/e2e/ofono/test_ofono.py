#!/usr/bin/python3
"""oFono drives the module through zol-rild, with zol-imsd behind the module.

Run by run.sh inside private namespaces. Every step waits for what oFono
reports on D-Bus (signals and properties) with a deadline, and checks the
stack's side through its control socket.
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

DEADLINE = 10.0  # seconds for any one expectation
OFONO = "org.ofono"


class Fail(Exception):
    pass


class Stack:
    """zol-imsd and its control socket."""

    def __init__(self, run):
        self.run = run
        self.proc = None

    def start(self):
        w = self.run.work
        # An emulated build may name a native stack.
        imsd = os.environ.get("ZOL_E2E_IMSD") or self.run.bin("zol-imsd")
        self.proc = self.run.spawn(
            "imsd", [imsd, "--socket", w + "/imsd.sock",
                     "--control", w + "/imsd.ctl", "--delay", "600"])
        wait_until(lambda: os.path.exists(w + "/imsd.ctl"), "zol-imsd's control socket")

    def kill(self):
        self.proc.kill()
        self.proc.wait()
        os.unlink(self.run.work + "/imsd.ctl")

    def __call__(self, command):
        """Sends one control command; returns its lines, the final ok line last."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(DEADLINE)
            s.connect(self.run.work + "/imsd.ctl")
            s.sendall(command.encode() + b"\n")
            data = b""
            while not re.search(rb"(^|\n)(ok|error)[^\n]*\n", data):
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        lines = data.decode().splitlines()
        if not lines or not lines[-1].startswith("ok"):
            raise Fail("stack: %s -> %s" % (command, lines))
        return lines


def wait_until(predicate, what, deadline=DEADLINE):
    """Runs the main loop until predicate() is true; raises Fail after the deadline."""
    context = GLib.MainContext.default()
    end = time.monotonic() + deadline
    while True:
        result = predicate()
        if result:
            return result
        left = end - time.monotonic()
        if left <= 0:
            raise Fail("no %s within %.0f s" % (what, deadline))
        # Wake up at the deadline at the latest, or at the next message.
        fired = []
        source = GLib.timeout_add(max(1, int(min(left, 0.05) * 1000)),
                                  lambda: fired.append(True) or False)
        context.iteration(True)
        if not fired:
            GLib.source_remove(source)


class Ofono:
    """What oFono has said on the bus: properties by object and interface, and events."""

    def __init__(self, bus):
        self.bus = bus
        self.props = {}
        self.events = []
        bus.add_signal_receiver(self._changed, signal_name="PropertyChanged", bus_name=OFONO,
                                path_keyword="path", interface_keyword="iface")
        for name in ("CallAdded", "CallRemoved", "IncomingMessage", "MessageAdded",
                     "DisconnectReason", "ModemAdded"):
            bus.add_signal_receiver(self._event, signal_name=name, bus_name=OFONO,
                                    path_keyword="path", member_keyword="member")

    # D-Bus values compare equal to the Python ones they stand for.
    def _changed(self, name, value, path=None, iface=None):
        self.props.setdefault((path, iface), {})[name] = value
        self.events.append(("PropertyChanged", path, iface, name, value))

    def _event(self, *args, path=None, member=None):
        self.events.append((member, path) + args)

    def iface(self, path, name):
        return dbus.Interface(self.bus.get_object(OFONO, path), OFONO + "." + name)

    def load(self, path, name):
        """GetProperties into the cache; returns them."""
        props = self.iface(path, name).GetProperties(timeout=DEADLINE * 2)
        self.props.setdefault((path, OFONO + "." + name), {}).update(props)
        return props

    def prop(self, path, name, key):
        return self.props.get((path, OFONO + "." + name), {}).get(key)

    def wait_prop(self, path, name, key, value):
        wait_until(lambda: self.prop(path, name, key) == value,
                   "%s %s = %r on %s (it is %r)" % (name, key, value, path,
                                                    self.prop(path, name, key)))

    def wait_event(self, member, since, match=lambda e: True):
        return wait_until(lambda: next((e for e in self.events[since:]
                                        if e[0] == member and match(e)), None),
                          member + " signal")


class Run:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        self.procs = []
        self.stack = Stack(self)
        self.ofonod = None
        self.modem = "/ril_0"

    def bin(self, name):
        return os.path.join(self.args.bindir, "sim", name)

    def spawn(self, name, argv, env=None):
        log = open(os.path.join(self.work, name + ".log"), "a")
        p = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT,
                             env=dict(os.environ, **(env or {})))
        self.procs.append((name, p))
        return p

    def log(self, name):
        try:
            with open(os.path.join(self.work, name + ".log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def start_bus(self):
        here = os.path.dirname(os.path.abspath(__file__))
        address = "unix:path=" + self.work + "/bus"
        self.spawn("dbus", ["dbus-daemon", "--nofork", "--config-file=" + here + "/bus.conf",
                            "--address=" + address])
        wait_until(lambda: os.path.exists(self.work + "/bus"), "private D-Bus bus")
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = address
        self.bus = dbus.bus.BusConnection(address)
        self.ofono = Ofono(self.bus)

    def start_rild(self):
        env = {"ZOL_IMSD_SOCKET": self.work + "/imsd.sock"}
        argv = [self.bin("zol-rild"), "--log", self.work + "/radio.log",
                "--request-timeout-ms", "3000"]
        emulator = os.environ.get("ZOL_E2E_EMULATOR", "").split()
        self.rild = self.spawn("rild", emulator + argv, env)
        wait_until(lambda: os.path.exists("/dev/socket/rild") or self.rild.poll() is not None,
                   "zol-rild's socket", 60)
        if self.rild.poll() is not None:
            raise Fail("zol-rild exited")

    def start_ofono(self):
        since = len(self.ofono.events)
        env = {"OFONO_RIL_DEVICE": "ril", "OFONO_RIL_TRACE": "1"}
        self.ofonod = self.spawn("ofonod", ["ofonod", "-n", "-d"], env)
        self.ofono.wait_event("ModemAdded", since, lambda e: e[2] == self.modem)

    def stop_ofono(self, sig=signal.SIGTERM):
        self.ofonod.send_signal(sig)
        self.ofonod.wait(DEADLINE)
        self.ofono.props.clear()

    def close(self):
        for _, p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
        for _, p in self.procs:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()

    # What oFono shows of the modem.

    def modem_iface(self, name):
        return self.ofono.iface(self.modem, name)

    def bring_up(self):
        """Powered, Online and registered on LTE, as oFono reports it."""
        o = self.ofono
        o.load(self.modem, "Modem")
        for key in ("Powered", "Online"):
            self.modem_iface("Modem").SetProperty(key, dbus.Boolean(True), timeout=30)
            o.wait_prop(self.modem, "Modem", key, True)
        wait_interface(self, "NetworkRegistration")
        o.load(self.modem, "NetworkRegistration")
        for key, value in (("Status", "registered"), ("Technology", "lte"),
                           ("Name", "ZOL Simulated Network")):
            o.wait_prop(self.modem, "NetworkRegistration", key, value)


def expect(got, want, what):
    if got != want:
        raise Fail("%s: expected %r, got %r" % (what, want, got))


def wait_log(run, name, pattern, since=0, what=None):
    """Waits until the process's log, from offset since, matches pattern."""
    return wait_until(lambda: re.search(pattern, run.log(name)[since:]),
                      what or "%r in the %s log" % (pattern, name))


def call_states(o, path, since):
    """The states oFono reported for one call: when it was added, then each change."""
    states = []
    for e in o.events[since:]:
        if e[0] == "CallAdded" and e[2] == path:
            states.append(e[3]["State"])
        elif e[:4] == ("PropertyChanged", path, OFONO + ".VoiceCall", "State"):
            states.append(e[4])
    return states


def stack_calls(run):
    return [line for line in run.stack("calls") if line.startswith("call ")]

def dial(run, number, hide="default"):
    """Dials and waits until oFono reports the call active; returns its path."""
    o = run.ofono
    since = len(o.events)
    path = str(run.modem_iface("VoiceCallManager").Dial(number, hide, timeout=DEADLINE * 2))
    wait_until(lambda: call_states(o, path, since)[-1:] == ["active"], "active call " + number)
    return path, call_states(o, path, since)


def hang_up(run, path):
    o = run.ofono
    since = len(o.events)
    o.iface(path, "VoiceCall").Hangup(timeout=DEADLINE * 2)
    o.wait_event("CallRemoved", since, lambda e: e[2] == path)
    expect(call_states(o, path, since)[-1:], ["disconnected"], "state after Hangup")
    wait_until(lambda: not stack_calls(run), "no call left at the stack")


def wait_interface(run, name):
    wait_until(lambda: OFONO + "." + name in
               (run.ofono.prop(run.modem, "Modem", "Interfaces") or []), name + " interface")


def test_mo_call(run):
    # With CLIR invoked, which must not turn into the module's conference dial.
    mark = len(run.log("rild"))
    path, states = dial(run, "+4915550001", "enabled")
    expect(states, ["dialing", "alerting", "active"], "states of the outgoing call")
    calls = stack_calls(run)
    if len(calls) != 1 or "number=+4915550001 state=active dir=mo type=voice" not in calls[0] \
            or "mpty=0" not in calls[0]:
        raise Fail("stack's calls: %s" % calls)
    wait_log(run, "rild", r"adapt: RIL_REQUEST_DIAL #\d+: CLIR mode 1 not passed on", mark)
    mark = len(run.log("imsd"))
    run.modem_iface("VoiceCallManager").SendTones("7")
    # One tone is a start and a stop at the stack.
    wait_log(run, "imsd", r"dtmf '7' starts[^\n]*\n(.*\n)*.*imsd <- 6 dtmf-stop", mark)
    hang_up(run, path)


def test_mt_call(run):
    o = run.ofono
    since = len(o.events)
    run.stack("incoming +4915550009")
    added = o.wait_event("CallAdded", since)
    path, props = added[2], added[3]
    expect(props["State"], "incoming", "state of the incoming call")
    expect(props["LineIdentification"], "+4915550009", "caller")
    o.iface(path, "VoiceCall").Answer(timeout=DEADLINE * 2)
    wait_until(lambda: call_states(o, path, since)[-1:] == ["active"], "answered call active")
    call_id = re.match(r"call (\d+) ", stack_calls(run)[0]).group(1)
    since = len(o.events)
    run.stack("hangup " + call_id)
    reason = o.wait_event("DisconnectReason", since, lambda e: e[1] == path)
    expect(reason[2], "remote", "disconnect reason")
    o.wait_event("CallRemoved", since, lambda e: e[2] == path)


def test_sms_send(run):
    o = run.ofono
    wait_interface(run, "MessageManager")
    since = len(o.events)
    path = str(run.modem_iface("MessageManager").SendMessage("+4915550003", "hello zol"))
    wait_until(lambda: any(e[:5] == ("PropertyChanged", path, OFONO + ".Message", "State", "sent")
                           for e in o.events[since:]), "message sent")
    sent = [line for line in run.stack("sms sent") if line.startswith("sms ")]
    expect(len(sent), 1, "messages at the stack")
    # An SMS-SUBMIT (first octet, reference) to +4915550003, PID and DCS 0, any
    # validity period, then "hello zol" as 9 septets of the default alphabet.
    pdu = re.search(r"pdu=([0-9A-Fa-f]+)", sent[0]).group(1).upper()
    if not re.fullmatch(r"[0-9A-F][159D][0-9A-F]{2}0A9194515500300000"
                        r"([0-9A-F]{2}|[0-9A-F]{14})?09E8329BFD06E9DF6C", pdu):
        raise Fail("SMS-SUBMIT at the stack: %s" % pdu)


def test_sms_receive(run):
    o = run.ofono
    since = len(o.events)
    run.stack("sms deliver-text +4915550004 hello_from_the_stack")
    e = o.wait_event("IncomingMessage", since)
    expect(e[2], "hello from the stack", "text of the incoming message")
    expect(e[3]["Sender"], "+4915550004", "sender")
    # oFono acknowledges what it took; the stack hears it through the module.
    wait_until(lambda: "ack success=1 cause=0" in run.stack("sms acks"),
               "acknowledgement at the stack")


# Supplementary services: the stack is set first, so the values oFono shows can
# only have come from it; a change made through oFono lands at the stack.
SERVICES = [
    # interface, stack preset, values oFono shows, what is set, what oFono then shows,
    # the stack's line afterwards
    ("CallForwarding", None, {"VoiceUnconditional": ""},
     ("VoiceUnconditional", "+4915550005"), ("VoiceUnconditional", "+4915550005"),
     r"number=\+4915550005\b"),
    ("CallSettings", "ss set clir on",
     {"VoiceCallWaiting": "enabled", "HideCallerId": "enabled", "CallingLineRestriction": "off"},
     ("VoiceCallWaiting", "disabled"), ("VoiceCallWaiting", "disabled"), r"waiting inactive"),
    ("CallSettings", None, {}, ("HideCallerId", "disabled"), ("HideCallerId", "disabled"),
     r"clir inactive"),
    ("CallBarring", "ss set ai on", {"VoiceIncoming": "always", "VoiceOutgoing": "disabled"},
     ("VoiceOutgoing", "all", "0000"), ("VoiceOutgoing", "all"), r"barring-AO active"),
]


def test_services(run):
    o = run.ofono
    for name, preset, shown, change, after, at_stack in SERVICES:
        wait_interface(run, name)
        if preset:
            run.stack(preset)
        props = o.load(run.modem, name)
        for key, value in shown.items():
            expect(props.get(key), value, "%s %s" % (name, key))
        run.modem_iface(name).SetProperty(*change, timeout=DEADLINE * 2)
        # oFono asks again after a set: the value comes back from the stack.
        o.wait_prop(run.modem, name, *after)
        if not any(re.search(at_stack, line) for line in run.stack("ss show")):
            raise Fail("stack has no %r: %s" % (at_stack, run.stack("ss show")))


def test_client_leaves_mid_request(run):
    # oFono goes while the module still owes it an answer: the late answer
    # must not reach the next client, which is served as the first was.
    mark = len(run.log("rild"))
    run.stack("fault pause")
    run.modem_iface("CallSettings").SetProperty(
        "VoiceCallWaiting", "enabled", reply_handler=lambda: None, error_handler=lambda e: None)
    wait_log(run, "rild", r"c> RIL_REQUEST_SET_CALL_WAITING", mark)
    run.stop_ofono(signal.SIGKILL)
    wait_log(run, "rild", r"client of session \d+ gone", mark)
    run.stack("fault off")
    wait_log(run, "rild", r"completion of RIL_REQUEST_SET_CALL_WAITING #\d+ dropped", mark)
    run.start_ofono()
    run.bring_up()


def test_stack_killed_during_call(run):
    path, _ = dial(run, "+4915550007")
    run.stack.kill()
    # zol-rild answers what the module cannot do without its stack.
    try:
        run.ofono.iface(path, "VoiceCall").Hangup(timeout=DEADLINE)
    except dbus.DBusException as e:
        if "NoReply" in e.get_dbus_name():
            raise
    run.stop_ofono()
    run.stack.start()
    run.start_ofono()
    run.bring_up()
    path, _ = dial(run, "+4915550008")
    hang_up(run, path)


TESTS = [
    ("modem", Run.bring_up),
    ("mo_call", test_mo_call),
    ("mt_call", test_mt_call),
    ("sms_send", test_sms_send),
    ("sms_receive", test_sms_receive),
    ("services", test_services),
    ("client_leaves_mid_request", test_client_leaves_mid_request),
    ("stack_killed_during_call", test_stack_killed_during_call),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bindir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("only", nargs="*")
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    run = Run(args)
    started = time.monotonic()
    failed = None
    try:
        run.start_bus()
        run.stack.start()
        run.start_rild()
        run.start_ofono()
        for name, test in TESTS:
            if args.only and name not in args.only:
                continue
            t0 = time.monotonic()
            try:
                test(run)
            except (Fail, dbus.DBusException) as e:
                failed = "%s: %s" % (name, e)
                break
            print("ok %-28s %.1f s" % (name, time.monotonic() - t0), flush=True)
    except (Fail, dbus.DBusException) as e:
        failed = "set-up: %s" % e
    finally:
        run.close()
    if failed:
        print("FAIL " + failed)
        for name in ("rild", "imsd", "ofonod"):
            lines = run.log(name).splitlines()
            if name == "ofonod":  # its debug output is long: the RIL trace and errors
                lines = [line for line in lines if "ril" in line.lower() or "rror" in line]
            print("--- %s (last 60 lines)\n%s" % (name, "\n".join(lines[-60:])))
        return 1
    print("PASS (%.1f s)" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
