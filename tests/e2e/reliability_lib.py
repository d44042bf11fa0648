# Hand-made containers and SZDD streams for the reliability tests and the seed corpus, including
# layouts sfxrun-pack refuses to write; plain Python, no sfxrun code.
import struct

SIGNATURE = b"Archive" + b"Installer" + b"\0"   # 17 bytes, the text and its NUL
ENTRY_SIZE = 536
TRAILER_SIZE = 264
SZDD_MAGIC = b"SZDD\x88\xf0\x27\x33"


def field(name, size=256):
    """A name field: the bytes, then zeros; a name of 256 bytes or more fills it without a NUL."""
    data = name.encode("utf-8") if isinstance(name, str) else bytes(name)
    return data[:size].ljust(size, b"\0")


def entry(stored, expanded, offset, length, stamp=0):
    return field(stored) + field(expanded) + struct.pack("<qii8x", stamp, offset, length)


class Member:
    def __init__(self, stored, data=b"", expanded=None, offset=None, length=None, stamp=0):
        self.stored = stored
        self.expanded = stored if expanded is None else expanded
        self.data = data
        self.offset = offset      # None: where the writer puts the bytes
        self.length = length      # None: len(data)
        self.stamp = stamp


def container(image, members, gap=b"", tail=b"", count=None, entry0_name="sfxrun-stub"):
    """image, then each member's bytes, the gap, the directory, the trailer and the tail."""
    out = bytearray(image)
    entries = [entry(entry0_name, entry0_name, 0, len(image))]
    for m in members:
        offset = len(out) if m.offset is None else m.offset
        length = len(m.data) if m.length is None else m.length
        entries.append(entry(m.stored, m.expanded, offset, length, m.stamp))
        out += m.data
    out += gap
    for e in entries:
        out += e
    n = len(entries) if count is None else count
    out += SIGNATURE.ljust(256, b"\0") + struct.pack("<i4x", n)
    out += tail
    return bytes(out)


def szdd_items(items, length, missing=b"x"):
    """An SZDD stream from items: an int is a literal byte, (position, count) a match from the
    4096-byte ring (position is the ring index, count 3..18)."""
    body = bytearray()
    for start in range(0, len(items), 8):
        group = items[start:start + 8]
        control = 0
        data = bytearray()
        for bit, item in enumerate(group):
            if isinstance(item, int):
                control |= 1 << bit
                data.append(item)
            else:
                position, count = item
                data.append(position & 0xFF)
                data.append(((position >> 4) & 0xF0) | (count - 3))
        body.append(control)
        body += data
    return SZDD_MAGIC + b"A" + missing[:1] + struct.pack("<I", length) + bytes(body)


def szdd_literals(data, missing=b"x"):
    return szdd_items(list(data), len(data), missing)
