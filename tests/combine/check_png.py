# Reads a PNG with Python's own zlib: every chunk's CRC, one zlib stream over
# the IDAT chunks (its checksum included) holding exactly the rows of the
# header, IEND last. Prints the colour type and the number of IDAT chunks.
import struct
import sys
import zlib

data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'signature'
pos, idat, types = 8, [], []
while pos < len(data):
    length, = struct.unpack('>I', data[pos:pos + 4])
    kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
    crc, = struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])
    assert zlib.crc32(kind + body) == crc, 'CRC of %r' % kind
    types.append(kind)
    pos += 12 + length
    if kind == b'IHDR':
        width, height, depth, colour = struct.unpack('>IIBB', body[:10])
    elif kind == b'IDAT':
        idat.append(body)
assert types[0] == b'IHDR' and types[-1] == b'IEND', types
stream = zlib.decompressobj()
rows = stream.decompress(b''.join(idat))
assert stream.eof and not stream.unused_data, 'one zlib stream, nothing after it'
channels = {2: 3, 6: 4}[colour]
assert depth == 8 and len(rows) == height * (1 + width * channels), 'rows'
assert all(rows[r * (1 + width * channels)] <= 4 for r in range(height)), 'filter'
print(colour, len(idat))
