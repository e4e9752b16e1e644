#!/usr/bin/env python3
"""Writes the starting inputs of fuzz_rild_requests into corpus/fuzz_rild_requests/.

Input: a byte with the size of the pieces the stream arrives in (0: at once),
then classic rild frames: a 32-bit big-endian length, the request number and
serial (little-endian), and the parcel (int32 words, String16 texts), as
oFono's rilmodem sends them.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def i32(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def text(t):
    if t is None:
        return i32(-1)
    units = t.encode("utf-16-le")
    body = units + b"\0\0"
    return i32(len(units) // 2) + body + b"\0" * (-len(body) % 4)


def texts(*items):
    return i32(len(items)) + b"".join(text(t) for t in items)


def ints(*values):
    return i32(len(values), *values)


def frame(request, parcel=b"", serial=1):
    body = i32(request, serial) + parcel
    return struct.pack(">I", len(body)) + body


SEEDS = {
    "current_calls": frame(9),
    "dial": frame(10, text("+4915550001") + i32(0, 0, 0)),
    "dial_clir": frame(10, text("5551234") + i32(1, 0, 0)),
    "hangup": frame(12, ints(1)),
    "dtmf": frame(24, text("7")),
    "send_sms": frame(25, texts(None, "0001000B919451550030F0000009E8329BFD06F5F37A")),
    "cf_query": frame(33, i32(2, 0, 0, 0x81) + text("1234567890") + i32(60)),
    "cf_register": frame(34, i32(3, 0, 1, 145) + text("4915550005") + i32(20)),
    "cw_set": frame(36, ints(1, 1)),
    "sms_ack": frame(37, ints(1, 0)),
    "barring_query": frame(42, texts("AO", "", "1", None)),
    "barring_set": frame(43, texts("AO", "1", "0000", "1", None)),
    "sim_lock_query": frame(42, texts("SC", "", "0", "a0000000871002")),
    "radio_power": frame(23, ints(1)),
    "sim_io": frame(28, i32(192, 0x6F07) + text("3F007FFF") + i32(0, 0, 15) + text(None)
                    + text(None) + text("a0000000871002")),
    "imsi": frame(11, texts("a0000000871002")),
    "ims_sms": frame(113, i32(1, 0, 7) + texts(None, "0001000B919451550030F0000001C1")),
    "smsc_set": frame(101, text('"+4915550000",145')),
    "surrogates": frame(10, text("\U0001F4DE+49") + i32(0, 0, 0)),
    "startup": b"".join(frame(r, b"", s) for s, r in enumerate((51, 9, 62, 54, 1, 38, 39), 1)),
}


def main():
    out = os.path.join(HERE, "corpus", "fuzz_rild_requests")
    os.makedirs(out, exist_ok=True)
    for name, stream in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"\0" + stream)
    # The same stream arriving a few bytes at a time.
    with open(os.path.join(out, "startup_in_pieces"), "wb") as f:
        f.write(b"\3" + SEEDS["startup"])


if __name__ == "__main__":
    main()
