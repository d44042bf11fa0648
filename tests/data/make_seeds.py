#!/usr/bin/env python3
# Writes the fuzz seed corpus: containers/ and szdd/, each file named after what it exercises.
# The files are checked in; rerun this only to change the corpus (python3 tests/data/make_seeds.py).
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from sfxcontainer import Entry, build, szdd, szdd_literals, SIGNATURE, TRAILER_SIZE  # noqa: E402


def Member(stored, data=b"", expanded=None, offset=None, length=None):
    stored = stored.encode() if isinstance(stored, str) else stored
    expanded = stored if expanded is None else expanded.encode()
    return Entry(stored, expanded, data, offset=offset, length=length)


def container(image, members, count=None, gap=b"", tail=b""):
    return build(image, members, count=count, gap=gap, tail=tail)


def szdd_items(items, length, missing=b"x"):
    """An SZDD stream from items: an int is a literal byte, (position, count) a match from the
    4096-byte ring (position is the ring index, count 3..18)."""
    body = bytearray()
    for start in range(0, len(items), 8):
        group = items[start:start + 8]
        control, data = 0, bytearray()
        for bit, item in enumerate(group):
            if isinstance(item, int):
                control |= 1 << bit
                data.append(item)
            else:
                position, count = item
                data += bytes([position & 0xFF, ((position >> 4) & 0xF0) | (count - 3)])
        body.append(control)
        body += data
    return szdd(length, bytes(body), missing=missing)

IMAGE = b"MZ" + b"\x90" * 62          # a stand-in for the stub: entry 0 covers it
PROBE = b"#!/bin/sh\nexit 0\n"
TEXT = b"The quick brown fox jumps over the lazy dog.\n"


def two(*extra, **kw):
    return container(IMAGE, list(extra) + [Member("data.bin", b"hello"), Member("probe.sh", PROBE)], **kw)


def at_distance(distance, size=33000):
    """A valid container whose trailer begins exactly `distance` bytes before the end."""
    base = container(IMAGE, [Member("probe.sh", PROBE)])
    pad = distance - TRAILER_SIZE
    return b"\0" * (size - len(base) - pad) + base + b"\0" * pad if pad >= 0 else base


def containers():
    c = {}
    c["valid_two_members"] = two()
    c["valid_compressed_member"] = container(IMAGE, [
        Member("readme.tx_", szdd_literals(TEXT, b"t"), expanded="readme.txt"), Member("probe.sh", PROBE)])
    c["valid_one_entry"] = container(IMAGE, [])
    c["valid_count_zero"] = container(IMAGE, [], count=0)
    c["valid_empty_member"] = two(Member("empty.bin", b""))
    c["valid_gap_before_directory"] = two(gap=b"20240101")
    c["valid_signed_tail"] = two(tail=b"\0" + struct.pack("<IHH", 600, 0x200, 2) + b"\x30" * 592)
    c["valid_fill_run_tail"] = two(tail=b"\x1a" * 3000)
    c["valid_trailer_at_search_limit"] = at_distance(32750)
    c["trailer_past_search_limit"] = at_distance(32751)
    c["only_fill_bytes"] = b"\x1a" * 32751
    c["two_trailers_later_wins"] = two(tail=container(b"", []))
    c["signature_without_nul"] = two()[:-TRAILER_SIZE + 16] + b"X" + two()[-TRAILER_SIZE + 17:]
    c["signature_too_near_end"] = b"\0" * 400 + SIGNATURE + b"\0" * 83
    c["count_negative"] = two(count=-1)
    c["count_257"] = two(count=257)
    c["count_int_max"] = two(count=0x7FFFFFFF)
    c["directory_before_file"] = two(count=40)
    for label, name in [("dotdot_backslash", "..\\x"), ("dotdot_slash", "../x"), ("slash", "a/b"),
                        ("backslash", "a\\b"), ("drive", "C:x"), ("stream", "x:stream"), ("dot", "."),
                        ("dotdot", ".."), ("empty", ""), ("without_nul", "n" * 256)]:
        c["name_" + label] = two(Member(name, b"x"))
    c["launch_name_dotdot_slash"] = container(IMAGE, [Member("../probe.sh", PROBE)])
    c["offset_negative"] = two(Member("odd.bin", offset=-100, length=10))
    c["offset_past_end"] = two(Member("odd.bin", offset=1 << 20, length=10))
    c["member_overlaps_directory"] = two(Member("odd.bin", offset=len(IMAGE), length=400))
    c["length_int_max"] = two(Member("odd.bin", offset=len(IMAGE), length=0x7FFFFFFF))
    c["compressed_member_truncated"] = container(IMAGE, [
        Member("readme.tx_", szdd_literals(TEXT, b"t")[:-5], expanded="readme.txt"), Member("probe.sh", PROBE)])
    c["compressed_member_not_szdd"] = container(IMAGE, [
        Member("readme.tx_", TEXT, expanded="readme.txt"), Member("probe.sh", PROBE)])
    return c


def szdd_streams():
    s = {}
    s["literals_only"] = szdd_literals(TEXT)
    # Ring position 4080 is where output starts; positions before it read the initial spaces.
    s["match_from_initial_spaces"] = szdd_items([(4000, 18), ord("a")], 19)
    s["overlapping_match_run"] = szdd_items([ord("a"), (4080, 18), (4080, 18)], 37)
    s["match_across_ring_wrap"] = szdd_items([ord("x")] * 20 + [(4090, 18)] * 240, 20 + 18 * 240)
    s["empty_expanded"] = szdd_items([], 0)
    s["truncated_header"] = szdd_literals(TEXT)[:10]
    s["bad_magic"] = b"SZDD\x88\xf0\x27\x34" + szdd_literals(TEXT)[8:]
    s["bad_mode"] = szdd_literals(TEXT)[:8] + b"B" + szdd_literals(TEXT)[9:]
    s["data_shorter_than_length"] = szdd_items(list(TEXT), len(TEXT) + 10)
    s["data_longer_than_length"] = szdd_items(list(TEXT), len(TEXT) - 10)
    s["match_past_length"] = szdd_items([ord("a"), (4080, 18)], 5)
    s["match_cut_after_first_byte"] = szdd_items([], 5)[:14] + bytes([0x00, 0x10])
    s["length_4gib_claim"] = szdd_literals(TEXT)[:10] + struct.pack("<I", 0xFFFFFFFF) + szdd_literals(TEXT)[14:]
    return s


def main():
    for folder, table, suffix in [("containers", containers(), ".sfx"), ("szdd", szdd_streams(), ".sz_")]:
        path = os.path.join(HERE, folder)
        os.makedirs(path, exist_ok=True)
        for name, data in sorted(table.items()):
            with open(os.path.join(path, name + suffix), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
