#!/usr/bin/python3
"""Side-by-side figures of sfxrun against its peers (run through bench/run.sh); prints, never fails a build.

Makes its corpus deterministically, runs every figure for several rounds with ours and the peers
interleaved (the order rotates each round, so drift on a shared machine hits all of them alike),
and writes a Markdown table of medians and ratios, a CSV of every sample, and a PNG of the scale rows.
"""
import argparse
import csv
import glob
import hashlib
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MB = 1_000_000
WINE64 = "/usr/lib/wine/wine64"

# Profiles: "full" is the figure set the documentation quotes; "quick" shows every figure in about a
# minute or two on a small corpus, for a first look.
PROFILES = {
    "full": dict(base_file=1_250_000, sizes=[1, 25, 250], counts=[1, 20, 250], codec_mb=4, rounds=5,
                 big_bytes=1 << 30),
    "quick": dict(base_file=200_000, sizes=[1, 4, 16], counts=[1, 20, 100], codec_mb=1, rounds=3,
                  big_bytes=128 << 20),
}
BASE_FILES = 20   # 8 text, 8 binary, 4 generated members
MIX_BLOCK = 65536


class BenchError(Exception):
    pass


def log(message):
    print(f"[bench] {message}", file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------
# Running and timing


class Sample:
    def __init__(self, wall, cpu, maxrss_kb, inner=None, inner_cpu=None, stdout=""):
        self.wall = wall
        self.cpu = cpu
        self.maxrss_kb = maxrss_kb
        self.inner = inner          # seconds the program measured itself, when it reports them
        self.inner_cpu = inner_cpu  # CPU seconds of that same stretch, when it reports them
        self.stdout = stdout


def pack(cmd, cwd=None, env=None, limit=1800):
    """Makes a container; untimed, but bounded, so a stalled packer stops the run with its name."""
    try:
        done = subprocess.run(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=limit)
    except subprocess.TimeoutExpired:
        raise BenchError(f"{' '.join(map(str, cmd))[:300]} took more than {limit} s")
    if done.returncode != 0:
        raise BenchError(f"{' '.join(map(str, cmd))[:300]} exited with {done.returncode}: {done.stderr.decode()[:500]}")


def run(cmd, cwd=None, env=None, stdin_path=None, stdout_path=None, rss=False):
    """Runs cmd, returns wall time and CPU time; with rss, the peak RSS of the process tree too.

    The peak comes from GNU time rather than from our own wait4: Linux carries a process's peak over
    exec, so a child forked from this Python process would report Python's size as its own.
    """
    rss_file = None
    if rss:
        rss_file = tempfile.NamedTemporaryFile(delete=False)
        rss_file.close()
        cmd = ["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + list(cmd)
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    stdout = open(stdout_path, "wb") if stdout_path else tempfile.TemporaryFile()
    stderr = tempfile.TemporaryFile()
    try:
        start = time.perf_counter()
        process = subprocess.Popen(cmd, cwd=cwd, env=env, stdin=stdin, stdout=stdout, stderr=stderr)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        stderr.seek(0)
        err = stderr.read().decode(errors="replace")
        text = ""
        if not stdout_path:
            stdout.seek(0)
            text = stdout.read().decode(errors="replace")
    finally:
        for f in (stdin, stdout, stderr):
            if hasattr(f, "close"):
                f.close()
    if process.returncode != 0:
        raise BenchError(f"{' '.join(map(str, cmd))} exited with {process.returncode}: {err.strip()[:500]}")
    maxrss = usage.ru_maxrss
    if rss_file:
        with open(rss_file.name) as f:
            maxrss = int(f.read().split()[-1])
        os.remove(rss_file.name)
    inner = None
    found = re.search(r"seconds=([0-9.]+)", text)
    if found:
        inner = float(found.group(1))
    found = re.search(r"cpu=([0-9.]+)", text)
    inner_cpu = float(found.group(1)) if found else None
    return Sample(wall, usage.ru_utime + usage.ru_stime, maxrss, inner, inner_cpu, text)


def median(values):
    return statistics.median(values) if values else float("nan")


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x = fa.read(1 << 20)
            y = fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()[:16]


# ---------------------------------------------------------------------------------------------
# Corpus: generated text, binaries found on the machine, generated data; then a mixed stream that
# every other file set is cut from, so each set has the same blend of kinds at any size.

WORDS = ("the of and to in a is that for it as was with be by on not he this are or his from at which "
         "but have an they you were her she there been one all we their has would when if so no will "
         "more can out up what about who into some them other than then time only could new these two "
         "may first any like now my such over our even most after also made many before must through "
         "back years where much your way well down should because each just those people how too little "
         "state good very make world still own see men work long get here between both life being under "
         "never day same another know while last might us great old year off come since against go came "
         "right used take three launcher folder file member program container archive install window "
         "system setup version data value table record index offset length buffer stream copy extract "
         "expand temporary directory path name error message status").split()


def make_text(size, seed):
    rng = random.Random(seed)
    weights = [1.0 / (rank + 1) for rank in range(len(WORDS))]
    out = []
    total = 0
    while total < size:
        words = rng.choices(WORDS, weights, k=4096)
        pos = 0
        lines = []
        while pos < len(words):
            n = rng.randint(6, 16)
            sentence = " ".join(words[pos:pos + n])
            pos += n
            lines.append(sentence[:1].upper() + sentence[1:] + rng.choice([".", ".", ".", ",", ";", "?"]))
        chunk = "\n".join(lines).encode() + b"\n"
        out.append(chunk)
        total += len(chunk)
    return b"".join(out)[:size]


def machine_binaries():
    """ELF files of /usr/bin in name order: the same set every time on one machine."""
    found = []
    for path in sorted(glob.glob("/usr/bin/*")):
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        size = os.path.getsize(path)
        if size < 100_000:
            continue
        with open(path, "rb") as f:
            if f.read(4) != b"\x7fELF":
                continue
        found.append(path)
    return found


def make_generated(kind, size, seed):
    rng = random.Random(seed)
    if kind == "random":
        return rng.randbytes(size)
    if kind == "table":
        rows = []
        total = 0
        n = 0
        while total < size:
            row = (f"{n},{2000 + n % 25}-{1 + n % 12:02d}-{1 + n % 28:02d},{rng.randint(0, 999999) / 100:.2f},"
                   f"{rng.choice(['OK', 'HOLD', 'VOID', 'OK', 'OK'])},{rng.randint(0, 65535):04x}\n").encode()
            rows.append(row)
            total += len(row)
            n += 1
        return b"".join(rows)[:size]
    if kind == "sparse":
        # Mostly zero pages with islands of noise, like a preallocated database: an island every
        # 16 to 24 KiB. (Gaps of more than 64 KiB stall the encoder for minutes; see docs/performance.md.)
        data = bytearray(size)
        at = 0
        while at < size:
            data[at:at + 512] = rng.randbytes(512)[:size - at]
            at += rng.randrange(16384, 24576)
        return bytes(data)
    if kind == "image":
        # An uncompressed picture: smooth gradients with a little noise per row.
        width = 1024
        rows = []
        for y in range(size // width + 1):
            noise = rng.randrange(4)
            rows.append(bytes(((x * 3 + y * 5) // 7 + noise) & 0xFF for x in range(width)))
        return b"".join(rows)[:size]
    raise ValueError(kind)


def build_base(corpus_dir, file_size):
    """The base corpus: 20 files of file_size bytes. Returns the list of paths and a description."""
    os.makedirs(corpus_dir, exist_ok=True)
    paths = []
    sources = []
    for i in range(8):
        paths.append((f"text-{i:02d}.txt", lambda i=i: make_text(file_size, 1000 + i)))
    binaries = machine_binaries()
    need = 8 * file_size
    chosen = []
    got = 0
    # Every third binary, so the bundle spans the alphabet rather than one family of tools.
    for path in binaries[::3]:
        if got >= need:
            break
        chosen.append(path)
        got += os.path.getsize(path)
    if got < need:
        raise BenchError("not enough binaries in /usr/bin for the corpus")

    def binary_bundle(index):
        # The 8 binary members are consecutive cuts of the chosen binaries laid end to end.
        start = index * file_size
        out = bytearray()
        offset = 0
        for path in chosen:
            size = os.path.getsize(path)
            if offset + size > start and len(out) < file_size:
                with open(path, "rb") as f:
                    f.seek(max(0, start - offset))
                    out += f.read(file_size - len(out))
            offset += size
        return bytes(out)

    for i in range(8):
        paths.append((f"bin-{i:02d}.bin", lambda i=i: binary_bundle(i)))
    for i, kind in enumerate(["random", "table", "sparse", "image"]):
        paths.append((f"gen-{kind}.dat", lambda kind=kind, i=i: make_generated(kind, file_size, 2000 + i)))
    written = []
    for name, make in paths:
        target = os.path.join(corpus_dir, name)
        # Made afresh every time (it is quick) and written only when it changed, so a change of a
        # generator or of /usr/bin reaches every set and container made from it.
        data = make()
        assert len(data) == file_size, (name, len(data))
        if not os.path.exists(target) or open(target, "rb").read() != data:
            with open(target + ".part", "wb") as f:
                f.write(data)
            os.replace(target + ".part", target)
        written.append(target)
    sources = [os.path.basename(p) for p in chosen]
    return written, sources


class MixedStream:
    """64 KiB blocks taken from the base files in turn, repeating from the start when it runs out."""

    def __init__(self, base_paths):
        self.blocks = []
        data = [open(p, "rb").read() for p in base_paths]
        offset = 0
        while offset < len(data[0]):
            for d in data:
                self.blocks.append(d[offset:offset + MIX_BLOCK])
            offset += MIX_BLOCK
        self.period = b"".join(self.blocks)

    def write(self, path, start, length):
        with open(path, "wb") as f:
            while length > 0:
                at = start % len(self.period)
                piece = self.period[at:at + length]
                f.write(piece)
                start += len(piece)
                length -= len(piece)


def read_stamp(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def build_set(work, name, total, count, base_paths, mixed, exit_program):
    """A payload folder: count data files of total bytes in all, plus the program that exits at once."""
    folder = os.path.join(work, "sets", name)
    stamp = os.path.join(folder, ".complete")
    key = f"{hashlib.sha256(mixed.period).hexdigest()} {total} {count} {file_digest(exit_program)}"
    if read_stamp(stamp) == key:
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if count == len(base_paths) and total == sum(os.path.getsize(p) for p in base_paths):
        for p in base_paths:
            shutil.copyfile(p, os.path.join(folder, os.path.basename(p)))
    else:
        each = total // count
        for i in range(count):
            length = each if i < count - 1 else total - each * (count - 1)
            mixed.write(os.path.join(folder, f"part-{i:03d}.dat"), i * each, length)
    shutil.copy2(exit_program, os.path.join(folder, "run-me"))
    with open(stamp, "w") as f:
        f.write(key)
    return folder


def payload_files(folder):
    names = sorted(n for n in os.listdir(folder) if not n.startswith(".") and n != "run-me")
    return [os.path.join(folder, n) for n in names]


# ---------------------------------------------------------------------------------------------
# Containers of every kind for one payload folder


def pack_all(ctx, folder, name):
    out = os.path.join(ctx.work, "packed", name)
    stamp = os.path.join(out, ".complete")
    kinds = {
        "sfxrun --store": os.path.join(out, "store.sfx"),
        "sfxrun compressed": os.path.join(out, "comp.sfx"),
        "makeself --nocomp": os.path.join(out, "nocomp.run"),
        "makeself --gzip": os.path.join(out, "gzip.run"),
        "unzipsfx": os.path.join(out, "unzipsfx.sfx"),
    }
    # Containers are made again whenever their payload, our stub or our packer changed.
    key = f"{read_stamp(os.path.join(folder, '.complete'))} {file_digest(ctx.stub)} {file_digest(ctx.pack)}"
    if read_stamp(stamp) == key:
        return kinds
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    files = payload_files(folder) + [os.path.join(folder, "run-me")]
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    log(f"packing {name}: sfxrun --store")
    pack([ctx.pack, "--store", "-q", "-o", kinds["sfxrun --store"]] + files, env=env)
    log(f"packing {name}: sfxrun compressed (our encoder)")
    pack([ctx.pack, "-q", "-o", kinds["sfxrun compressed"]] + files, env=env)
    # makeself's checksums are left out: our stub checks none, so each side does the same work.
    common = ["makeself", "--quiet", "--nomd5", "--nocrc", "--nox11", "--tar-quietly"]
    log(f"packing {name}: makeself")
    pack(common + ["--nocomp", folder, kinds["makeself --nocomp"], "bench", "./run-me"])
    pack(common + ["--gzip", folder, kinds["makeself --gzip"], "bench", "./run-me"])
    log(f"packing {name}: zip + unzipsfx")
    zip_path = os.path.join(out, "payload.zip")
    pack(["zip", "-q", "-X", "-r", zip_path, "."], cwd=folder)
    run(["zip", "-q", "-d", zip_path, ".complete"])
    with open(kinds["unzipsfx"], "wb") as f:
        with open("/usr/bin/unzipsfx", "rb") as g:
            f.write(g.read())
        with open(zip_path, "rb") as g:
            f.write(g.read())
    os.chmod(kinds["unzipsfx"], 0o755)
    run(["zip", "-q", "-A", kinds["unzipsfx"]])
    os.remove(zip_path)
    with open(stamp, "w") as f:
        f.write(key)
    return kinds


def whole_run_command(ctx, kind, container, folder):
    """The command of one whole run: extract, start run-me, remove what was extracted."""
    tmp = ctx.run_tmp
    if kind.startswith("sfxrun"):
        return [container]
    if kind.startswith("makeself"):
        return [container, "--quiet", "--nox11", "--noprogress"]
    if kind == "unzipsfx":
        script = 'mkdir "$1" && cd "$1" && "$2" -qq && ./run-me; s=$?; cd / && rm -r "$1"; exit $s'
        return ["/bin/sh", "-c", script, "sh", os.path.join(tmp, "unzipsfx-run"), container]
    if kind == "floor":
        script = 'cp -r "$2" "$1" && "$1/run-me"; s=$?; rm -r "$1"; exit $s'
        return ["/bin/sh", "-c", script, "sh", os.path.join(tmp, "floor-run"), folder]
    raise ValueError(kind)


def whole_run(ctx, kind, container, folder):
    env = dict(os.environ, TMPDIR=ctx.run_tmp)
    sample = run(whole_run_command(ctx, kind, container, folder), cwd=ctx.run_cwd, env=env, rss=True)
    left = os.listdir(ctx.run_tmp)
    if left:
        raise BenchError(f"{kind} left {left} in {ctx.run_tmp}")
    return sample


# ---------------------------------------------------------------------------------------------
# Figures


class Results:
    def __init__(self):
        self.rows = []   # (figure, case, variant, metric, unit, samples)

    def add(self, figure, case, variant, metric, unit, samples):
        self.rows.append((figure, case, variant, metric, unit, list(samples)))

    def get(self, figure, case, variant, metric):
        for row in self.rows:
            if row[:4] == (figure, case, variant, metric):
                return median(row[5])
        return float("nan")


def rotate(items, round_index):
    k = round_index % len(items)
    return items[k:] + items[:k]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(ctx):
    return dict(os.environ, WINEPREFIX=ctx.wineprefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")


def prepare_wine(ctx):
    if not (os.path.exists(WINE64) and os.path.exists(ctx.lz32_exe)):
        log("wine64 or the LZ32 program is missing: the Wine row is left out")
        return False
    if not os.path.exists(os.path.join(ctx.wineprefix, "system.reg")):
        log("making a wine prefix (once; takes a while)")
        os.makedirs(ctx.wineprefix, exist_ok=True)
        subprocess.run([WINE64, "wineboot", "-i"], env=wine_env(ctx), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=wine_env(ctx), check=False)
    return os.path.exists(os.path.join(ctx.wineprefix, "system.reg"))


def figure_codec(ctx, results, sample_path):
    """Figures 1 and 2: SZDD decode and encode on one sample of the mixed stream."""
    size = os.path.getsize(sample_path)
    codec = os.path.join(ctx.work, "codec")
    stream = os.path.join(codec, "sample.szdd")
    run([ctx.szdd, "encode", sample_path, stream])
    have_wine = prepare_wine(ctx)

    def out(name):
        return os.path.join(codec, "out-" + name)

    decoders = {
        "sfxlz SzddDecode, memory to memory": lambda: run([ctx.szdd, "decode", stream, out("ours-mem")]),
        "sfxrun LZ service (LZCopy), file to file": lambda: run([ctx.szdd, "lzcopy", stream, out("ours-lz")]),
        "libmspack, memory to memory": lambda: run([ctx.mspack, "memory", stream, out("mspack-mem")]),
        "libmspack, file to file": lambda: run([ctx.mspack, "files", stream, out("mspack-file")]),
        "msexpand, stdin to stdout": lambda: run(["msexpand"], stdin_path=stream, stdout_path=out("msexpand")),
    }
    if have_wine:
        decoders["Wine LZ32 LZCopy under wine64"] = lambda: run(
            [WINE64, ctx.lz32_exe, windows_path(stream), windows_path(out("wine"))], env=wine_env(ctx))
    inner_timed = {"sfxlz SzddDecode, memory to memory", "sfxrun LZ service (LZCopy), file to file",
                   "libmspack, memory to memory", "libmspack, file to file", "Wine LZ32 LZCopy under wine64"}
    outputs = {"sfxlz SzddDecode, memory to memory": "ours-mem", "sfxrun LZ service (LZCopy), file to file": "ours-lz",
               "libmspack, memory to memory": "mspack-mem", "libmspack, file to file": "mspack-file",
               "msexpand, stdin to stdout": "msexpand", "Wine LZ32 LZCopy under wine64": "wine"}

    mscomp_in = os.path.join(codec, "mscompress-input")
    shutil.copyfile(sample_path, mscomp_in)
    encoders = {
        "sfxlz SzddEncode": lambda: run([ctx.szdd, "encode", sample_path, os.path.join(codec, "enc-ours")]),
        # The same call told to stay on one thread: what the encoder costs where no second core is free.
        "sfxlz SzddEncode, one thread": lambda: run([ctx.szdd, "encode-one-thread", sample_path,
                                                     os.path.join(codec, "enc-ours-1")]),
        "mscompress": lambda: (os.path.exists(mscomp_in + "_") and os.remove(mscomp_in + "_"),
                               run(["mscompress", mscomp_in]))[1],
        "gzip -9 (reference)": lambda: run(["gzip", "-9", "-c", sample_path],
                                           stdout_path=os.path.join(codec, "enc-gzip")),
    }
    encoded = {"sfxlz SzddEncode": os.path.join(codec, "enc-ours"),
               "sfxlz SzddEncode, one thread": os.path.join(codec, "enc-ours-1"), "mscompress": mscomp_in + "_",
               "gzip -9 (reference)": os.path.join(codec, "enc-gzip")}

    dec = {k: [] for k in decoders}
    dec_cpu = {k: [] for k in decoders}
    enc_cpu = {k: [] for k in encoders}
    dec_wall = {k: [] for k in decoders}
    enc = {k: [] for k in encoders}
    enc_wall = {k: [] for k in encoders}
    enc_bytes = {}
    for r in range(ctx.rounds):
        log(f"codec round {r + 1}/{ctx.rounds}")
        for name in rotate(list(decoders), r):
            s = decoders[name]()
            seconds = s.inner if name in inner_timed else s.wall
            dec[name].append(size / MB / seconds)
            cpu = s.inner_cpu if name in inner_timed else s.cpu
            # Wine's in-process figure has no CPU twin: its process CPU is mostly Wine's own start-up.
            dec_cpu[name].append(size / MB / max(cpu, 1e-6) if cpu is not None else float("nan"))
            dec_wall[name].append(s.wall)
            if r == 0 and not same_file(out(outputs[name]), sample_path):
                raise BenchError(f"{name} did not give back the sample")
        for name in rotate(list(encoders), r):
            s = encoders[name]()
            seconds = s.inner if s.inner is not None else s.wall
            enc[name].append(size / MB / seconds)
            cpu = s.inner_cpu if s.inner_cpu is not None else s.cpu
            enc_cpu[name].append(size / MB / max(cpu, 1e-6))
            enc_wall[name].append(s.wall)
            enc_bytes[name] = os.path.getsize(encoded[name])
    if not same_file(encoded["sfxlz SzddEncode"], encoded["sfxlz SzddEncode, one thread"]):
        raise BenchError("our encoder gave different bytes on one thread and on two")
    # The other decoders must accept our encoder's output: msexpand above did; check ours on theirs too.
    run([ctx.szdd, "decode", encoded["mscompress"], out("ours-on-mscompress")])
    if not same_file(out("ours-on-mscompress"), sample_path):
        raise BenchError("our decoder misread mscompress's stream")
    for name in decoders:
        basis = "in-process timer" if name in inner_timed else "process wall time"
        results.add("1 decode", f"{size / MB:g} MB sample", name, f"MB/s of output ({basis})", "MB/s", dec[name])
        results.add("1 decode", f"{size / MB:g} MB sample", name, "process wall", "s", dec_wall[name])
        results.add("1 decode", f"{size / MB:g} MB sample", name, "MB/s of output by CPU time", "MB/s", dec_cpu[name])
    for name in encoders:
        basis = "in-process timer" if name.startswith("sfxlz SzddEncode") else "process wall time"
        results.add("2 encode", f"{size / MB:g} MB sample", name, f"MB/s of input ({basis})", "MB/s", enc[name])
        results.add("2 encode", f"{size / MB:g} MB sample", name, "process wall", "s", enc_wall[name])
        results.add("2 encode", f"{size / MB:g} MB sample", name, "MB/s of input by CPU time", "MB/s", enc_cpu[name])
        results.add("2 encode", f"{size / MB:g} MB sample", name, "compressed bytes", "bytes", [enc_bytes[name]])
    for f in glob.glob(os.path.join(codec, "out-*")):
        os.remove(f)


WHOLE_KINDS = ["sfxrun --store", "sfxrun compressed", "makeself --nocomp", "makeself --gzip", "unzipsfx", "floor"]


def figure_whole(ctx, results, sets):
    """Figures 3 and 4: whole runs over every payload set, all kinds interleaved in each round."""
    packed = {name: pack_all(ctx, folder, name) for name, folder in sets.items()}
    samples = {(name, kind): [] for name in sets for kind in WHOLE_KINDS}
    for r in range(ctx.rounds):
        log(f"whole-run round {r + 1}/{ctx.rounds}")
        for name in sets:
            for kind in rotate(WHOLE_KINDS, r):
                container = packed[name].get(kind, "")
                samples[(name, kind)].append(whole_run(ctx, kind, container, sets[name]))
    for (name, kind), ss in samples.items():
        results.add("3/4 whole run", name, kind, "wall", "s", [s.wall for s in ss])
        results.add("3/4 whole run", name, kind, "cpu (user+sys)", "s", [s.cpu for s in ss])
        results.add("3/4 whole run", name, kind, "peak RSS", "KiB", [s.maxrss_kb for s in ss])
        size = os.path.getsize(packed[name][kind]) if kind in packed[name] else sum(
            os.path.getsize(p) for p in payload_files(sets[name]) + [os.path.join(sets[name], "run-me")])
        results.add("3/4 whole run", name, kind, "container bytes", "bytes", [size])


def count_locating_reads(ctx, container):
    """Reads (read, pread64) on the container's own file before the work folder is made."""
    trace = os.path.join(ctx.work, "strace.txt")
    env = dict(os.environ, TMPDIR=ctx.run_tmp)
    run(["strace", "-f", "-y", "-o", trace, "-e", "trace=read,pread64,mkdir,mkdirat,openat", container],
        cwd=ctx.run_cwd, env=env)
    me = re.escape(os.path.realpath(container))
    reads = 0
    read_bytes = 0
    pattern = re.compile(r"(?:read|pread64)\(\d+<" + me + r">.*\)\s+=\s+(\d+)")
    with open(trace) as f:
        for line in f:
            if "mkdir(" in line or "mkdirat(" in line:
                break
            m = pattern.search(line)
            if m:
                reads += 1
                read_bytes += int(m.group(1))
    os.remove(trace)
    return reads, read_bytes


def figure_footprint(ctx, results, small_container):
    for label, path in [("sfxrun-stub.exe (i686)", ctx.stub32), ("sfxrun-stub64.exe (x86_64)", ctx.stub64),
                        ("sfxrun-stub (POSIX x86_64)", ctx.stub)]:
        if os.path.exists(path):
            results.add("5 footprint", "stub size", label, "file bytes", "bytes", [os.path.getsize(path)])
    reads, got = count_locating_reads(ctx, small_container)
    label = f"{os.path.getsize(small_container) / MB:.1f} MB container"
    results.add("5 footprint", label, "sfxrun-stub", "reads on own file to locate", "reads", [reads])
    results.add("5 footprint", label, "sfxrun-stub", "bytes read to locate", "bytes", [got])
    big_dir = os.path.join(ctx.work, "big")
    shutil.rmtree(big_dir, ignore_errors=True)
    os.makedirs(big_dir)
    free = shutil.disk_usage(big_dir).free
    if free < 3 * ctx.big_bytes + (2 << 30):
        log("not enough free disk for the large container: left out")
        return
    try:
        zeros = os.path.join(big_dir, "zeros.bin")
        with open(zeros, "wb") as f:
            f.truncate(ctx.big_bytes)
        big = os.path.join(big_dir, "big.sfx")
        log(f"packing a {ctx.big_bytes >> 20} MiB stored container for the read count")
        pack([ctx.pack, "--store", "-q", "-o", big, zeros, ctx.exit_program])
        os.remove(zeros)
        reads, got = count_locating_reads(ctx, big)
        label = f"{os.path.getsize(big) / (1 << 30):.2f} GiB container"
        results.add("5 footprint", label, "sfxrun-stub", "reads on own file to locate", "reads", [reads])
        results.add("5 footprint", label, "sfxrun-stub", "bytes read to locate", "bytes", [got])
    finally:
        shutil.rmtree(big_dir, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Output


def machine_description(work):
    def sh(cmd):
        try:
            return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
        except OSError:
            return ""
    model = sh("lscpu | sed -n 's/^Model name:[ \\t]*//p' | head -1")
    mem = sh("free -h | awk '/^Mem:/ {print $2}'")
    disk = sh(f"df -h {work} | awk 'NR==2 {{print $1\" \"$2\" (\"$4\" free)\"}}'")
    fs = sh(f"df --output=fstype {work} | tail -1")
    return (f"nproc {os.cpu_count()}, CPU {model or platform.processor()}, memory {mem}, disk {disk} {fs}, "
            f"kernel {platform.release()}, load average at start {os.getloadavg()[0]:.1f}")


def fmt(value, unit):
    if value != value:
        return "n/a"
    if unit == "bytes":
        return f"{int(value):,}"
    if unit == "KiB":
        return f"{value / 1024:.1f} MiB"
    if unit == "s":
        return f"{value * 1000:.0f} ms" if value < 10 else f"{value:.1f} s"
    if unit == "MB/s":
        return f"{value:.1f}"
    return f"{value:g}"


def ratio(a, b):
    return a / b if b and b == b and a == a else float("nan")


def markdown(ctx, results, sets_order, main_set):
    lines = []
    lines.append(f"Machine: {ctx.machine}.  ")
    lines.append(f"Profile `{ctx.profile}`, {ctx.rounds} rounds, medians; corpus digest {ctx.digest}.")
    lines.append("")
    lines.append("### 1. SZDD decode (our encoder's stream of the mixed sample)")
    lines.append("")
    lines.append("| decoder | MB/s of output (wall) | MB/s of output (CPU) | timed by |")
    lines.append("| --- | ---: | ---: | --- |")
    dec_rows = [r for r in results.rows if r[0] == "1 decode" and r[3].startswith("MB/s of output (")]
    for row in dec_rows:
        basis = row[3].split("(")[1].rstrip(")")
        cpu = results.get("1 decode", row[1], row[2], "MB/s of output by CPU time")
        lines.append(f"| {row[2]} | {median(row[5]):.1f} | {fmt(cpu, 'MB/s')} | {basis} |")
    lines.append("")
    lines.append("### 2. SZDD encode (same sample)")
    lines.append("")
    lines.append("| encoder | compressed bytes | of input | MB/s of input (wall) | MB/s (CPU) | timed by |")
    lines.append("| --- | ---: | ---: | ---: | ---: | --- |")
    sample_size = ctx.codec_bytes
    for row in [r for r in results.rows if r[0] == "2 encode" and r[3].startswith("MB/s of input (")]:
        size = results.get("2 encode", row[1], row[2], "compressed bytes")
        basis = row[3].split("(")[1].rstrip(")")
        cpu = results.get("2 encode", row[1], row[2], "MB/s of input by CPU time")
        lines.append(f"| {row[2]} | {int(size):,} | {100 * size / sample_size:.1f}% | {median(row[5]):.1f} | "
                     f"{fmt(cpu, 'MB/s')} | {basis} |")
    lines.append("")
    lines.append("### 3 and 4. Whole run: extract, start a program that exits at once, clean up")
    lines.append("")
    lines.append("| payload | launcher | wall | CPU | peak RSS | container |")
    lines.append("| --- | --- | ---: | ---: | ---: | ---: |")
    for name in sets_order:
        for kind in WHOLE_KINDS:
            g = lambda m: results.get("3/4 whole run", name, kind, m)
            lines.append(f"| {name} | {kind} | {fmt(g('wall'), 's')} | {fmt(g('cpu (user+sys)'), 's')} | "
                         f"{fmt(g('peak RSS'), 'KiB')} | {fmt(g('container bytes'), 'bytes')} |")
    lines.append("")
    lines.append("### 5. Footprint")
    lines.append("")
    lines.append("| what | figure |")
    lines.append("| --- | ---: |")
    for row in [r for r in results.rows if r[0] == "5 footprint"]:
        what = row[2] if row[1] == "stub size" else f"{row[1]}: {row[3]}"
        lines.append(f"| {what} | {fmt(median(row[5]), row[4])} |")
    lines.append("")
    lines.append("### Targets (ratios from this run)")
    lines.append("")
    lines.append("| target | measured | met |")
    lines.append("| --- | ---: | --- |")
    case = f"{ctx.codec_bytes / MB:g} MB sample"
    d = ratio(results.get("1 decode", case, "sfxlz SzddDecode, memory to memory", "MB/s of output (in-process timer)"),
              results.get("1 decode", case, "libmspack, memory to memory", "MB/s of output (in-process timer)"))
    d2 = ratio(results.get("1 decode", case, "sfxrun LZ service (LZCopy), file to file", "MB/s of output (in-process timer)"),
               results.get("1 decode", case, "libmspack, file to file", "MB/s of output (in-process timer)"))
    eb = ratio(results.get("2 encode", case, "sfxlz SzddEncode", "compressed bytes"),
               results.get("2 encode", case, "mscompress", "compressed bytes"))
    es = results.get("2 encode", case, "sfxlz SzddEncode", "MB/s of input (in-process timer)")
    es_cpu = results.get("2 encode", case, "sfxlz SzddEncode", "MB/s of input by CPU time")
    es1 = results.get("2 encode", case, "sfxlz SzddEncode, one thread", "MB/s of input (in-process timer)")
    d_cpu = ratio(results.get("1 decode", case, "sfxlz SzddDecode, memory to memory", "MB/s of output by CPU time"),
                  results.get("1 decode", case, "libmspack, memory to memory", "MB/s of output by CPU time"))
    c = lambda kind: results.get("3/4 whole run", main_set, kind, "cpu (user+sys)")
    w = lambda kind: results.get("3/4 whole run", main_set, kind, "wall")
    ws = ratio(w("sfxrun --store"), w("floor"))
    wc = ratio(w("sfxrun compressed"), w("makeself --gzip"))
    yes = lambda ok: "yes" if ok else "**no**"
    lines.append(f"| decode ≥ 15× libmspack (memory to memory) | {d:.2f}× | {yes(d >= 15)} |")
    lines.append(f"| (the same by CPU time) | {d_cpu:.2f}× | {yes(d_cpu >= 15)} |")
    lines.append(f"| (LZ service file to file against libmspack file to file) | {d2:.2f}× | {yes(d2 >= 15)} |")
    lines.append(f"| encoder output ≤ 0.94× mscompress's bytes | {eb:.3f}× | {yes(eb <= 0.94)} |")
    lines.append(f"| encoder speed ≥ 20 MB/s | {es:.1f} MB/s | {yes(es >= 20)} |")
    lines.append(f"| (the same by CPU time) | {es_cpu:.1f} MB/s | {yes(es_cpu >= 20)} |")
    lines.append(f"| (the same on one thread) | {es1:.1f} MB/s | {yes(es1 >= 20)} |")
    lines.append(f"| whole run, stored members ≤ 1.5× the floor ({main_set}) | {ws:.2f}× | {yes(ws <= 1.5)} |")
    lines.append(f"| whole run, compressed members ≤ 0.15× makeself --gzip ({main_set}) | {wc:.2f}× | {yes(wc <= 0.15)} |")
    ws_cpu = ratio(c("sfxrun --store"), c("floor"))
    wc_cpu = ratio(c("sfxrun compressed"), c("makeself --gzip"))
    lines.append(f"| (stored against the floor by CPU time) | {ws_cpu:.2f}× | {yes(ws_cpu <= 1.5)} |")
    lines.append(f"| (compressed against makeself --gzip by CPU time) | {wc_cpu:.2f}× | {yes(wc_cpu <= 0.15)} |")
    return "\n".join(lines) + "\n"


def write_csv(path, results):
    with open(path, "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["figure", "case", "variant", "metric", "unit", "median", "samples"])
        for figure, case, variant, metric, unit, samples in results.rows:
            out.writerow([figure, case, variant, metric, unit, f"{median(samples):.6g}",
                          ";".join(f"{s:.6g}" for s in samples)])


def write_chart(path, ctx, results, size_sets, count_sets):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        log("matplotlib is missing (python3-matplotlib): no chart")
        return
    fig, axes = plt.subplots(2, 2, figsize=(12, 9))
    series = [(size_sets, "payload (MB), 20 files", 0), (count_sets, "files (25 MB payload)", 1)]
    for sets, xlabel, col in series:
        xs = [x for x, _ in sets]
        for kind in WHOLE_KINDS:
            times = [results.get("3/4 whole run", name, kind, "wall") for _, name in sets]
            rss = [results.get("3/4 whole run", name, kind, "peak RSS") / 1024 for _, name in sets]
            style = "-o" if kind.startswith("sfxrun") else "--s" if kind != "floor" else ":k^"
            axes[0][col].plot(xs, times, style, label=kind)
            axes[1][col].plot(xs, rss, style, label=kind)
        for row, ylabel in [(0, "wall time (s, median)"), (1, "peak RSS (MiB, median)")]:
            ax = axes[row][col]
            ax.set_xscale("log")
            if row == 0:
                ax.set_yscale("log")
            ax.set_xlabel(xlabel)
            ax.set_ylabel(ylabel)
            ax.set_xticks(xs)
            ax.set_xticklabels([str(x) for x in xs])
            ax.grid(True, which="both", alpha=0.3)
    axes[0][0].legend(fontsize=8)
    fig.suptitle(f"Whole run at scale ({ctx.profile} profile, {ctx.rounds} rounds, shared {os.cpu_count()}-core machine)")
    fig.tight_layout()
    fig.savefig(path, dpi=100)


# ---------------------------------------------------------------------------------------------


class Context:
    pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build folder made by bench/run.sh")
    parser.add_argument("--quick", action="store_true", help="small corpus, fewer rounds")
    parser.add_argument("--rounds", type=int, help="rounds per figure (default: 5, quick: 3)")
    parser.add_argument("--out", help="results folder (default: BUILD/results)")
    parser.add_argument("--skip", default="", help="comma list of figures to leave out: codec,whole,footprint")
    args = parser.parse_args()

    ctx = Context()
    ctx.profile = "quick" if args.quick else "full"
    p = PROFILES[ctx.profile]
    ctx.rounds = args.rounds or p["rounds"]
    ctx.build = os.path.abspath(args.build)
    bindir = os.path.join(ctx.build, "native", "bin")
    ctx.stub = os.path.join(bindir, "sfxrun-stub")
    ctx.pack = os.path.join(bindir, "sfxrun-pack")
    ctx.szdd = os.path.join(bindir, "bench_szdd")
    ctx.mspack = os.path.join(bindir, "bench_mspack")
    ctx.lz32_exe = os.path.join(bindir, "bench_lz32_copy.exe")
    ctx.exit_program = os.path.join(bindir, "bench_exit_at_once")
    ctx.stub32 = os.path.join(ctx.build, "win32", "bin", "sfxrun-stub.exe")
    ctx.stub64 = os.path.join(ctx.build, "win64", "bin", "sfxrun-stub64.exe")
    ctx.work = os.path.join(ctx.build, "work-" + ctx.profile)
    ctx.wineprefix = os.path.join(ctx.build, "wineprefix")
    ctx.big_bytes = p["big_bytes"]
    out_dir = os.path.abspath(args.out or os.path.join(ctx.build, "results"))
    os.makedirs(out_dir, exist_ok=True)
    ctx.run_tmp = os.path.join(ctx.work, "tmp")
    ctx.run_cwd = os.path.join(ctx.work, "cwd")
    for d in (ctx.run_tmp, ctx.run_cwd):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    skip = set(filter(None, args.skip.split(",")))
    ctx.machine = machine_description(ctx.work)
    tree = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "describe", "--always", "--dirty"],
                          capture_output=True, text=True).stdout.strip()
    ctx.machine += f"; source tree {tree or 'unknown'}"
    log(ctx.machine)

    log("making the corpus")
    base, binaries = build_base(os.path.join(ctx.work, "corpus"), p["base_file"])
    mixed = MixedStream(base)
    ctx.digest = hashlib.sha256(mixed.period).hexdigest()[:16]
    with open(os.path.join(out_dir, f"corpus-{ctx.profile}.txt"), "w") as f:
        f.write(f"mixed stream digest {ctx.digest}, {len(mixed.period)} bytes\n")
        f.write("binaries: " + " ".join(binaries) + "\n")
    base_total = sum(os.path.getsize(x) for x in base)
    base_mb = base_total // MB

    sets = {}
    size_sets = []
    for mb in p["sizes"]:
        name = f"{mb} MB, 20 files"
        sets[name] = build_set(ctx.work, f"s{mb}-n20", mb * MB, 20, base, mixed, ctx.exit_program)
        size_sets.append((mb, name))
    count_sets = []
    for n in p["counts"]:
        name = f"{base_mb} MB, {n} files"
        sets[name] = build_set(ctx.work, f"s{base_mb}-n{n}", base_total, n, base, mixed, ctx.exit_program)
        count_sets.append((n, name))
    main_set = f"{base_mb} MB, 20 files"

    ctx.codec_bytes = p["codec_mb"] * MB
    sample = os.path.join(ctx.work, "codec", "sample.bin")
    os.makedirs(os.path.dirname(sample), exist_ok=True)
    mixed.write(sample, 0, ctx.codec_bytes)

    results = Results()
    if "codec" not in skip:
        figure_codec(ctx, results, sample)
    if "whole" not in skip:
        figure_whole(ctx, results, sets)
    if "footprint" not in skip:
        small = pack_all(ctx, sets[size_sets[0][1]], size_sets[0][1])["sfxrun --store"]
        figure_footprint(ctx, results, small)

    ctx.machine += f"; load average at end {os.getloadavg()[0]:.1f}"
    order = [name for _, name in size_sets] + [name for _, name in count_sets if name != main_set]
    text = markdown(ctx, results, order, main_set)
    print(text)
    with open(os.path.join(out_dir, f"results-{ctx.profile}.md"), "w") as f:
        f.write(text)
    write_csv(os.path.join(out_dir, f"results-{ctx.profile}.csv"), results)
    if "whole" not in skip:
        write_chart(os.path.join(out_dir, f"scale-{ctx.profile}.png"), ctx, results, size_sets, count_sets)
    log(f"results in {out_dir}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as error:
        log(f"stopped: {error}")
        sys.exit(1)
