#!/usr/bin/env python3
# The launcher's whole run as processes: one table of scenarios, run on POSIX and under wine64; test code only.
"""Usage:
  launcher_run.py posix --stub sfxrun-stub --pack sfxrun-pack --probe probe.sh --scratch DIR [NAME...]
  launcher_run.py wine --stub sfxrun-stub64.exe --pack sfxrun-pack --probe e2e-probe.exe
                  --parent e2e-parent.exe --scratch DIR [NAME...]

Each scenario builds a container (with sfxrun-pack or, for layouts the builder refuses, with
sfxcontainer), runs it with its temporary folder on a scratch folder and its working folder
elsewhere, and checks the exit status, the messages, what the probe saw while it ran, what is left in
the temporary folder, and that the container's own bytes did not change. NAMEs pick scenarios by
substring. Ends with the line "N passed, N failed"."""

import argparse
import hashlib
import os
import random
import re
import resource
import shutil
import struct
import subprocess
import sys
import time
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sfxcontainer  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROBE = b"<probe>"  # stands for the platform's probe program in a member's data
OLD_STAMP = 1_000_000_000  # the temporary folder's mtime before a run, to see whether it was touched


def text_data(size: int, seed: int = 1) -> bytes:
    """Compressible text of exactly size bytes."""
    words = [b"launcher", b"member", b"folder", b"probe", b"stamp", b"trailer", b"\n"]
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def random_data(size: int, seed: int = 2) -> bytes:
    """Incompressible bytes of exactly size bytes."""
    return random.Random(seed).randbytes(size)


def low_half(mtime: int) -> int:
    """The stamp the launcher gives a file: the field's low 32 bits, signed."""
    value = mtime & 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


# ---- the table ----

@dataclass
class Member:
    name: str                      # the expanded name
    data: bytes = PROBE
    mtime: int = 1_600_000_000     # the directory's 64-bit field (hand-made) or the file's mtime (pack)
    # Hand-made containers only: how the member is stored. "stored": as it is; "mscompress": the
    # output of mscompress under the compressed-name form; "raw": the bytes in `stored_bytes`
    # under the name `stored`.
    how: str = "stored"
    stored: Optional[str] = None
    stored_bytes: Optional[bytes] = None
    offset: Optional[int] = None   # hand-made: a dataOffset that points elsewhere


@dataclass
class Expect:
    exit: int                          # the launcher's status: 0, -1, 3, 5, 6
    message: Optional[str] = None      # the one message id shown, or none
    folder: Optional[str] = None       # the work folder's name in the temporary folder, when the probe runs
    # What stays in the temporary folder afterwards: relative path -> bytes, or None for any content;
    # a path ending in "/" is a folder. The names the scenario made beforehand are added by the runner.
    left: Dict[str, Optional[bytes]] = field(default_factory=dict)
    # Whether the temporary folder itself was written (something created or removed in it).
    touched: Optional[bool] = None


@dataclass
class Scenario:
    name: str
    members: List[Member]              # the last one is the program that is started
    expect: Expect
    maker: str = "hand"                # "pack": sfxrun-pack; "pack-store": sfxrun-pack --store; "hand"
    count: Optional[int] = None        # hand-made: the trailer's entry count, if not the real one
    gap: bytes = b""                   # hand-made: bytes no entry covers, before the directory
    tail: bytes = b""                  # hand-made: bytes after the trailer
    taken: List[Tuple[str, str]] = field(default_factory=list)  # (name, "dir" | "file" | "link") made in temp first
    temp_trailing_separator: bool = False
    temp_missing: bool = False         # the temporary folder named does not exist
    args: List[str] = field(default_factory=list)
    probe_env: Dict[str, str] = field(default_factory=dict)
    fsize_limit: Optional[int] = None  # RLIMIT_FSIZE in bytes for the launcher
    bare_stub: bool = False            # run the stub itself, no container
    twin: bool = False                 # POSIX: a second run of the same container at the same time
    platforms: Tuple[str, ...] = ("posix", "wine")
    # Premise of a pack-made container: names that must have been compressed, and that must not.
    compressed: Tuple[str, ...] = ()
    not_compressed: Tuple[str, ...] = ()


NOTES = text_data(6000, seed=11)
BLOB = random_data(3000, seed=12)
README = text_data(900, seed=13)
LONG_BASE = "w" * 240

SCENARIOS = [
    # The main road.
    Scenario("main road: sfxrun-pack, stored and compressed members, probe exits 7",
             [Member("notes.txt", NOTES, 1_500_000_000), Member("blob.bin", BLOB, 1_400_000_000),
              Member("viewer.main.exe", mtime=1_300_000_000)],
             Expect(0, folder="viewer", touched=True),
             maker="pack", probe_env={"SFXRUN_PROBE_EXIT": "7"},
             compressed=("notes.txt",), not_compressed=("blob.bin",)),
    Scenario("main road: mscompress member in a hand-made container, probe sleeps and exits 3",
             [Member("readme.txt", README, 1_234_567_890, how="mscompress"), Member("data.bin", BLOB, 1_111_111_111),
              Member("setup.exe", mtime=1_222_222_222)],
             Expect(0, folder="setup", touched=True),
             probe_env={"SFXRUN_PROBE_EXIT": "3", "SFXRUN_PROBE_SLEEP": "1"}),
    Scenario("arguments to the launcher change nothing and are not passed on",
             [Member("notes.txt", NOTES), Member("viewer.main.exe")],
             Expect(0, folder="viewer", touched=True),
             maker="pack", args=["--extract", "C:\\elsewhere", "two words", "-o"]),
    Scenario("sizes 0, 16384 and 16385 (one read, then two)",
             [Member("zero.bin", b""), Member("chunk.bin", random_data(16384, 3)),
              Member("chunk1.bin", random_data(16385, 4)), Member("probe.exe")],
             Expect(0, folder="probe", touched=True),
             maker="pack-store", not_compressed=("zero.bin", "chunk.bin", "chunk1.bin")),
    Scenario("time stamps 0, -1, -2^31 and a non-zero high half",
             [Member("epoch.txt", b"epoch\n", 0), Member("minus1.txt", b"minus one\n", -1),
              Member("oldest.txt", b"oldest\n", -(1 << 31)), Member("high.txt", b"high half\n", (7 << 32) | 1_000_000_000),
              Member("probe.exe", mtime=(1 << 32) | 0x7FFFFFFF)],
             Expect(0, folder="probe", touched=True)),

    Scenario("a gap before the directory and a signature-like tail with a 0x1A run change nothing",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(0, folder="viewer", touched=True),
             gap=b"20240101", tail=b"\0" + random_data(10656, 6) + b"\x1a" * 2000),

    # The work folder's name.
    Scenario("a name without a full stop is used whole",
             [Member("a.txt", b"a\n"), Member("viewer")], Expect(0, folder="viewer", touched=True)),
    Scenario("a name beginning with a full stop gives (1) directly in the temporary folder",
             [Member("a.txt", b"a\n"), Member(".hidden.exe")], Expect(0, folder="(1)", touched=True)),
    Scenario("a plain file under the base name makes it taken",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(0, folder="viewer(1)", touched=True),
             taken=[("viewer", "file")]),
    Scenario("base and (1) to (9) taken gives (10)",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(0, folder="viewer(10)", touched=True),
             taken=[("viewer", "dir")] + [("viewer(%d)" % i, "dir" if i % 2 else "file") for i in range(1, 10)]),
    Scenario("a dangling link under the base name makes it taken",
             [Member("viewer.exe")], Expect(0, folder="viewer(1)", touched=True),
             taken=[("viewer", "link")], platforms=("posix",)),
    # 表 is 95 5C in code page 932: a launcher that took its trail byte for a separator would glue
    # the members' names onto the folder's.
    Scenario("a double-byte name whose trail byte is 0x5C: the folder still gets its separator",
             [Member("a.txt", b"a\n"), Member("表.exe")], Expect(0, folder="表", touched=True)),
    Scenario("a temporary path with a trailing separator gets no second one",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(0, folder="viewer", touched=True),
             temp_trailing_separator=True),
    Scenario("a temporary folder that does not exist: IDS_CANNOT_CREATE, exit 6",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(6, "IDS_CANNOT_CREATE"), temp_missing=True),
    Scenario("a numbered candidate that would not fit 259 characters: IDS_CANNOT_CREATE",
             [Member(LONG_BASE + ".exe")], Expect(6, "IDS_CANNOT_CREATE"), taken=[(LONG_BASE, "dir")]),

    # Counts, launch and clean-up.
    Scenario("n = 1: a folder is created and removed, no message, exit -1",
             [], Expect(-1, touched=True)),
    Scenario("n = 2: the program alone, the one file deleted",
             [Member("solo.exe")], Expect(0, folder="solo", touched=True)),
    Scenario("n = 0: IDS_DAMAGED after the directory, nothing created",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(6, "IDS_DAMAGED", touched=False), count=0),
    Scenario("a start that fails: no message, members deleted, folder removed, exit -1",
             [Member("a.txt", b"a\n"), Member("notes.dat", b"not a program\n" * 4)], Expect(-1, touched=True)),
    Scenario("a launch path over 259 characters counts as a start that failed",
             [Member("a.txt", b"a\n"), Member(LONG_BASE[:120] + ".exe" + "x" * 130)], Expect(-1, touched=True),
             platforms=("posix",)),  # on Windows the same path is already too long to extract the program
    Scenario("a probe that leaves a file: members deleted, the folder and that file stay",
             [Member("a.txt", b"a\n"), Member("viewer.exe")],
             Expect(0, folder="viewer", left={"viewer/": None, "viewer/mine.log": b"left by the probe\n"},
                    touched=True),
             probe_env={"SFXRUN_PROBE_LEAVE": "mine.log"}),

    Scenario("two launchers of one container at once: two folders, no message, both cleaned up",
             [Member("a.txt", b"a\n"), Member("viewer.exe")], Expect(0, folder="viewer", touched=True),
             probe_env={"SFXRUN_PROBE_SLEEP": "1"}, twin=True, platforms=("posix",)),

    # Extraction failures.
    Scenario("a member cut by RLIMIT_FSIZE: IDS_CANNOT_CREATE, the members before it stay",
             [Member("one.txt", b"one\n" * 25), Member("two.txt", b"two\n" * 25),
              Member("big.bin", random_data(50000, 5)), Member("viewer.exe")],
             Expect(6, "IDS_CANNOT_CREATE",
                    left={"viewer/": None, "viewer/one.txt": b"one\n" * 25, "viewer/two.txt": b"two\n" * 25,
                          "viewer/big.bin": None}),
             fsize_limit=20000, platforms=("posix",)),
    Scenario("a member that cannot be created: IDS_CANNOT_CREATE, the members before it stay",
             [Member("one.txt", b"one\n"), Member("bad|name.bin", b"bad\n"), Member("viewer.exe")],
             Expect(6, "IDS_CANNOT_CREATE", left={"viewer/": None, "viewer/one.txt": b"one\n"}),
             platforms=("wine",)),  # '|' is a plain name character on POSIX
    Scenario("an expansion that fails (SZDD of an unknown mode): IDS_CANNOT_CREATE",
             [Member("ok.txt", b"fine\n"),
              Member("broken.txt", how="raw", stored="broken.tx_",
                     stored_bytes=sfxcontainer.szdd(5, b"\xffhello", mode=b"B")),
              Member("viewer.exe")],
             Expect(6, "IDS_CANNOT_CREATE",
                    left={"viewer/": None, "viewer/ok.txt": b"fine\n",
                          "viewer/broken.tx_": sfxcontainer.szdd(5, b"\xffhello", mode=b"B"),
                          "viewer/broken.txt": b""})),
    Scenario("an expansion with empty content: IDS_CANNOT_CREATE",
             [Member("empty.txt", how="raw", stored="empty.tx_", stored_bytes=sfxcontainer.szdd(0, b"")),
              Member("viewer.exe")],
             Expect(6, "IDS_CANNOT_CREATE",
                    left={"viewer/": None, "viewer/empty.tx_": sfxcontainer.szdd(0, b""), "viewer/empty.txt": b""})),

    # Containers refused before anything is created.
    Scenario("the stub alone: IDS_DAMAGED, exit 5, nothing created",
             [], Expect(5, "IDS_DAMAGED", touched=False), bare_stub=True),
    Scenario("a member name with a separator: IDS_DAMAGED, exit 5, nothing created",
             [Member("../outside.txt", b"escaped\n"), Member("viewer.exe")], Expect(5, "IDS_DAMAGED", touched=False)),
    Scenario("member data outside the file: IDS_DAMAGED, exit 5, nothing created",
             [Member("far.bin", b"x" * 100, offset=1 << 30), Member("viewer.exe")],
             Expect(5, "IDS_DAMAGED", touched=False)),
]


# ---- the platforms ----

def read_messages() -> Dict[str, str]:
    texts = {}
    with open(os.path.join(SOURCE_DIR, "resources", "messages.def"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r'SFXRUN_MESSAGE\((\d+), (\w+), "(.*)"\)\s*$', line)
            if m:
                texts[m.group(2)] = m.group(3).replace("\\n", "\n")
    return texts


@dataclass
class RunResult:
    exit: int
    messages: List[Tuple[bytes, bytes, int]]  # text, caption, style
    problems: List[str]                        # what the platform itself found wrong with the run
    seconds: float


class Posix:
    name = "posix"
    container_name = "app"
    encoding = "utf-8"  # names as the POSIX launcher's 8-bit calls take them

    def __init__(self, args):
        self.stub = open(args.stub, "rb").read()
        self.stub_name = os.path.basename(args.stub)
        self.probe = open(args.probe, "rb").read()
        self.pack = args.pack
        self.texts = read_messages()

    def path(self, unix_path: str) -> str:
        return unix_path

    def join(self, *parts: str) -> str:
        return "/".join(parts)

    def digest(self, data: bytes) -> str:
        return "sha256:" + hashlib.sha256(data).hexdigest()

    def status(self, code: int) -> int:
        return code & 0xFF  # -1 reaches a POSIX parent as 255

    def pack_stub_args(self, stub_path: str) -> List[str]:
        return ["--stub", stub_path]

    def run_all(self, jobs: List["Job"]) -> List[RunResult]:
        return [self.run(job) for job in jobs]

    def run(self, job: "Job") -> RunResult:
        full_env = dict(os.environ)
        full_env.update(job.env)
        full_env["TMPDIR"] = job.temp_text

        def limit():
            if job.fsize_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (job.fsize_limit, job.fsize_limit))

        start = time.monotonic()
        twin = None
        if job.twin:
            twin_env = dict(full_env, SFXRUN_PROBE_REPORT=job.report_path + ".twin")
            twin = subprocess.Popen([job.container] + job.args, cwd=job.cwd, env=twin_env, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        done = subprocess.run([job.container] + job.args, cwd=job.cwd, env=full_env, stdin=subprocess.DEVNULL,
                              capture_output=True, preexec_fn=limit, timeout=60)
        problems = []
        if twin is not None:
            out, err = twin.communicate(timeout=60)
            if (twin.returncode, out, err) != (done.returncode, b"", b""):
                problems.append("the twin run gave %d %r %r" % (twin.returncode, out, err))
        seconds = time.monotonic() - start
        messages = []
        # Every line on standard error is one message box: "<caption>: <text>".
        for line in done.stderr.split(b"\n")[:-1]:
            caption, sep, text = line.partition(b": ")
            if not sep:
                problems.append("stray output on stderr: %r" % line)
            messages.append((text, caption, 0x30))
        if done.stderr and not done.stderr.endswith(b"\n"):
            problems.append("stderr does not end in a line feed: %r" % done.stderr)
        if done.stdout:
            problems.append("output on stdout: %r" % done.stdout)
        return RunResult(done.returncode, messages, problems, seconds)

    def message_text(self, message_id: str) -> bytes:
        return self.texts[message_id].encode("utf-8")


class Wine:
    name = "wine"
    container_name = "app.exe"
    encoding = "cp932"  # the ANSI code page in the Japanese locale the runs use

    def __init__(self, args):
        self.stub = open(args.stub, "rb").read()
        self.stub_name = os.path.basename(args.stub)
        self.probe = open(args.probe, "rb").read()
        self.pack = args.pack
        self.parent = args.parent
        self.wine64 = args.wine
        self.texts = read_messages()
        self.cp932 = {}

    def path(self, unix_path: str) -> str:
        return "Z:" + unix_path.replace("/", "\\")

    def join(self, *parts: str) -> str:
        return "\\".join(parts)

    def digest(self, data: bytes) -> str:
        h = 0xcbf29ce484222325
        for b in data:
            h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
        return "fnv1a64:%016x" % h

    def status(self, code: int) -> int:
        return code & 0xFFFFFFFF  # -1 reaches a Windows parent as 0xFFFFFFFF

    def pack_stub_args(self, stub_path: str) -> List[str]:
        return ["--stub", stub_path]

    def message_text(self, message_id: str) -> bytes:
        # The text as a program in code page 932 receives it, converted independently of Python's codec.
        if message_id not in self.cp932:
            self.cp932[message_id] = subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"],
                                                    input=self.texts[message_id].encode("utf-8"),
                                                    capture_output=True, check=True).stdout
        return self.cp932[message_id]

    @staticmethod
    def image_range(image: bytes) -> Tuple[int, int]:
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", image, optional)[0]
        base = struct.unpack_from("<Q", image, optional + 24)[0] if magic == 0x20B else \
            struct.unpack_from("<I", image, optional + 28)[0]
        size = struct.unpack_from("<I", image, optional + 56)[0]
        return base, base + size

    @staticmethod
    def unescape(text: str) -> bytes:
        # Wine's trace escapes: \n \r \t \" \\ and \xNN for every other byte outside printable ASCII.
        out = bytearray()
        i = 0
        while i < len(text):
            c = text[i]
            if c == "\\" and i + 1 < len(text):
                nxt = text[i + 1]
                if nxt == "x":
                    out.append(int(text[i + 2:i + 4], 16))
                    i += 4
                    continue
                out += {"n": b"\n", "r": b"\r", "t": b"\t"}.get(nxt, nxt.encode("latin-1"))
                i += 2
                continue
            out += c.encode("latin-1")
            i += 1
        return bytes(out)

    RELAY = re.compile(r'Call user32\.MessageBoxA\((\w+),\w+(?: "((?:[^"\\]|\\.)*)"(\.\.\.)?)?,'
                       r'\w+(?: "((?:[^"\\]|\\.)*)"(\.\.\.)?)?,(\w+)\) ret=(\w+)')

    def run_all(self, jobs: List["Job"]) -> List[RunResult]:
        """Every job in one Windows session: wine and its services start once for the table."""
        if not jobs:
            return []
        job_file = os.path.join(os.path.dirname(jobs[0].folder), "jobs.txt")
        lines = []
        for job in jobs:
            lines.append("cwd " + self.path(job.cwd))
            for name, value in [("TEMP", job.temp_text), ("TMP", job.temp_text)] + list(job.env.items()):
                lines.append("env %s=%s" % (name, value))
            for arg in [self.path(job.container)] + job.args:
                lines.append("arg " + arg)
            lines.append("end")
        with open(job_file, "wb") as f:
            f.write(("\n".join(lines) + "\n").encode(self.encoding))
        full_env = dict(os.environ)
        full_env.update({"WINEDEBUG": "+relay", "LC_ALL": "ja_JP.UTF-8",
                         "LOCPATH": os.environ.get("SFXRUN_LOCPATH", "/usr/local/share/sfxrun-locale")})
        done = subprocess.run([self.wine64, self.parent, "--jobs", self.path(job_file)], env=full_env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=280)
        exits = {int(m.group(1)): (int(m.group(2), 16), int(m.group(3)))
                 for m in re.finditer(rb"^exit (\d+) 0x([0-9A-F]{8}) (\d+)\r?$", done.stdout, re.M)}
        # The trace of job N lies between the parent's marker for N and the next marker.
        traces = {}
        current = 0
        for line in done.stderr.decode("latin-1").splitlines():
            marker = re.match(r"e2e-parent: job (\d+)$", line)
            if marker:
                current = int(marker.group(1))
            elif "Call user32.MessageBoxA(" in line:
                traces.setdefault(current, []).append(line)
            elif line.startswith("e2e-parent:"):
                traces.setdefault(current, []).append(line)
        results = []
        for number, job in enumerate(jobs, 1):
            if number not in exits:
                results.append(RunResult(-1000, [], ["the parent did not run it: %r %r" % (
                    done.stdout[-500:], done.stderr.decode("latin-1")[-1500:])], 0.0))
                continue
            code, milliseconds = exits[number]
            results.append(self.read_trace(job, traces.get(number, []), code, milliseconds / 1000.0))
        return results

    def read_trace(self, job: "Job", lines: List[str], code: int, seconds: float) -> RunResult:
        low, high = self.image_range(open(job.container, "rb").read())
        problems = []
        messages = []
        for line in lines:
            if line.startswith("e2e-parent:"):
                problems.append(line)
                continue
            call = self.RELAY.search(line)
            if not call:
                problems.append("unreadable MessageBoxA trace: " + line)
                continue
            if not low <= int(call.group(7), 16) < high:
                continue  # a box of the shell or another module, not the launcher's
            if call.group(3) or call.group(5):
                problems.append("the trace cut a message short: " + line)
            messages.append((self.unescape(call.group(2) or ""), self.unescape(call.group(4) or ""),
                             int(call.group(6), 16)))
        return RunResult(code, messages, problems, seconds)


# ---- one scenario ----

def make_tree_entry(path: str, kind: str):
    if kind == "dir":
        os.mkdir(path)
    elif kind == "file":
        with open(path, "wb") as f:
            f.write(b"taken\n")
    else:
        os.symlink(path + ".nowhere", path)


def snapshot(folder: str) -> Dict[str, Optional[bytes]]:
    """Everything under folder: relative path -> bytes; folders end in '/', links map to None."""
    found = {}
    for root, dirs, files in os.walk(folder):
        rel = os.path.relpath(root, folder)
        prefix = "" if rel == "." else rel + "/"
        for d in dirs:
            if os.path.islink(os.path.join(root, d)):
                found[prefix + d] = None
            else:
                found[prefix + d + "/"] = None
        for name in files:
            path = os.path.join(root, name)
            found[prefix + name] = None if os.path.islink(path) else open(path, "rb").read()
    return found


def parse_report(text: str) -> Dict[str, object]:
    report = {"files": {}, "dirs": [], "fds": [], "complete": False}
    for line in text.splitlines():
        parts = line.split("\t")
        if parts[0] in ("path", "cwd", "launcher", "container", "mode", "show", "error"):
            report[parts[0]] = parts[1]
        elif parts[0] == "argc":
            report["argc"] = int(parts[1])
        elif parts[0] == "file":
            report["files"][parts[1]] = (int(parts[2]), int(parts[3]), parts[4])
        elif parts[0] == "dir":
            report["dirs"].append(parts[1])
        elif parts[0] == "fd":
            report["fds"].append(parts[2])
        elif parts[0] == "end":
            report["complete"] = True
    return report


def stage_member(platform, member: Member, folder: str) -> Tuple[str, bytes]:
    """The member's stored name and bytes in a hand-made container."""
    data = platform.probe if member.data == PROBE else member.data
    if member.how == "raw":
        return member.stored, member.stored_bytes
    if member.how == "mscompress":
        source = os.path.join(folder, member.name)
        with open(source, "wb") as f:
            f.write(data)
        subprocess.run(["mscompress", source], check=True, capture_output=True)
        compressed = open(source + "_", "rb").read()
        return member.name[:-1] + "_", compressed
    return member.name, data


def build_container(platform, scenario: Scenario, folder: str, out: str) -> List[str]:
    """Writes the scenario's container to out; returns what is wrong with its premise."""
    problems = []
    if scenario.bare_stub:
        with open(out, "wb") as f:
            f.write(platform.stub)
    elif scenario.maker.startswith("pack"):
        stage = os.path.join(folder, "stage")
        os.mkdir(stage)
        stub_path = os.path.join(folder, "stub")
        with open(stub_path, "wb") as f:
            f.write(platform.stub)
        os.chmod(stub_path, 0o755)
        paths = []
        for member in scenario.members:
            path = os.path.join(stage, member.name)
            with open(path, "wb") as f:
                f.write(platform.probe if member.data == PROBE else member.data)
            os.utime(path, (member.mtime, member.mtime))
            paths.append(path)
        env = dict(os.environ)
        env.pop("SOURCE_DATE_EPOCH", None)
        command = [platform.pack, "-q"] + (["--store"] if scenario.maker == "pack-store" else []) + \
            platform.pack_stub_args(stub_path) + ["-o", out] + paths
        done = subprocess.run(command, capture_output=True, env=env)
        if done.returncode != 0:
            return ["sfxrun-pack failed: %r" % done.stderr]
        listed = {e.expanded.decode(): e for e in sfxcontainer.read_directory(open(out, "rb").read())[1:]}
        for name in scenario.compressed:
            if not listed[name].compressed:
                problems.append("premise: sfxrun-pack stored %s as it is" % name)
        for name in scenario.not_compressed:
            if listed[name].compressed:
                problems.append("premise: sfxrun-pack compressed %s" % name)
    else:
        entries = []
        for member in scenario.members:
            stored, data = stage_member(platform, member, folder)
            entries.append(sfxcontainer.Entry(stored.encode(platform.encoding), member.name.encode(platform.encoding),
                                              data, member.mtime,
                                              offset=member.offset))
        with open(out, "wb") as f:
            f.write(sfxcontainer.build(platform.stub, entries, count=scenario.count, gap=scenario.gap,
                                       tail=scenario.tail))
    os.chmod(out, 0o755)
    return problems


def check_report(platform, scenario: Scenario, report_path: str, temp: str, cwd: str, container: str,
                 entries) -> List[str]:
    if scenario.twin:
        # Whichever run came first took the base name; the other must have made a folder of its own.
        folders = []
        for path in (report_path, report_path + ".twin"):
            if os.path.exists(path):
                folders.append(os.path.basename(os.path.dirname(parse_report(open(path).read()).get("path", ""))))
        base = scenario.expect.folder
        problems = []
        if sorted(folders) != sorted([base, base + "(1)"]):
            return ["the two runs worked in %r, expected %r and %r" % (folders, base, base + "(1)")]
        for path in (report_path, report_path + ".twin"):
            folder = os.path.basename(os.path.dirname(parse_report(open(path).read())["path"]))
            one = Scenario(scenario.name, scenario.members, Expect(0, folder=folder))
            problems += check_report(platform, one, path, temp, cwd, container, entries)
        return problems
    e = scenario.expect
    if e.folder is None:
        return ["the program ran, though no start was expected"] if os.path.exists(report_path) else []
    if not os.path.exists(report_path):
        return ["the program did not run"]
    report = parse_report(open(report_path, encoding=platform.encoding, errors="replace").read())
    problems = []
    if not report["complete"]:
        problems.append("the report is incomplete")
    program = scenario.members[-1].name
    expected_path = platform.join(platform.path(temp.rstrip("/")), e.folder, program)
    if report.get("path") != expected_path:
        problems.append("program path %r, expected %r" % (report.get("path"), expected_path))
    if report.get("cwd") != platform.path(cwd):
        problems.append("working folder %r, expected the launcher's %r" % (report.get("cwd"), platform.path(cwd)))
    if report.get("argc") != 0:
        problems.append("the program got %r arguments" % report.get("argc"))
    if report["dirs"]:
        problems.append("folders beside the program: %r" % report["dirs"])
    expected_files = {}
    for member, entry in zip(scenario.members, entries[1:]):
        data = platform.probe if member.data == PROBE else member.data
        # An expanded member keeps the stamp too: LZCopy hands the source's time on to what it writes.
        stamp = low_half(entry.mtime)
        expected_files[member.name] = (len(data), stamp, platform.digest(data))
    seen = report["files"]
    for name in sorted(set(seen) | set(expected_files)):
        if name not in seen:
            problems.append("%s is missing beside the program" % name)
        elif name not in expected_files:
            problems.append("unexpected file beside the program: %s" % name)
        else:
            size, stamp, digest = expected_files[name]
            got_size, got_stamp, got_digest = seen[name]
            if (got_size, got_digest) != (size, digest):
                problems.append("%s: %d bytes %s, expected %d bytes %s" % (name, got_size, got_digest, size, digest))
            if stamp is not None and got_stamp != stamp:
                problems.append("%s: stamp %d, expected %d" % (name, got_stamp, stamp))
    if platform.name == "posix":
        if report.get("launcher") != container:
            problems.append("the program's parent is %r, not the launcher" % report.get("launcher"))
        if container in report["fds"]:
            problems.append("the launcher holds its own file open while the program runs")
        # The temporary folder is shared by every user: the work folder must be the user's alone.
        if report.get("mode") != "700":
            problems.append("the work folder's mode is %s, not 700" % report.get("mode"))
    else:
        if report.get("container") != "free":
            problems.append("the launcher's own file is %s while the program runs" % report.get("container"))
        # SW_SHOW (5), whatever show state the launcher itself was started with.
        if report.get("show") != "5":
            problems.append("the program was started with show state %s, not SW_SHOW" % report.get("show"))
    return problems


@dataclass
class Job:
    """One prepared run: the container in place, the temporary folder made, what to compare after."""
    folder: str
    container: str
    cwd: str
    temp: str
    temp_text: str
    report_path: str
    env: Dict[str, str]
    args: List[str]
    fsize_limit: Optional[int]
    before_tree: Dict[str, Optional[bytes]]
    container_digest: str
    twin: bool = False


def prepare(platform, scenario: Scenario, folder: str) -> Tuple[Optional[Job], List[str]]:
    bin_dir, cwd, temp = (os.path.join(folder, d) for d in ("bin", "cwd", "temp"))
    for d in (bin_dir, cwd, temp):
        os.makedirs(d)
    # The stub alone runs under its own file name.
    container = os.path.join(bin_dir, platform.stub_name if scenario.bare_stub else platform.container_name)
    problems = build_container(platform, scenario, folder, container)
    if problems:
        return None, problems
    for name, kind in scenario.taken:
        make_tree_entry(os.path.join(temp, name), kind)
    before_tree = snapshot(temp)
    os.utime(temp, (OLD_STAMP, OLD_STAMP))
    report_path = os.path.join(folder, "report.txt")
    env = {"SFXRUN_PROBE_REPORT": platform.path(report_path), "SFXRUN_PROBE_CONTAINER": platform.path(container)}
    env.update(scenario.probe_env)
    if scenario.temp_missing:
        os.rmdir(temp)
        temp = os.path.join(temp, "missing")
        before_tree = {}
    temp_text = platform.path(temp) + (platform.join("", "") if scenario.temp_trailing_separator else "")
    digest = hashlib.sha256(open(container, "rb").read()).hexdigest()
    return Job(folder, container, cwd, temp, temp_text, report_path, env, list(scenario.args),
               scenario.fsize_limit, before_tree, digest, scenario.twin), []


def verify(platform, scenario: Scenario, job: Job, result: RunResult) -> List[str]:
    e = scenario.expect
    problems = list(result.problems)
    if result.exit != platform.status(e.exit):
        problems.append("exit status %#x, expected %#x" % (result.exit, platform.status(e.exit)))
    expected_messages = []
    if e.message:
        expected_messages.append((platform.message_text(e.message),
                                  platform.path(job.container).encode(platform.encoding), 0x30))
    if result.messages != expected_messages:
        problems.append("messages %r, expected %r" % (result.messages, expected_messages))

    entries = [] if scenario.bare_stub else sfxcontainer.read_directory(open(job.container, "rb").read())
    problems += check_report(platform, scenario, job.report_path, job.temp, job.cwd, job.container, entries)

    after_tree = snapshot(job.temp) if os.path.isdir(job.temp) else {}
    expected_tree = dict(job.before_tree)
    expected_tree.update(e.left)
    for name in sorted(set(after_tree) | set(expected_tree)):
        if name not in after_tree:
            problems.append("gone from the temporary folder: %s" % name)
        elif name not in expected_tree:
            problems.append("left in the temporary folder: %s" % name)
        elif expected_tree[name] is not None and after_tree[name] != expected_tree[name]:
            problems.append("%s holds %r, expected %r" % (name, after_tree[name][:64], expected_tree[name][:64]))
    if os.path.exists(os.path.join(job.folder, "outside.txt")):
        problems.append("a member was written outside the work folder")
    touched = os.path.isdir(job.temp) and os.stat(job.temp).st_mtime != OLD_STAMP
    if e.touched is not None and touched != e.touched:
        problems.append("the temporary folder was %s" % ("written" if touched else "not written"))
    if hashlib.sha256(open(job.container, "rb").read()).hexdigest() != job.container_digest:
        problems.append("the container's own bytes changed")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("platform", choices=("posix", "wine"))
    parser.add_argument("--stub", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--parent")
    parser.add_argument("--wine", default=os.environ.get("WINE64", "/usr/lib/wine/wine64"))
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder after a passing run")
    parser.add_argument("only", nargs="*")
    args = parser.parse_intermixed_args()

    platform = Posix(args) if args.platform == "posix" else Wine(args)
    # The launcher reports its path as the system resolves it: keep links out of the scratch path.
    scratch = os.path.realpath(args.scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)

    passed = failed = 0
    start = time.monotonic()
    chosen = [s for s in SCENARIOS if platform.name in s.platforms and
              (not args.only or any(o in s.name for o in args.only))]
    outcomes = {}
    jobs = []
    for number, scenario in enumerate(chosen, 1):
        folder = os.path.join(scratch, "%02d" % number)
        try:
            job, problems = prepare(platform, scenario, folder)
        except Exception as error:  # a broken scenario fails alone; the table goes on
            job, problems = None, ["the scenario could not be prepared: %r" % error]
        if job is None:
            outcomes[number] = (problems, 0.0)
        else:
            jobs.append((number, scenario, job))
    for (number, scenario, job), result in zip(jobs, platform.run_all([job for _, _, job in jobs])):
        try:
            outcomes[number] = (verify(platform, scenario, job, result), result.seconds)
        except Exception as error:
            outcomes[number] = (["the scenario could not be checked: %r" % error], result.seconds)
    for number, scenario in enumerate(chosen, 1):
        problems, seconds = outcomes[number]
        if problems:
            failed += 1
            print("FAIL %s [%s]" % (scenario.name, os.path.join(scratch, "%02d" % number)))
            for problem in problems:
                print("     " + problem)
        else:
            passed += 1
            print("ok   %s (%.2f s)" % (scenario.name, seconds))
    print("%s: %d scenarios in %.1f s" % (platform.name, len(chosen), time.monotonic() - start))
    if failed == 0 and not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not chosen else 0


if __name__ == "__main__":
    sys.exit(main())
