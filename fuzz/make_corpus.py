#!/usr/bin/env python3
"""Writes the starting inputs of the fuzz targets into corpus/<target>/.

fuzz_stack_frames input: 0xFF, the 16-bit big-endian message id, the index
of the waiting request among those that wait for that message (0xFF: none),
a flag byte (bit 0: sends fail), then the payload (little-endian records).

fuzz_host_requests input: the 16-bit little-endian request number, a flag
byte (bit 0: sends fail, bits 1-3: how the data is built, bit 4: the pending
list is full, bit 5: the token is pending already), the token's serial (for
data built longer, a byte with the number of items added), then the
record's fields in order: 32-bit integers little-endian,
texts as a length byte and the bytes (0xFF: no text).

fuzz_read_callback input: a byte with the number of waiting requests, one
byte per waiting request (an index into WAITERS), then deliveries: a 16-bit
little-endian word (bits 0-13 the byte count, bits 14-15 the kind, 0 for
bytes) and the received bytes, an IPC frame with its big-endian header.

fuzz_event_<family> input: the index of the message in the family, a flag
byte (bits 0-1: number of waiting requests), one byte per waiting request
(its index among the requests that wait for the message), then the payload.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def u32(v):
    return struct.pack('<I', v & 0xFFFFFFFF)


def field(text, width):
    raw = text.encode()
    assert len(raw) <= width
    return raw + b'\0' * (width - len(raw))


def frame(message_id, payload, waiting=0xFF, flags=0):
    return bytes([0xFF]) + struct.pack('>H', message_id) + bytes([waiting, flags]) + payload


def call_entry(call_id, number, direction, call_type, state, attribute=0, mpty=0, text='', video=0):
    e = bytes([call_id]) + field(number, 133) + u32(direction) + u32(call_type) + u32(state)
    e += u32(attribute) + bytes([mpty]) + field(text, 50) + u32(video)
    assert len(e) == 205
    return e


def forwarding_feature(number, ss_code, active=1, no_reply=None):
    f = u32(1) + u32(1) + b'\0'            # basic service present, voice
    f += u32(1) + b'\0' * 12 + u32(active) + b'\0' * 4   # status present, active
    f += bytes([len(number)]) + field(number, 41)
    f += u32(1 if no_reply is not None else 0) + bytes([no_reply or 0])
    f += u32(1) + u32(ss_code)
    assert len(f) == 88
    return f


def ss_conf(info_type, body=b''):
    c = u32(1) + b'\0' + u32(info_type)
    return c + body


# Every request that waits for a stack message, in the fuzz host's order.
QUERIES = [31, 33, 35, 42, 55, 318, 319]
SETTERS = [32, 34, 36, 43, 317]
WAITERS = [(0x7534, 40), (0x7535, 12), (0x7535, 13), (0x7535, 14), (0x7540, 49), (0x7541, 50),
           (0x7545, 9), (0x7545, 16), (0x7548, 336), (0x7597, 113)]
WAITERS += [(0x7567, q) for q in QUERIES]
WAITERS += [(conf, s) for conf in (0x7564, 0x7565, 0x7566, 0x7568) for s in SETTERS]

# The messages of each family, in the order the family target lists them.
FAMILIES = {
    'call_list': [0x7545],
    'invitation': [0x7532],
    'progress': [0x7535, 0x7534, 0x7543, 0x7544, 0x7533, 0x7536, 0x7537, 0x7538, 0x7539, 0x753A,
                 0x753B, 0x753C, 0x753F, 0x7542, 0x7547],
    'modify': [0x753E, 0x753D],
    'dtmf': [0x7540, 0x7541],
    'config': [0x7548],
    'run_status': [0x7546],
    'sms': [0x7596, 0x7597],
    'ss': [0x7567, 0x7564, 0x7565, 0x7566, 0x7568],
}


def waiters_of(message_id):
    return [request for (m, request) in WAITERS if m == message_id]


def messages():
    """Valid stack messages: name -> (message id, payload, waiting request or None)."""
    out = {}
    two_calls = bytes([2]) + call_entry(1, '+4930123456', 0, 1, 1) + \
        call_entry(2, '0170987654', 1, 4, 2, attribute=64, text='conference', video=3)
    out['call_list_two_calls'] = (0x7545, two_calls, 9)
    out['call_list_empty'] = (0x7545, bytes([0]), 16)
    out['invitation'] = (0x7532, bytes([3]) + field('+4989765432', 128) + b'\0' * 5 + u32(1), None)
    out['end_indication'] = (0x7535, bytes([1]) + u32(16), 12)
    out['connected_indication'] = (0x7534, bytes([1]), 40)
    out['conference_info'] = (0x7543, bytes([2]), None)
    out['srvcc_indication'] = (0x7544, u32(1), None)
    status_end = 37
    listing = bytearray(ss_conf(3))
    listing += b'\0' * (159 - len(listing))
    listing += u32(1) + bytes([2])
    listing += forwarding_feature('+4917012345', 3) + forwarding_feature('030555', 6, no_reply=20)
    out['interrogation_forwarding_list'] = (0x7567, bytes(listing), 33)
    clir = bytearray(ss_conf(5))
    clir += b'\0' * (13 - len(clir))
    clir += u32(16) + u32(1) + b'\0' * 12 + u32(1)
    assert len(clir) == status_end
    out['interrogation_clir_status'] = (0x7567, bytes(clir), 31)
    sms = field('0791947106004034040D91947196466656F8000090108211421540', 600) + u32(54) + u32(0)
    out['sms_indication'] = (0x7596, sms, None)
    out['sms_send_status'] = (0x7597, u32(17) + u32(0) + u32(0), 113)
    out['dtmf_start_confirmation'] = (0x7540, bytes([1]) + u32(1), 49)
    out['dtmf_stop_confirmation'] = (0x7541, bytes([1]) + u32(1), 50)
    out['modify_indication'] = (0x753E, bytes([1]) + u32(4) + u32(0) + u32(3), None)
    out['modify_confirmation'] = (0x753D, b'', None)
    out['config_confirmation'] = (0x7548, u32(1) + field('1', 50), 336)
    out['config_confirmation_number'] = (0x7548, u32(5) + u32(1) + b'\0' * 46, 336)
    out['activate_confirmation'] = (0x7564, ss_conf(0), 34)
    out['run_status'] = (0x7546, u32(1), None)
    return out


STACK_FRAME_SEEDS = ['call_list_two_calls', 'invitation', 'end_indication', 'interrogation_forwarding_list',
                     'interrogation_clir_status', 'sms_indication', 'sms_send_status',
                     'dtmf_start_confirmation', 'modify_indication', 'config_confirmation',
                     'activate_confirmation', 'run_status']


def stack_frames():
    out = {}
    for name, (message_id, payload, request) in messages().items():
        if name in STACK_FRAME_SEEDS:
            waiting = 0xFF if request is None else waiters_of(message_id).index(request)
            out[name] = frame(message_id, payload, waiting=waiting)
    return out


def wire(message_id, payload, token=0xFFFF, length=None):
    """A received IPC frame: big-endian header, then the payload."""
    length = len(payload) if length is None else length
    return b'\0' + struct.pack('>IHI', token, message_id, length) + payload


def delivery(data, kind=0):
    assert len(data) < 0x4000
    return struct.pack('<H', kind << 14 | len(data)) + data


def read_callback():
    out = {}
    msgs = messages()
    for name, (message_id, payload, request) in msgs.items():
        waiting = b'' if request is None else bytes([WAITERS.index((message_id, request))])
        out[name] = bytes([len(waiting)]) + waiting + delivery(wire(message_id, payload))
    # A call in three messages, and two hang-ups answered in order.
    calls = [msgs[n] for n in ('invitation', 'connected_indication', 'end_indication')]
    out['call_sequence'] = bytes([2, WAITERS.index((0x7534, 40)), WAITERS.index((0x7535, 12))]) + \
        b''.join(delivery(wire(m, p)) for (m, p, _) in calls)
    # Frames the callback refuses, then one it takes.
    end_id, end_payload, _ = msgs['end_indication']
    out['refused_frames'] = bytes([0]) + delivery(wire(end_id, end_payload)[:10]) + \
        delivery(wire(end_id, end_payload, length=6)) + delivery(b'', kind=3) + \
        delivery(wire(end_id, end_payload), kind=1) + delivery(wire(end_id, end_payload))
    return out


def event_families():
    out = {}
    for name, (message_id, payload, request) in messages().items():
        for family, ids in FAMILIES.items():
            if message_id not in ids:
                continue
            head = bytes([ids.index(message_id)])
            if request is None:
                out.setdefault(family, {})[name] = head + bytes([0]) + payload
            else:
                choice = waiters_of(message_id).index(request)
                out.setdefault(family, {})[name] = head + bytes([1, choice]) + payload
    return out


def text(t):
    if t is None:
        return b'\xff'
    raw = t.encode()
    assert len(raw) < 0xFE
    return bytes([len(raw)]) + raw


def request(number, fields=b'', flags=0, serial=7):
    return struct.pack('<H', number) + bytes([flags]) + u32(serial) + fields


def host_requests():
    out = {}
    out['dial'] = request(10, text('+4930123456') + u32(0) + b'\0' + u32(0))
    out['dial_video_with_uus'] = request(10, text('0170987654') + u32(1) + b'\x01' + u32(0) + u32(0) +
                                         text('uus') + u32(3))
    out['send_sms'] = request(113, u32(1) + b'\0' + u32(0) + b'\0' + text(None) +
                              text('0011000B919471964666F60000AA03C8329B'))
    out['set_call_forward'] = request(34, u32(3) + u32(0) + u32(1) + u32(145) + text('+4917012345') +
                                      u32(20) + text(None))
    out['query_call_forward'] = request(33, u32(2) + u32(2) + u32(1) + u32(129) + text(None) + u32(0) +
                                        text(None))
    out['query_facility_lock'] = request(42, text('AO') + text('') + text('1') + text(None))
    out['set_facility_lock'] = request(43, text('AI') + text('1') + text('') + text('1') + text('') +
                                       text('1234'))
    out['get_configuration'] = request(336, text('1'))
    out['set_configuration'] = request(337, text('1') + text('0'))
    out['hangup'] = request(12, u32(1))
    out['dtmf_start'] = request(49, text('5'))
    out['mt_invite_response'] = request(310, u32(1) + u32(1) + u32(0))
    out['call_modify'] = request(333, u32(1) + u32(3))
    out['sms_acknowledge'] = request(37, u32(1) + u32(0))
    out['get_current_calls'] = request(9)
    out['radio_power_short'] = request(23, u32(1) + struct.pack('<H', 2), flags=5 << 1)
    out['set_clir_send_fails'] = request(32, u32(0), flags=1)
    out['set_facility_lock_longer'] = request(43, bytes([1]) + text('AO') + text('1') + text('') + text('1') +
                                              text('') + text('0000') + text('extra') + text(None), flags=4 << 1)
    out['answer_list_full'] = request(40, u32(1), flags=0x10)
    out['hangup_token_pending'] = request(12, u32(1), flags=0x20)
    return out


def main():
    targets = [('fuzz_stack_frames', stack_frames()), ('fuzz_host_requests', host_requests()),
               ('fuzz_read_callback', read_callback())]
    targets += [('fuzz_event_' + family, inputs) for family, inputs in sorted(event_families().items())]
    for target, inputs in targets:
        directory = os.path.join(HERE, 'corpus', target)
        os.makedirs(directory, exist_ok=True)
        for name, data in inputs.items():
            with open(os.path.join(directory, name), 'wb') as f:
                f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
