#!/usr/bin/env python3
"""Makes the HEIC and AVIF files of the HEIC/AVIF decoder's test, in the folder
given (default: this script's folder). Run on Debian 12 with ImageMagick
and heif-enc (libheif-examples), which encodes with x265 and aom, and
avifenc (libavif-bin) for the 10-bit AVIF.

heif-enc 1.15 writes no multi-tile grid (and gave no irot for a JPEG's
EXIF orientation), but it wraps a picture whose size is not a multiple of
the coded block in a 1 x 1 grid (to crop it). Three files are edited from
such a one, box by box:
  grid.heic      the grid made 2 x 2, 122 x 74 (its one tile, x265's 64 x 64
                 coded picture with its padded edge, referenced four times);
  rotated.heic   an irot (90 degrees anticlockwise) on the grid;
  transverse.heic an imir (horizontal axis) and an irot (270 degrees).
"""
import os
import struct
import subprocess
import sys

out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(__file__))
work = os.path.join(out, 'work')
os.makedirs(work, exist_ok=True)


def run(command):
    subprocess.run(command, shell=True, check=True, cwd=work)


run("convert-im6.q16 -seed 5 -size 61x37 plasma:red-blue -depth 8 src.png")
run("convert-im6.q16 -seed 5 -size 61x37 plasma:red-blue -depth 16 src16.png")
run("convert-im6.q16 src.png -alpha set -channel A -fx 'i/w' +channel rgba.png")
run("convert-im6.q16 src.png -colorspace Gray -type Grayscale grey.png")
for name, command in [("8bit.heic", "heif-enc -q 90 src.png"),
                      ("10bit.heic", "heif-enc -b 10 -q 90 src16.png"),
                      ("alpha.heic", "heif-enc -q 90 rgba.png"),
                      ("grey.heic", "heif-enc -q 90 grey.png"),  # monochrome HEVC (4:0:0)
                      ("8bit.avif", "heif-enc -A -q 90 src.png"),
                      ("10bit.avif", "avifenc -d 10 -y 420 --min 8 --max 12 src16.png"),
                      ("alpha.avif", "heif-enc -A -q 90 rgba.png")]:
    # heif-enc's aom aborts on 10 bits; avifenc (libavif-bin) makes that one
    # and takes the output as its last argument.
    target = os.path.join(out, name)
    run(command + (" " if command.startswith("avifenc") else " -o ") + target)


def boxes(data):
    at = 0
    while at < len(data):
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        yield kind.decode(), data[at + 8:at + size]
        at += size


def box(kind, payload):
    return struct.pack('>I4s', 8 + len(payload), kind.encode()) + payload


def edit(source, target, rows=1, columns=1, transforms=()):
    """Rewrites the meta box of `source`: the primary grid item as rows x
    columns references of its tile, then the transform properties appended
    and associated (essential) with the primary item; the file offsets of
    the iloc then moved by the growth of the meta box."""
    data = open(os.path.join(out, source), 'rb').read()
    top = list(boxes(data))
    kinds = [k for k, _ in top]
    assert kinds[:2] == ['ftyp', 'meta'] and kinds[-1] == 'mdat', kinds
    meta = top[1][1]
    children = list(boxes(meta[4:]))
    primary = None
    for kind, payload in children:
        if kind == 'pitm':
            primary = struct.unpack('>H', payload[4:6])[0]
    rebuilt = []
    for kind, payload in children:
        if kind == 'idat':  # the grid's 8 bytes: version, flags, rows-1, columns-1, width, height
            v, f, _, _, w, h = struct.unpack('>BBBBHH', payload[:8])
            payload = struct.pack('>BBBBHH', v, f, rows - 1, columns - 1, w * columns, h * rows)
        elif kind == 'iref':
            head, refs = payload[:4], list(boxes(payload[4:]))
            payload = head
            for ref_kind, ref in refs:
                source_id, count = struct.unpack('>HH', ref[:4])
                if ref_kind == 'dimg' and source_id == primary:
                    assert count == 1
                    ref = struct.pack('>HH', source_id, rows * columns) + ref[4:6] * (rows * columns)
                payload += box(ref_kind, ref)
        elif kind == 'iprp':
            parts = dict(boxes(payload))
            ipco = list(boxes(parts['ipco']))
            first = len(ipco) + 1
            ipco += [(k, bytes([v])) for k, v in transforms]
            ipma = parts['ipma']
            # The grid's own ispe (the first one associated with it) takes the new size.
            at = 8
            for _ in range(struct.unpack('>I', ipma[4:8])[0]):
                item, n = struct.unpack('>HB', ipma[at:at + 3])
                for index in ipma[at + 3:at + 3 + n]:
                    k, p = ipco[(index & 0x7F) - 1]
                    if item == primary and k == 'ispe':
                        w, h = struct.unpack('>II', p[4:12])
                        ipco[(index & 0x7F) - 1] = (k, p[:4] + struct.pack('>II', w * columns, h * rows))
                at += 3 + n
            assert ipma[:4] == b'\0\0\0\0'  # version 0: 16-bit item ids, 7-bit indices
            count = struct.unpack('>I', ipma[4:8])[0]
            entries, at = ipma[:8], 8
            for _ in range(count):
                item, n = struct.unpack('>HB', ipma[at:at + 3])
                assoc = ipma[at + 3:at + 3 + n]
                at += 3 + n
                if item == primary:
                    assoc += bytes(0x80 | (first + i) for i in range(len(transforms)))
                entries += struct.pack('>HB', item, len(assoc)) + assoc
            payload = box('ipco', b''.join(box(k, p) for k, p in ipco)) + box('ipma', entries)
        rebuilt.append((kind, payload))
    new_meta = box('meta', meta[:4] + b''.join(box(k, p) for k, p in rebuilt))
    delta = len(new_meta) - (len(meta) + 8)
    # iloc version 1: the file offsets (construction method 0) move by delta.
    body = bytearray(new_meta)
    at = 12
    while at < len(body):
        size, kind = struct.unpack('>I4s', body[at:at + 8])
        if kind == b'iloc':
            p = at + 8
            assert body[p] == 1 and body[p + 4] == 0x44 and body[p + 5] == 0x40
            count = struct.unpack('>H', body[p + 6:p + 8])[0]
            q = p + 8
            for _ in range(count):
                method = struct.unpack('>H', body[q + 2:q + 4])[0] & 15
                extents = struct.unpack('>H', body[q + 10:q + 12])[0]
                if method == 0:  # extent offsets count from the base offset
                    base = struct.unpack('>I', body[q + 6:q + 10])[0]
                    if base:
                        body[q + 6:q + 10] = struct.pack('>I', base + delta)
                    else:
                        for e in range(extents):
                            o = q + 12 + 8 * e
                            offset = struct.unpack('>I', body[o:o + 4])[0]
                            body[o:o + 4] = struct.pack('>I', offset + delta)
                q += 12 + 8 * extents
        at += size
    ftyp = box('ftyp', top[0][1])
    open(os.path.join(out, target), 'wb').write(ftyp + bytes(body) + box('mdat', top[-1][1]))


edit('8bit.heic', 'grid.heic', rows=2, columns=2)
edit('8bit.heic', 'rotated.heic', transforms=[('irot', 1)])
edit('8bit.heic', 'transverse.heic', transforms=[('imir', 1), ('irot', 3)])
run("rm -f src.png src16.png rgba.png")
os.rmdir(work)
