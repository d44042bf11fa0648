#!/usr/bin/env python3
# Reliability scenarios that run the POSIX launcher as a process: load, hostile containers, a name
# planted under the work folder's, real signals, full disks; test harness only.
"""usage: reliability.py SCENARIO --stub STUB --pack PACK --probe PROBE --work DIR [--messages DEF]

Every scenario also checks that the container's SHA-256 digest is the same after each run: the
launcher never writes to its own file. Exit status 0 when every row passed, 1 otherwise."""

import argparse
import hashlib
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sfxcontainer import Entry, build  # noqa: E402

FAILURES = []


def check(condition, text):
    if not condition:
        FAILURES.append(text)
        print("FAIL: " + text, flush=True)
    return condition


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def tree(root):
    """Everything under root: relative path, kind, and size and digest for files or target for links."""
    found = []
    for folder, dirs, files in os.walk(root):
        for name in sorted(dirs + files):
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                found.append((rel, "link", os.readlink(path)))
            elif stat.S_ISDIR(info.st_mode):
                found.append((rel, "dir", ""))
            else:
                found.append((rel, "file", "%d:%s" % (info.st_size, digest(path))))
    return sorted(found)


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def load_messages(path):
    texts = {}
    with open(path, encoding="utf-8") as f:
        for m in re.finditer(r'SFXRUN_MESSAGE\((\d+), (\w+), "(.*)"\)', f.read()):
            texts[m.group(2)] = m.group(3).replace("\\n", "\n")
    return texts


class Harness:
    def __init__(self, args):
        self.stub = os.path.realpath(args.stub)
        self.pack = os.path.realpath(args.pack)
        self.probe = os.path.realpath(args.probe)
        self.work = fresh(os.path.realpath(args.work))
        self.texts = load_messages(args.messages)

    def pack_container(self, out, files, store=False):
        command = [self.pack, "-q", "--stub", self.stub, "-o", out] + (["--store"] if store else []) + files
        subprocess.run(command, check=True, env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
        os.chmod(out, 0o755)
        return out

    def env(self, tmp, **extra):
        env = dict(os.environ, TMPDIR=tmp)
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def expect_message(self, stderr, container, name, label):
        lines = [line for line in stderr.decode("utf-8", "replace").splitlines() if line]
        want = "%s: %s" % (container, self.texts[name])
        return check(lines == [want], "%s: stderr %r, wanted one line %r" % (label, lines, want))


# ---- load ----

def scenario_load(h, count=32):
    src = fresh(os.path.join(h.work, "load-src"))
    with open(os.path.join(src, "data.bin"), "wb") as f:
        f.write(os.urandom(300000))
    with open(os.path.join(src, "notes.txt"), "w") as f:
        f.write("".join("line %d of the notes, compressed by the builder\n" % i for i in range(2000)))
    shutil.copy(h.probe, os.path.join(src, "probe.sh"))
    container = h.pack_container(os.path.join(h.work, "load.sfx"),
                                 [os.path.join(src, n) for n in ("data.bin", "notes.txt", "probe.sh")])
    before = digest(container)
    want = {n: digest(os.path.join(src, n)) for n in ("data.bin", "notes.txt", "probe.sh")}
    tmp = fresh(os.path.join(h.work, "load-tmp"))
    reports = fresh(os.path.join(h.work, "load-reports"))
    started = time.monotonic()
    procs = [subprocess.Popen([container], cwd=h.work, stderr=subprocess.PIPE,
                              env=h.env(tmp, SFXRUN_PROBE_REPORT=os.path.join(reports, "r%d" % i),
                                        SFXRUN_PROBE_SLEEP="1"))
             for i in range(count)]
    results = [(p.wait(timeout=120), p.stderr.read()) for p in procs]
    elapsed = time.monotonic() - started
    folders = set()
    for i, (rc, err) in enumerate(results):
        check(rc == 0 and err == b"", "load run %d: exit %d, stderr %r" % (i, rc, err))
        path = os.path.join(reports, "r%d" % i)
        if not check(os.path.exists(path), "load run %d: no report" % i):
            continue
        files, folder, fds = {}, None, []
        for line in open(path, encoding="utf-8", errors="replace").read().splitlines():
            parts = line.split("\t")
            if parts[0] == "file":
                files[parts[1]] = parts[4].split(":", 1)[1]
            elif parts[0] == "path":
                folder = os.path.dirname(parts[1])
            elif parts[0] == "fd":
                fds.append(parts[2])
        check(files == want, "load run %d: members seen %r" % (i, sorted(files)))
        check(folder is not None and os.path.dirname(folder) == tmp.rstrip("/"),
              "load run %d: folder %r not directly in the temporary folder" % (i, folder))
        folders.add(folder)
        check(container not in fds, "load run %d: the launcher held its own file open" % i)
    check(len(folders) == count, "load: %d runs shared %d folders" % (count, len(folders)))
    check(os.listdir(tmp) == [], "load: left in the temporary folder: %r" % os.listdir(tmp))
    check(digest(container) == before, "load: the container changed")
    print("load: %d launchers at once, each probe sleeping 1 s: %.2f s wall, %d distinct folders, "
          "exit 0 for %d, temporary folder empty: %s" % (count, elapsed, len(folders),
                                                          sum(1 for rc, _ in results if rc == 0),
                                                          os.listdir(tmp) == []))


# ---- hostile containers ----

def hostile_rows(stub, probe):
    data = Entry(b"data.bin", b"data.bin", b"hello")
    program = Entry(b"probe.sh", b"probe.sh", probe)
    rows = []
    for label, name in [("..\\x", b"..\\x"), ("../x", b"../x"), ("a/b", b"a/b"), ("a\\b", b"a\\b"),
                        ("C:x", b"C:x"), ("x:stream", b"x:stream"), (".", b"."), ("..", b".."),
                        ("empty", b""), ("without NUL", b"n" * 256)]:
        rows.append(("stored name " + label, build(stub, [Entry(name, b"ok.txt", b"x"), data, program])))
        rows.append(("expanded name " + label, build(stub, [Entry(b"ok.tx_", name, b"x"), data, program])))
        rows.append(("program name " + label, build(stub, [data, Entry(name, name, probe)])))
    end = len(stub) + 5 + len(probe) + (1 << 20)
    rows += [
        ("offset before the file", build(stub, [Entry(b"odd.bin", b"odd.bin", offset=-100, length=10), data, program])),
        ("offset past the end", build(stub, [Entry(b"odd.bin", b"odd.bin", offset=end, length=10), data, program])),
        ("member overlapping the directory",
         build(stub, [data, Entry(b"odd.bin", b"odd.bin", offset=len(stub), length=5 + len(probe) + 100), program])),
        ("count -1", build(stub, [data, program], count=-1)),
        ("count 257", build(stub, [data, program], count=257)),
        ("count 2^31-1", build(stub, [data, program], count=0x7FFFFFFF)),
        ("dataLength 2^31-1", build(stub, [Entry(b"odd.bin", b"odd.bin", offset=len(stub), length=0x7FFFFFFF), data, program])),
    ]
    return rows


def scenario_hostile(h):
    with open(h.stub, "rb") as f:
        stub = f.read()
    with open(h.probe, "rb") as f:
        probe = f.read()
    rows = hostile_rows(stub, probe)
    for label, data in rows:
        scratch = fresh(os.path.join(h.work, "hostile"))
        for sub in ("tmp", "cwd", "cwd/inner"):
            os.makedirs(os.path.join(scratch, sub))
        container = os.path.join(scratch, "cwd", "inner", "hostile.sfx")
        with open(container, "wb") as f:
            f.write(data)
        os.chmod(container, 0o755)
        before, digest_before = tree(scratch), digest(container)
        # The probe never runs: if it did, its report would appear.
        run = subprocess.run([container], cwd=os.path.join(scratch, "cwd", "inner"), capture_output=True,
                             env=h.env(os.path.join(scratch, "tmp"),
                                       SFXRUN_PROBE_REPORT=os.path.join(scratch, "report")), timeout=30)
        ok = check(run.returncode == 5, "hostile %s: exit %d" % (label, run.returncode))
        ok &= h.expect_message(run.stderr, container, "IDS_DAMAGED", "hostile " + label)
        ok &= check(tree(scratch) == before, "hostile %s: something was written: %r" %
                    (label, sorted(set(tree(scratch)) ^ set(before))))
        ok &= check(digest(container) == digest_before, "hostile %s: the container changed" % label)
        print("| %s | %d | %s | %s |" % (label, run.returncode, "IDS_DAMAGED" if ok else "?",
                                         "nothing" if tree(scratch) == before else "files"))
    print("hostile: %d containers refused" % len(rows))


# ---- a name planted under the work folder's ----

def scenario_planted(h):
    src = fresh(os.path.join(h.work, "planted-src"))
    with open(os.path.join(src, "data.bin"), "wb") as f:
        f.write(b"member data\n" * 100)
    shutil.copy(h.probe, os.path.join(src, "probe.sh"))
    container = h.pack_container(os.path.join(h.work, "planted.sfx"),
                                 [os.path.join(src, "data.bin"), os.path.join(src, "probe.sh")])
    before = digest(container)

    def link(target):
        return lambda tmp, outside, name: os.symlink(target(outside), os.path.join(tmp, name))

    def plain(tmp, outside, name):
        with open(os.path.join(tmp, name), "w") as f:
            f.write("planted\n")

    rows = [
        ("link to a folder outside", [("probe", link(lambda o: o))], "probe(1)"),
        ("link to a file outside", [("probe", link(lambda o: os.path.join(o, "keep.txt")))], "probe(1)"),
        ("dangling link", [("probe", link(lambda o: os.path.join(o, "missing")))], "probe(1)"),
        ("plain file", [("probe", plain)], "probe(1)"),
        ("links under the name and the first number", [("probe", link(lambda o: o)), ("probe(1)", link(lambda o: o))],
         "probe(2)"),
    ]
    for label, plants, want_folder in rows:
        scratch = fresh(os.path.join(h.work, "planted"))
        tmp, outside = os.path.join(scratch, "tmp"), os.path.join(scratch, "outside")
        os.makedirs(tmp)
        os.makedirs(outside)
        with open(os.path.join(outside, "keep.txt"), "w") as f:
            f.write("keep\n")
        for name, plant in plants:
            plant(tmp, outside, name)
        planted, outside_before = tree(tmp), tree(outside)
        report = os.path.join(scratch, "report")
        run = subprocess.run([container], cwd=scratch, capture_output=True,
                             env=h.env(tmp, SFXRUN_PROBE_REPORT=report), timeout=30)
        check(run.returncode == 0 and run.stderr == b"", "planted %s: exit %d, %r" % (label, run.returncode, run.stderr))
        folder = None
        if check(os.path.exists(report), "planted %s: the program did not run" % label):
            for line in open(report).read().splitlines():
                if line.startswith("path\t"):
                    folder = os.path.dirname(line.split("\t")[1])
        check(folder == os.path.join(tmp, want_folder), "planted %s: ran in %r" % (label, folder))
        check(tree(outside) == outside_before, "planted %s: the outside folder changed" % label)
        check(tree(tmp) == planted, "planted %s: the planted names changed or files stayed" % label)
        check(digest(container) == before, "planted %s: the container changed" % label)
        print("planted %s: ran in %s, planted names untouched" % (label, folder and os.path.basename(folder)))


# ---- real signals ----

# In Python rather than sh: a shell waits through child sleeps, which the group's signals would
# reach (and QUIT would make dump core) beside the program itself.
SIGNAL_PROGRAM = """#!%s
# Records each signal it receives; TERM and HUP end it after a moment, release ends it otherwise.
import os, signal, time
d = os.environ["SFXRUN_SIGNAL_DIR"]
def record(text):
    with open(os.path.join(d, "got"), "a") as f:
        f.write(text + "\\n")
def survive(number, frame):
    record(signal.Signals(number).name[3:])
def end(number, frame):
    record(signal.Signals(number).name[3:])
    time.sleep(0.5)
    record("ended")
    os._exit(0)
for number, handler in ((signal.SIGINT, survive), (signal.SIGQUIT, survive), (signal.SIGTERM, end), (signal.SIGHUP, end)):
    signal.signal(number, handler)
with open(os.path.join(d, "pid.part"), "w") as f:
    f.write(str(os.getpid()))
os.rename(os.path.join(d, "pid.part"), os.path.join(d, "pid"))
while not os.path.exists(os.path.join(d, "release")):
    time.sleep(0.05)
record("ended")
""" % sys.executable


EARLY_PROGRAM = r"""#!/bin/sh
# Asks its launcher to terminate the moment it starts; the request must come back to it.
trap 'echo TERM >> "$SFXRUN_SIGNAL_DIR/got"; exit 0' TERM
kill -TERM $PPID
i=0
while [ $i -lt 100 ]; do sleep 0.02; i=$((i+1)); done
echo lost >> "$SFXRUN_SIGNAL_DIR/got"
"""


def wait_for(path, seconds=20):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def scenario_signals(h):
    src = fresh(os.path.join(h.work, "signals-src"))
    with open(os.path.join(src, "data.bin"), "wb") as f:
        f.write(b"data\n" * 1000)
    with open(os.path.join(src, "sigprobe.py"), "w") as f:
        f.write(SIGNAL_PROGRAM)
    container = h.pack_container(os.path.join(h.work, "signals.sfx"),
                                 [os.path.join(src, "data.bin"), os.path.join(src, "sigprobe.py")])
    before = digest(container)
    # (signal, sent to the whole group?, what the program records)
    rows = [
        (signal.SIGINT, True, ["INT", "ended"]),
        (signal.SIGQUIT, True, ["QUIT", "ended"]),
        (signal.SIGINT, False, ["ended"]),
        (signal.SIGQUIT, False, ["ended"]),
        (signal.SIGTERM, False, ["TERM", "ended"]),
        (signal.SIGHUP, False, ["HUP", "ended"]),
        (signal.SIGTERM, True, ["TERM", "ended"]),
        (signal.SIGHUP, True, ["HUP", "ended"]),
    ]
    for sig, group, want in rows:
        label = "%s to the %s" % (sig.name, "process group" if group else "launcher")
        scratch = fresh(os.path.join(h.work, "signals"))
        tmp, d = fresh(os.path.join(scratch, "tmp")), fresh(os.path.join(scratch, "d"))
        # A session of its own, so the group signal reaches the launcher and its program only.
        proc = subprocess.Popen([container], cwd=scratch, stderr=subprocess.PIPE, start_new_session=True,
                                env=h.env(tmp, SFXRUN_SIGNAL_DIR=d))
        if not check(wait_for(os.path.join(d, "pid")), "signals %s: the program did not start" % label):
            proc.kill()
            proc.wait()
            continue
        if group:
            os.killpg(proc.pid, sig)
        else:
            os.kill(proc.pid, sig)
        time.sleep(0.3)
        alive = proc.poll() is None
        if sig in (signal.SIGINT, signal.SIGQUIT):
            check(alive, "signals %s: the launcher did not survive it" % label)
            open(os.path.join(d, "release"), "w").close()
        rc = proc.wait(timeout=20)
        got = open(os.path.join(d, "got")).read().split() if os.path.exists(os.path.join(d, "got")) else []
        # The group signal to TERM or HUP reaches the program twice (directly and forwarded); the
        # first one ends it.
        check(got[:len(want)] == want or (group and got[:1] == want[:1] and got[-1:] == ["ended"]),
              "signals %s: the program recorded %r, wanted %r" % (label, got, want))
        check(rc == 0, "signals %s: launcher exit %d" % (label, rc))
        # The program's shell may report its own killed sleep; only the launcher's lines count.
        err = [line for line in proc.stderr.read().decode("utf-8", "replace").splitlines()
               if line.startswith(container + ":")]
        check(err == [], "signals %s: the launcher showed %r" % (label, err))
        # The launcher waited for the program's end: by then "ended" was written, and it cleaned up.
        check(got[-1:] == ["ended"], "signals %s: the launcher ended before the program" % label)
        check(os.listdir(tmp) == [], "signals %s: left in the temporary folder: %r" % (label, os.listdir(tmp)))
        check(digest(container) == before, "signals %s: the container changed" % label)
        print("| %s | %s | %s | %d | %s |" % (label, "yes" if alive else "no", " ".join(got), rc,
                                             "nothing" if os.listdir(tmp) == [] else "files"))

    # A request that arrives while the program is being started, before the launcher knows its pid,
    # must still be forwarded (it once was lost in about one start in four on a loaded machine).
    with open(os.path.join(src, "early.sh"), "w") as f:
        f.write(EARLY_PROGRAM)
    early = h.pack_container(os.path.join(h.work, "early.sfx"), [os.path.join(src, "early.sh")])
    tries, forwarded = 30, 0
    for i in range(tries):
        scratch = fresh(os.path.join(h.work, "early"))
        tmp, d = fresh(os.path.join(scratch, "tmp")), fresh(os.path.join(scratch, "d"))
        run = subprocess.run([early], cwd=scratch, capture_output=True, start_new_session=True, timeout=30,
                             env=h.env(tmp, SFXRUN_SIGNAL_DIR=d))
        got = open(os.path.join(d, "got")).read().split() if os.path.exists(os.path.join(d, "got")) else []
        forwarded += got == ["TERM"]
        check(got == ["TERM"] and run.returncode == 0 and os.listdir(tmp) == [],
              "signals SIGTERM as the program starts, try %d: recorded %r, exit %d" % (i, got, run.returncode))
    print("| SIGTERM from the program as it starts (%d tries) | - | TERM in %d of %d | 0 | nothing |" %
          (tries, forwarded, tries))


# ---- full disks ----

def scenario_diskfull(h):
    src = fresh(os.path.join(h.work, "diskfull-src"))
    with open(os.path.join(src, "big.bin"), "wb") as f:
        f.write(os.urandom(1 << 20))
    with open(os.path.join(src, "huge.bin"), "wb") as f:
        f.write(os.urandom(14 << 20))
    with open(os.path.join(src, "text.txt"), "w") as f:
        f.write("".join("a line of text that compresses well, number %d\n" % i for i in range(40000)))
    shutil.copy(h.probe, os.path.join(src, "probe.sh"))
    stored = h.pack_container(os.path.join(h.work, "diskfull-stored.sfx"),
                              [os.path.join(src, "big.bin"), os.path.join(src, "probe.sh")], store=True)
    expanded = h.pack_container(os.path.join(h.work, "diskfull-expanded.sfx"),
                                [os.path.join(src, "text.txt"), os.path.join(src, "probe.sh")])
    huge = h.pack_container(os.path.join(h.work, "diskfull-huge.sfx"),
                            [os.path.join(src, "huge.bin"), os.path.join(src, "probe.sh")], store=True)

    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (256 << 10, 256 << 10))

    def run_row(label, container, tmp, preexec=None):
        before = digest(container)
        report = os.path.join(h.work, "diskfull-report")
        if os.path.exists(report):
            os.remove(report)
        run = subprocess.run([container], cwd=h.work, capture_output=True, preexec_fn=preexec, timeout=60,
                             env=h.env(tmp, SFXRUN_PROBE_REPORT=report))
        check(run.returncode == 6, "diskfull %s: exit %d" % (label, run.returncode))
        h.expect_message(run.stderr, container, "IDS_CANNOT_CREATE", "diskfull " + label)
        check(not os.path.exists(report), "diskfull %s: the program ran" % label)
        check(digest(container) == before, "diskfull %s: the container changed" % label)
        print("| %s | %d | %s | %s |" % (label, run.returncode, "IDS_CANNOT_CREATE",
                                         ", ".join("%s:%d" % (r, int(s.split(":")[0])) for r, k, s in tree(tmp) if k == "file")))

    run_row("RLIMIT_FSIZE 256 KiB, 1 MiB stored member", stored, fresh(os.path.join(h.work, "df-tmp1")),
            limit_file_size)
    run_row("RLIMIT_FSIZE 256 KiB, 1.8 MiB expanded member", expanded, fresh(os.path.join(h.work, "df-tmp2")),
            limit_file_size)
    mount = fresh(os.path.join(h.work, "df-tmpfs"))
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=12m", "tmpfs", mount], capture_output=True)
    if mounted.returncode != 0:
        print("diskfull tmpfs row skipped: mount not permitted here (%s)" % mounted.stderr.decode().strip())
        return
    try:
        run_row("tmpfs of 12 MiB, 14 MiB stored member", huge, mount)
    finally:
        subprocess.run(["umount", mount])


SCENARIOS = {"load": scenario_load, "hostile": scenario_hostile, "planted": scenario_planted,
             "signals": scenario_signals, "diskfull": scenario_diskfull}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--stub", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--messages", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                           "..", "..", "resources", "messages.def"))
    args = parser.parse_args()
    SCENARIOS[args.scenario](Harness(args))
    if FAILURES:
        print("%d failures" % len(FAILURES))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
