#!/usr/bin/env python3
"""Makes the press profile CMYK files without a profile of their own are
read through: an ICC v2 output profile (CMYK to Lab, one 9-point-a-side
table) of offset printing on coated paper, from FOGRA39's characterisation
data (ISO 12647-2 coated, the press condition of "Coated FOGRA39"), as
Debian's icc-profiles-free ships it (/usr/share/color/icc/FOGRA39L.ti3,
zlib licence).

    make-press-profile.py FOGRA39L.ti3 out.icc

The 1617 measured patches are scattered, not a grid, so the table is
sampled from a printer model fitted to them: Yule-Nielsen modified
Neugebauer, its 16 primaries the measured solids and overprints, each ink's
effective coverage from its own measured tone ramp, the Yule-Nielsen n the
one that fits all patches best. Prints the model's mean and largest CIE76
distance from the measurements."""
import math
import struct
import sys

D50 = (96.42, 100.0, 82.49)


def read_ti3(path):
    patches = []
    for line in open(path):
        f = line.split()
        if len(f) == 11 and f[0].isdigit():
            v = list(map(float, f[1:]))
            patches.append((tuple(x / 100 for x in v[0:4]), tuple(v[4:7]), tuple(v[7:10])))
    return patches


def lab(xyz, white):
    # Media-relative: the paper is the PCS white, as ICC output profiles
    # are made.
    def f(t):
        return t ** (1 / 3) if t > 216 / 24389 else (24389 / 27 * t + 16) / 116
    fx, fy, fz = (f(xyz[i] / white[i]) for i in range(3))
    return (116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz))


class Model:
    def __init__(self, patches, n):
        self.n = n
        by = {p[0]: p[1] for p in patches}
        self.white = by[(0, 0, 0, 0)]
        # The 16 Neugebauer primaries: every ink full or absent.
        self.primaries = []
        for i in range(16):
            key = tuple(float((i >> b) & 1) for b in range(4))
            self.primaries.append(tuple(c ** (1 / n) for c in by[key]))
        # Each ink's effective coverage at its ramp's measured tones.
        self.curves = []
        for ink in range(4):
            ramp = sorted((p[0][ink], p[1]) for p in patches
                          if all(p[0][j] == 0 for j in range(4) if j != ink))
            solid = by[tuple(1.0 if j == ink else 0.0 for j in range(4))]
            points = []
            for tone, xyz in ramp:
                num = den = 0.0
                for c in range(3):
                    w, s, r = self.white[c] ** (1 / n), solid[c] ** (1 / n), xyz[c] ** (1 / n)
                    num += (w - r) * (w - s)
                    den += (w - s) ** 2
                points.append((tone, min(1.0, max(0.0, num / den))))
            self.curves.append(points)

    def coverage(self, ink, tone):
        pts = self.curves[ink]
        for (t0, a0), (t1, a1) in zip(pts, pts[1:]):
            if tone <= t1:
                return a0 + (a1 - a0) * (tone - t0) / (t1 - t0) if t1 > t0 else a1
        return pts[-1][1]

    def xyz(self, cmyk):
        a = [self.coverage(i, cmyk[i]) for i in range(4)]
        out = [0.0, 0.0, 0.0]
        for i in range(16):
            w = 1.0
            for b in range(4):
                w *= a[b] if (i >> b) & 1 else 1 - a[b]
            if w:
                for c in range(3):
                    out[c] += w * self.primaries[i][c]
        return tuple(max(v, 0.0) ** self.n for v in out)


def fit(patches):
    best = None
    for step in range(10, 100):
        n = step / 10
        model = Model(patches, n)
        errors = [math.dist(lab(model.xyz(p[0]), model.white), lab(p[1], model.white)) for p in patches]
        mean = sum(errors) / len(errors)
        if best is None or mean < best[0]:
            best = (mean, max(errors), model)
    return best


def text_tag(sig_type, text):
    if sig_type == b'desc':
        t = text.encode('ascii') + b'\0'
        return b'desc' + bytes(4) + struct.pack('>I', len(t)) + t + bytes(4 + 4 + 2 + 1 + 67)
    return b'text' + bytes(4) + text.encode('ascii') + b'\0'


def s15(v):
    return struct.pack('>i', round(v * 65536))


def profile(model, points=9):
    grid = [i / (points - 1) for i in range(points)]
    clut = bytearray()
    # The first input (cyan) varies slowest.
    for c in grid:
        for m in grid:
            for y in grid:
                for k in grid:
                    L, A, B = lab(model.xyz((c, m, y, k)), model.white)
                    # Lab in the v2 16-bit encoding: L 0..100 as 0..0xFF00,
                    # a and b -128..127.996 as 0..0xFFFF.
                    clut += struct.pack('>HHH', min(0xFF00, max(0, round(L * 652.8))),
                                        min(0xFFFF, max(0, round((A + 128) * 256))),
                                        min(0xFFFF, max(0, round((B + 128) * 256))))
    identity = [s15(1), s15(0), s15(0), s15(0), s15(1), s15(0), s15(0), s15(0), s15(1)]
    lut = (b'mft2' + bytes(4) + bytes([4, 3, points, 0]) + b''.join(identity) + struct.pack('>HH', 2, 2) +
           struct.pack('>HH', 0, 65535) * 4 + bytes(clut) + struct.pack('>HH', 0, 65535) * 3)
    white = tuple(v / 100 for v in model.white)
    tags = [
        (b'desc', text_tag(b'desc', 'Quillbox press CMYK (FOGRA39 coated)')),
        (b'cprt', text_tag(b'cprt', 'No copyright; made from FOGRA39L.ti3 (zlib licence) of icc-profiles-free')),
        (b'wtpt', b'XYZ ' + bytes(4) + b''.join(s15(v) for v in white)),
        (b'A2B0', lut),
    ]
    # A2B1 (colorimetric) and A2B2 (saturation) share the one table.
    table = bytearray()
    body = bytearray()
    offset = 128 + 4 + 12 * (len(tags) + 2)
    places = {}
    for sig, data in tags:
        while len(body) % 4:
            body += b'\0'
        places[sig] = (offset + len(body), len(data))
        body += data
    entries = [(sig, *places[sig]) for sig, _ in tags] + [(b'A2B1', *places[b'A2B0']), (b'A2B2', *places[b'A2B0'])]
    table += struct.pack('>I', len(entries))
    for sig, at, size in entries:
        table += sig + struct.pack('>II', at, size)
    size = 128 + len(table) + len(body)
    header = (struct.pack('>I', size) + bytes(4) + struct.pack('>I', 0x02100000) + b'prtrCMYKLab ' +
              struct.pack('>6H', 2006, 12, 1, 0, 0, 0) + b'acsp' + bytes(4) + bytes(4) + bytes(4) + bytes(4) +
              bytes(8) + struct.pack('>I', 0) + b''.join(s15(v / 100) for v in D50) + bytes(4) + bytes(16))
    header += bytes(128 - len(header))
    return header + bytes(table) + bytes(body)


def main(source, target):
    patches = read_ti3(source)
    mean, worst, model = fit(patches)
    data = profile(model)
    open(target, 'wb').write(data)
    print(f'{target}: {len(data)} bytes; model n = {model.n:.1f}, '
          f'distance from the {len(patches)} measured patches: mean {mean:.2f}, largest {worst:.2f} (CIE76)')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
