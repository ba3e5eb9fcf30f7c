#!/usr/bin/env python3
"""Writes the seed corpora of bus_user_info_fuzz and osc_packet_fuzz (input
layouts at the top of each target). Re-running rewrites the same files."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# ---- D-Bus bodies, little-endian ------------------------------------------------

class Body:
    def __init__(self):
        self.b = bytearray()

    def pad(self, n):
        while len(self.b) % n:
            self.b.append(0)

    def u32(self, v):
        self.pad(4)
        self.b += struct.pack('<I', v)

    def s(self, text):
        data = text.encode()
        self.u32(len(data))
        self.b += data + b'\0'

    def g(self, sig):
        self.b += bytes([len(sig)]) + sig.encode() + b'\0'

    def array(self, align, fill):
        """An array whose elements fill() appends, elements aligned to align."""
        self.pad(4)
        at = len(self.b)
        self.b += b'\0\0\0\0'
        self.pad(align)
        start = len(self.b)
        fill()
        self.b[at:at + 4] = struct.pack('<I', len(self.b) - start)

    def variant(self, sig, value):
        self.g(sig)
        self.value(sig, value)

    def value(self, sig, v):
        if sig in ('s', 'o'):
            self.s(v)
        elif sig == 'g':
            self.g(v)
        elif sig == 'd':
            self.pad(8)
            self.b += struct.pack('<d', v)
        elif sig in ('x', 't'):
            self.pad(8)
            self.b += struct.pack('<q' if sig == 'x' else '<Q', v)
        elif sig in ('i', 'u', 'b'):
            self.pad(4)
            self.b += struct.pack('<i' if sig == 'i' else '<I', v)
        elif sig in ('n', 'q'):
            self.pad(2)
            self.b += struct.pack('<h' if sig == 'n' else '<H', v)
        elif sig == 'y':
            self.b.append(v)
        elif sig == 'ay':
            self.array(1, lambda: self.b.extend(v))
        elif sig == 'av':
            self.array(1, lambda: [self.variant(s, x) for s, x in v])
        elif sig == 'a{sv}':
            self.dict(v)
        elif sig == '(ii)':
            self.pad(8)
            self.value('i', v[0])
            self.value('i', v[1])
        else:
            raise ValueError(sig)

    def dict(self, entries):
        def fill():
            for key, sig, v in entries:
                self.pad(8)
                self.s(key)
                self.variant(sig, v)
        self.array(8, fill)


def notification(name, obj, entries):
    body = Body()
    body.s(name)
    body.s(obj)
    body.dict(entries)
    return bytes(body.b)


def bus_seed(file, signature, body):
    with open(os.path.join(HERE, 'bus_user_info_corpus', file), 'wb') as f:
        f.write(bytes([len(signature)]) + signature.encode() + body)


LEVEL = 'Kest Level Changed Notification'
bus_seed('level', 'ssa{sv}', notification(LEVEL, '', [('Kest Symbol', 's', 'BS7V0'), ('New Level', 'd', 10.0)]))
bus_seed('level-int-from-analyser', 'ssa{sv}',
         notification(LEVEL, 'analyser', [('Kest Symbol', 's', 'BS7F0'), ('New Level', 'i', 40)]))
bus_seed('every-kind', 'ssa{sv}', notification('Types', 'types-object', [
    ('s', 's', 'text \u00e9'), ('d', 'd', 0.1), ('i', 'i', -5), ('u', 'u', 4000000000),
    ('x', 'x', -2**63), ('t', 't', 2**64 - 1), ('b', 'b', 1), ('ay', 'ay', b'\x00\x01\xff'),
    ('av', 'av', [('s', 'a'), ('x', 2)]), ('dict', 'a{sv}', [('x', 'd', -2.5)])]))
deep = [('s', 'bottom')]
for _ in range(17):
    deep = [('av', deep)]
bus_seed('nested-too-deep', 'ssa{sv}', notification('Deep', '', [('ok', 'b', 0), ('deep', deep[0][0], deep[0][1])]))
bus_seed('unsupported-kinds', 'ssa{sv}', notification('Odd', '', [
    ('y', 'y', 7), ('n', 'n', -3), ('q', 'q', 3), ('o', 'o', '/a'), ('g', 'g', 'ss'), ('pair', '(ii)', (1, 2)),
    ('kept', 's', 'yes')]))
bus_seed('no-user-info', 'ssa{sv}', notification('Empty', '', []))
bus_seed('other-signature', 'ssa{ss}', notification('Odd', '', []))
bus_seed('no-body', '', b'')
bus_seed('cut-short', 'ssa{sv}', notification(LEVEL, '', [('Kest Symbol', 's', 'BS7V0')])[:-9])


# ---- OSC datagrams ---------------------------------------------------------------

def pad(data):
    return data + b'\0' * (4 - len(data) % 4)


def message(address, tags, *args):
    out = pad(address.encode()) + pad((',' + tags).encode())
    for tag, v in zip([t for t in tags if t not in 'TFNI'], args):
        if tag in 'sS':
            out += pad(v.encode())
        elif tag == 'f':
            out += struct.pack('>f', v)
        elif tag == 'd':
            out += struct.pack('>d', v)
        elif tag in 'icrm':
            out += struct.pack('>i', v)
        elif tag in 'ht':
            out += struct.pack('>q', v)
        elif tag == 'b':
            out += struct.pack('>i', len(v)) + v + b'\0' * (-len(v) % 4)
    return out


def bundle(*elements, time_tag=1):
    out = pad(b'#bundle') + struct.pack('>Q', time_tag)
    for e in elements:
        out += struct.pack('>i', len(e)) + e
    return out


def osc_seed(file, mapped, datagram):
    with open(os.path.join(HERE, 'osc_packet_corpus', file), 'wb') as f:
        f.write(bytes([1 if mapped else 0]) + datagram)


level = message('/kest/level', 'sf', 'BS7V0', 12.5)
osc_seed('level-float', False, level)
osc_seed('level-double', False, message('/kest/level', 'sd', 'BS1V0', -0.25))
osc_seed('level-int', False, message('/kest/level', 'si', 'BS7V0', 3))
osc_seed('pattern', False, message('/kest/*', 'sf', 'BS7V0', 2.0))
osc_seed('bundle', False, bundle(level, message('/kest/level', 'sd', 'peakLV', 1.0), time_tag=0xFFFFFFF0 << 32))
nested = level
for _ in range(9):
    nested = bundle(nested)
osc_seed('bundle-nine-deep', False, nested)
osc_seed('bundle-cut-short', False, bundle(level)[:-6])
osc_seed('not-osc', False, b'xyz\0')
osc_seed('map-two-rules', True, message('/eeg/alpha', 'ff', 1.0, 3.0))
osc_seed('map-mean-log', True, message('/muse/elements/alpha_absolute', 'ffff', 0.1, 0.2, 0.3, 0.4))
osc_seed('map-pattern', True, message('/*/alpha', 'fd', 1.0, 2.0))
osc_seed('map-every-tag', True,
         message('/a/b/c', 'ihtdSscrmbTFNIf', 1, 2, 3, 4.0, 'sym', 'str', 65, 0x11223344, 0x7f, b'blob!', 5.0))
