#!/usr/bin/env python3
"""Writes the starting inputs of the fuzz targets into corpus/<target>/.

fuzz_stack_frames input: 0xFF, the 16-bit big-endian message id, the index
of the waiting request among those that wait for that message (0xFF: none),
a flag byte (bit 0: sends fail), then the payload (little-endian records).

fuzz_host_requests input: the 16-bit little-endian request number, a flag
byte (bit 0: sends fail, bits 1-3: how the data is built), the token's
serial, then the record's fields in order: 32-bit integers little-endian,
texts as a length byte and the bytes (0xFF: no text).
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


def stack_frames():
    out = {}
    two_calls = bytes([2]) + call_entry(1, '+4930123456', 0, 1, 1) + \
        call_entry(2, '0170987654', 1, 4, 2, attribute=64, text='conference', video=3)
    out['call_list_two_calls'] = frame(0x7545, two_calls, waiting=0)
    out['invitation'] = frame(0x7532, bytes([3]) + field('+4989765432', 128) + b'\0' * 5 + u32(1))
    out['end_indication'] = frame(0x7535, bytes([1]) + u32(16), waiting=0)
    status_end = 37
    listing = bytearray(ss_conf(3))
    listing += b'\0' * (159 - len(listing))
    listing += u32(1) + bytes([2])
    listing += forwarding_feature('+4917012345', 3) + forwarding_feature('030555', 6, no_reply=20)
    out['interrogation_forwarding_list'] = frame(0x7567, bytes(listing), waiting=1)
    clir = bytearray(ss_conf(5))
    clir += b'\0' * (13 - len(clir))
    clir += u32(16) + u32(1) + b'\0' * 12 + u32(1)
    assert len(clir) == status_end
    out['interrogation_clir_status'] = frame(0x7567, bytes(clir), waiting=0)
    sms = field('0791947106004034040D91947196466656F8000090108211421540', 600) + u32(54) + u32(0)
    out['sms_indication'] = frame(0x7596, sms)
    out['sms_send_status'] = frame(0x7597, u32(17) + u32(0) + u32(0), waiting=0)
    out['dtmf_start_confirmation'] = frame(0x7540, bytes([1]) + u32(1), waiting=0)
    out['modify_indication'] = frame(0x753E, bytes([1]) + u32(4) + u32(0) + u32(3))
    out['config_confirmation'] = frame(0x7548, u32(1) + field('1', 50), waiting=0)
    out['activate_confirmation'] = frame(0x7564, ss_conf(0), waiting=1)
    out['run_status'] = frame(0x7546, u32(1))
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
    return out


def main():
    for target, inputs in (('fuzz_stack_frames', stack_frames()), ('fuzz_host_requests', host_requests())):
        directory = os.path.join(HERE, 'corpus', target)
        os.makedirs(directory, exist_ok=True)
        for name, data in inputs.items():
            with open(os.path.join(directory, name), 'wb') as f:
                f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
