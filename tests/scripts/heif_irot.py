#!/usr/bin/env python3
"""Gives the primary image of a HEIF file (as heif-enc writes it) a
rotation property: heif_irot.py IN OUT ANGLE, ANGLE in quarter turns
anticlockwise (0..3), as a phone marks a photo taken upright. heif-enc
writes none itself. Adds an 'irot' box to ipco, associates it with the
primary item in ipma, and moves the file offsets of iloc by the bytes added."""
import struct, sys

def boxes(data, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        head = 8
        if size == 1:
            size, head = struct.unpack('>Q', data[at + 8:at + 16])[0], 16
        elif size == 0:
            size = end - at
        yield kind.decode('latin-1'), at, head, at + size
        at += size

def child(data, start, end, name):
    return next(b for b in boxes(data, start, end) if b[0] == name)

def main(src, dst, angle):
    data = bytearray(open(src, 'rb').read())
    _, meta, mhead, mend = child(data, 0, len(data), 'meta')
    mkids = meta + mhead + 4
    _, pitm, phead, _ = child(data, mkids, mend, 'pitm')
    pv = data[pitm + phead]
    primary = struct.unpack('>H' if pv == 0 else '>I', data[pitm + phead + 4:pitm + phead + (6 if pv == 0 else 8)])[0]
    _, iprp, ihead, iend = child(data, mkids, mend, 'iprp')
    _, ipco, chead, cend = child(data, iprp + ihead, iend, 'ipco')
    index = sum(1 for _ in boxes(data, ipco + chead, cend)) + 1
    assert index < 128
    _, ipma, ahead, aend = child(data, iprp + ihead, iend, 'ipma')
    version, flags = data[ipma + ahead], int.from_bytes(data[ipma + ahead + 1:ipma + ahead + 4], 'big')
    assert flags & 1 == 0
    at = ipma + ahead + 8
    for _ in range(struct.unpack('>I', data[ipma + ahead + 4:ipma + ahead + 8])[0]):
        idsize = 2 if version < 1 else 4
        item = int.from_bytes(data[at:at + idsize], 'big')
        count = data[at + idsize]
        if item == primary:
            break
        at += idsize + 1 + count
    else:
        raise SystemExit('no association of the primary item')
    added = 10
    # Sizes first, while the offsets hold; then the insertions, the later
    # one (in ipma, which follows ipco) first.
    for box, grow in ((ipma, 1), (ipco, 9), (iprp, 10), (meta, 10)):
        struct.pack_into('>I', data, box, struct.unpack('>I', data[box:box + 4])[0] + grow)
    data[at + idsize] = count + 1
    data[at + idsize + 1 + count:at + idsize + 1 + count] = bytes([0x80 | index])
    data[cend:cend] = struct.pack('>I4sB', 9, b'irot', angle)
    # iloc: construction method 0 offsets past meta move by what was added.
    mend += added
    _, iloc, lhead, _ = child(data, meta + mhead + 4, mend, 'iloc')
    at = iloc + lhead
    version = data[at]
    osize, lsize = data[at + 4] >> 4, data[at + 4] & 15
    bsize, xsize = data[at + 5] >> 4, (data[at + 5] & 15) if version else 0
    idsize = 4 if version == 2 else 2
    count = int.from_bytes(data[at + 6:at + 6 + idsize], 'big')
    at += 6 + idsize
    def move(pos, size):
        if size:
            value = int.from_bytes(data[pos:pos + size], 'big')
            if value >= meta:
                data[pos:pos + size] = (value + added).to_bytes(size, 'big')
    for _ in range(count):
        at += idsize
        method = 0
        if version:
            method = int.from_bytes(data[at:at + 2], 'big') & 15
            at += 2
        at += 2
        base = at
        at += bsize
        extents = int.from_bytes(data[at:at + 2], 'big')
        at += 2
        if method == 0 and bsize:
            move(base, bsize)
        for _ in range(extents):
            at += xsize
            if method == 0 and not bsize:
                move(at, osize)
            at += osize + lsize
    open(dst, 'wb').write(data)

if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]))
