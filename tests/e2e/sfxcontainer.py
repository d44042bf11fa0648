# Makes and reads containers byte by byte for the end-to-end tests, independently of sfxrun-pack; test helper only.
"""A container is the stub, the members' stored bytes, the directory (536-byte records, entry 0 for
the stub) and a 264-byte trailer that begins with "ArchiveInstaller" and a NUL. This module writes
any layout, including ones the builder refuses (unplain names, a count of one, data outside the
file, stamps with a high half), so the launcher's handling of them can be run as a process."""

import struct
from dataclasses import dataclass
from typing import List, Optional

SIGNATURE = b"ArchiveInstaller\0"
ENTRY_SIZE = 536
TRAILER_SIZE = 264
NAME_FIELD = 256
SZDD_MAGIC = b"SZDD\x88\xf0\x27\x33"


@dataclass
class Entry:
    stored: bytes
    expanded: bytes
    data: bytes = b""
    # The whole 64-bit field as written; the launcher reads only its low half, signed.
    mtime: int = 0
    # Overrides of the computed fields, for layouts that point elsewhere than the data.
    offset: Optional[int] = None
    length: Optional[int] = None


def name_field(name: bytes) -> bytes:
    if len(name) > NAME_FIELD:
        raise ValueError("a name field holds 256 bytes")
    return name + b"\0" * (NAME_FIELD - len(name))


def entry_record(stored: bytes, expanded: bytes, mtime: int, offset: int, length: int) -> bytes:
    record = name_field(stored) + name_field(expanded)
    record += struct.pack("<QiiQ", mtime & 0xFFFFFFFFFFFFFFFF, offset, length, 0)
    assert len(record) == ENTRY_SIZE
    return record


def build(stub: bytes, members: List[Entry], count: Optional[int] = None, gap: bytes = b"",
          tail: bytes = b"", stub_name: bytes = b"stub") -> bytes:
    """The stub, each member's data in order, an optional gap, the directory, the trailer, a tail.
    count overrides the trailer's entry count (the directory still holds every entry given)."""
    body = bytearray(stub)
    records = [entry_record(stub_name, stub_name, 0, 0, len(stub))]
    for member in members:
        offset = len(body)
        body += member.data
        records.append(entry_record(member.stored, member.expanded, member.mtime,
                                    member.offset if member.offset is not None else offset,
                                    member.length if member.length is not None else len(member.data)))
    body += gap
    for record in records:
        body += record
    entry_count = len(records) if count is None else count
    body += SIGNATURE + b"\0" * (NAME_FIELD - len(SIGNATURE)) + struct.pack("<iI", entry_count, 0)
    body += tail
    return bytes(body)


def szdd(expanded_length: int, payload: bytes, mode: bytes = b"A", missing: bytes = b"\0") -> bytes:
    """An SZDD stream with the given header fields and compressed payload, as written."""
    return SZDD_MAGIC + mode + missing + struct.pack("<I", expanded_length) + payload


def szdd_literals(data: bytes, missing: bytes = b"\0") -> bytes:
    """data as a valid SZDD stream of literals only: a flag byte of all ones before each eight bytes."""
    out = bytearray()
    for i in range(0, len(data), 8):
        out.append(0xFF)
        out += data[i:i + 8]
    return szdd(len(data), bytes(out), missing=missing)


@dataclass
class Listed:
    stored: bytes
    expanded: bytes
    mtime: int
    offset: int
    length: int

    @property
    def compressed(self) -> bool:
        return self.stored != self.expanded


def read_directory(container: bytes) -> List[Listed]:
    """The directory of a well-formed container (the trailer nearest the end, no tail search bound)."""
    at = container.rfind(SIGNATURE)
    if at < 0:
        raise ValueError("no trailer")
    (count,) = struct.unpack_from("<i", container, at + NAME_FIELD)
    start = at - count * ENTRY_SIZE
    listed = []
    for i in range(count):
        base = start + i * ENTRY_SIZE
        stored = container[base:base + NAME_FIELD].split(b"\0", 1)[0]
        expanded = container[base + NAME_FIELD:base + 2 * NAME_FIELD].split(b"\0", 1)[0]
        mtime, offset, length = struct.unpack_from("<qii", container, base + 2 * NAME_FIELD)
        listed.append(Listed(stored, expanded, mtime, offset, length))
    return listed
