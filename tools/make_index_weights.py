#!/usr/bin/env python3
"""Makes db/access/write/index_weights.inc: how every UTF-16 code unit collates in the two text sort
orders the Access writer builds index keys for ("General (legacy)", sort order 1033 version 0,
and "General", 1033 version 1).

Source of the facts: the code tables the Jackcess project publishes (Apache License 2.0) in
src/main/resources/com/healthmarketscience/jackcess/ of https://github.com/jahlborn/jackcess:
  index_codes_genleg.txt, index_codes_ext_genleg.txt   General (legacy)
  index_codes_gen.txt,    index_codes_ext_gen.txt      General
(read at Jackcess commit 7a3433dc34cf, October 2025; their content dates from 2011-2013).
Those files are not part of this tree; run, from the top of this tree:

  python3 tools/make_index_weights.py <jackcess>/src/main/resources/com/healthmarketscience/jackcess

Their format, as we read it: the short file has one line per code unit 0x0000..0x00FF, the long
one per code unit 0x0100..0xFFFF except the surrogates 0xD800..0xDFFF. A line is a letter for the
behaviour followed by comma-separated hex byte strings (an odd number of digits has its leading
zero left out):
  S<w>            simple: primary weight bytes w
  I<w>,<x>        international: weight w, plus extra (accent) bytes x
  U<u>            unprintable: no weight; code byte u goes to the trailing unprintable run
  P<m>            modifier (combining marks): no weight; m is added to the last extra byte
  Z<w>,<x>,<f>    weight w, optional extra bytes x, and a two-bit flag: 2 when f is "1", else 3
  X               ignored
The surrogates are not listed; their weights follow from the code unit (db/access/write/index_key.cpp).

Output: per sort order, a byte stream of runs that together cover every listed code unit in
order (0x0000..0xD7FF, then 0xE000..0xFFFF). A run is
  count (LEB128), period p (1..8), step (LEB128), then p rules;
the i-th code unit of the run (i from 0) takes rule i % p, whose weight is raised by
(i / p) * step, counting in base 254 with digits 0x02..0xFF (weights never hold 0x00 or 0x01).
A rule is one byte, kind | weight length << 3 | 0x80 when the flag is 2, then the weight bytes,
then for I and Z the extra length and the extra bytes, and for U and P the code byte.
Kinds: 0 X, 1 S, 2 I, 3 U, 4 P, 5 Z.

The generator decodes its own output and compares every code unit with the source before
writing, and writes a digest of the source (FNV-1a 64 over, per code unit in order: kind, weight
length, weight, extra length, extra, code or flag byte) that the C++ side recomputes from its
decoded table in a test.
"""

import os
import sys

KINDS = {'X': 0, 'S': 1, 'I': 2, 'U': 3, 'P': 4, 'Z': 5}
MAX_PERIOD = 8


def hex_bytes(text):
    if text == '':
        return b''
    if len(text) % 2:
        text = '0' + text
    return bytes.fromhex(text)


class Rule:
    __slots__ = ('kind', 'weight', 'extra', 'code', 'flag2')

    def __init__(self, kind, weight=b'', extra=b'', code=0, flag2=False):
        self.kind, self.weight, self.extra, self.code, self.flag2 = kind, weight, extra, code, flag2

    def shape(self):
        """Everything but the weight's value."""
        return (self.kind, len(self.weight), self.extra, self.code, self.flag2)

    def canonical(self):
        """The bytes the digest runs over."""
        out = bytes([self.kind, len(self.weight)]) + self.weight + bytes([len(self.extra)]) + self.extra
        if self.kind == KINDS['Z']:
            return out + bytes([2 if self.flag2 else 3])
        return out + bytes([self.code])

    def __eq__(self, other):
        return self.shape() == other.shape() and self.weight == other.weight


def parse_line(line):
    kind = line[:1]
    if kind not in KINDS:
        raise ValueError('unknown line %r' % line)
    fields = line[1:].split(',') if len(line) > 1 else []
    k = KINDS[kind]
    if kind == 'X':
        return Rule(k)
    if kind == 'S':
        return Rule(k, weight=hex_bytes(fields[0]))
    if kind == 'I':
        return Rule(k, weight=hex_bytes(fields[0]), extra=hex_bytes(fields[1]))
    if kind in 'UP':
        code = hex_bytes(fields[0])
        if len(code) != 1:
            raise ValueError('unexpected code in %r' % line)
        return Rule(k, code=code[0])
    return Rule(k, weight=hex_bytes(fields[0]), extra=hex_bytes(fields[1]), flag2=fields[2] == '1')


def code_units():
    return [c for c in range(0x10000) if not 0xD800 <= c <= 0xDFFF]


def load(folder, short_name, long_name):
    with open(os.path.join(folder, short_name), encoding='ascii') as f:
        lines = f.read().split('\n')[:256]
    with open(os.path.join(folder, long_name), encoding='ascii') as f:
        lines += f.read().split('\n')[:63232]
    units = code_units()
    if len(lines) != len(units) or any(not line for line in lines):
        raise ValueError('unexpected number of lines in %s / %s' % (short_name, long_name))
    return [parse_line(line.strip()) for line in lines]


def weight_value(weight):
    value = 0
    for b in weight:
        if b < 2:
            return None
        value = value * 254 + (b - 2)
    return value


def raise_weight(weight, by):
    if by == 0 or not weight:
        return weight
    value = weight_value(weight) + by
    out = []
    for _ in weight:
        out.append(value % 254 + 2)
        value //= 254
    if value:
        raise ValueError('weight overflow')
    return bytes(reversed(out))


def follows(prev, cur, step):
    """Whether cur is prev with its weight raised by step."""
    if prev.shape() != cur.shape():
        return False
    if not prev.weight:
        return True
    a, b = weight_value(prev.weight), weight_value(cur.weight)
    return a is not None and b is not None and b - a == step


def cover(rules):
    """Greedy runs: at each position the period that covers the most code units."""
    units = code_units()
    runs = []
    at = 0
    while at < len(rules):
        # A run never crosses the surrogate gap.
        limit = len(rules) if units[at] >= 0xE000 else units.index(0xD7FF) + 1
        best = (1, 1, 0)
        for p in range(1, MAX_PERIOD + 1):
            if at + 2 * p > limit:
                break
            step = 0
            for j in range(p):
                if rules[at + j].weight:
                    a = weight_value(rules[at + j].weight)
                    b = weight_value(rules[at + j + p].weight) if rules[at + j + p].weight else None
                    if a is None or b is None:
                        step = -1
                    else:
                        step = b - a
                    break
            if step < 0:
                continue
            n = p
            while at + n < limit and follows(rules[at + n - p], rules[at + n], step):
                n += 1
            if n >= 2 * p and n > best[0]:
                best = (n, p, step)
        n, p, step = best
        runs.append((n, p, step, rules[at:at + p]))
        at += n
    return runs


def leb128(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        if n:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def encode(runs):
    out = bytearray()
    for n, p, step, period_rules in runs:
        out += leb128(n) + bytes([p]) + leb128(step)
        for r in period_rules:
            if len(r.weight) > 15 or len(r.extra) > 255:
                raise ValueError('rule too long')
            out.append(r.kind | len(r.weight) << 3 | (0x80 if r.flag2 else 0))
            out += r.weight
            if r.kind in (KINDS['I'], KINDS['Z']):
                out += bytes([len(r.extra)]) + r.extra
            if r.kind in (KINDS['U'], KINDS['P']):
                out.append(r.code)
    return bytes(out)


def decode(stream):
    """The same reading the C++ side does, to check the stream before writing it."""
    out = []
    pos = 0

    def read_leb():
        nonlocal pos
        value, shift = 0, 0
        while True:
            b = stream[pos]
            pos += 1
            value |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return value

    while pos < len(stream):
        n = read_leb()
        p = stream[pos]
        pos += 1
        step = read_leb()
        period_rules = []
        for _ in range(p):
            head = stream[pos]
            pos += 1
            kind, length, flag2 = head & 7, (head >> 3) & 15, bool(head & 0x80)
            weight = stream[pos:pos + length]
            pos += length
            extra, code = b'', 0
            if kind in (KINDS['I'], KINDS['Z']):
                extra = stream[pos + 1:pos + 1 + stream[pos]]
                pos += 1 + stream[pos]
            if kind in (KINDS['U'], KINDS['P']):
                code = stream[pos]
                pos += 1
            period_rules.append(Rule(kind, bytes(weight), bytes(extra), code, flag2))
        for i in range(n):
            r = period_rules[i % p]
            out.append(Rule(r.kind, raise_weight(r.weight, (i // p) * step), r.extra, r.code, r.flag2))
    return out


def digest(rules):
    h = 0xCBF29CE484222325
    for r in rules:
        for b in r.canonical():
            h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def c_array(name, data):
    lines = ['constexpr unsigned char %s[] = {' % name]
    row = ''
    for b in data:
        item = '%d,' % b
        if len(row) + len(item) > 99:
            lines.append(row)
            row = ''
        row += item
    if row:
        lines.append(row)
    lines.append('};')
    return '\n'.join(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, '..', 'db', 'access', 'write', 'index_weights.inc')
    parts = []
    for cname, short_name, long_name in (
            ('kGeneralLegacy', 'index_codes_genleg.txt', 'index_codes_ext_genleg.txt'),
            ('kGeneral', 'index_codes_gen.txt', 'index_codes_ext_gen.txt')):
        rules = load(folder, short_name, long_name)
        runs = cover(rules)
        stream = encode(runs)
        if decode(stream) != rules:
            sys.exit('the encoded %s table does not decode to its source' % cname)
        parts.append('// %d code units in %d runs.\n' % (len(rules), len(runs)) +
                     c_array(cname + 'Weights', stream) + '\n' +
                     'constexpr std::uint64_t %sDigest = 0x%016XULL;' % (cname, digest(rules)))
    with open(target, 'w', encoding='ascii', newline='\n') as f:
        f.write('// Generated by tools/make_index_weights.py (see there for the source of the facts\n'
                '// and the layout); do not edit.\n\n')
        f.write('\n\n'.join(parts) + '\n')


if __name__ == '__main__':
    main()
