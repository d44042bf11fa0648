#!/usr/bin/env python3
# Reliability scenarios of the x86_64 stub under wine64: launchers at once, and a signed container
# against the unsigned one; test harness only.
"""usage: reliability_wine.py SCENARIO --pack PACK --work DIR

Needs WINE64, WINEPREFIX and SFXRUN_WIN64_DIR (with bin/sfxrun-stub64.exe, bin/e2e-probe.exe and
bin/e2e-parent.exe). Every run also checks that the container's SHA-256 digest did not change."""

import argparse
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
import time

FAILURES = []
FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3


def check(condition, text):
    if not condition:
        FAILURES.append(text)
        print("FAIL: " + text, flush=True)
    return condition


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def fnv1a64(path):
    value = FNV_OFFSET
    with open(path, "rb") as f:
        for byte in f.read():
            value = ((value ^ byte) * FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % value


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


class Wine:
    def __init__(self, args):
        self.wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
        bin_dir = os.path.join(os.environ["SFXRUN_WIN64_DIR"], "bin")
        self.stub = os.path.join(bin_dir, "sfxrun-stub64.exe")
        self.probe = os.path.join(bin_dir, "e2e-probe.exe")
        self.parent = os.path.join(bin_dir, "e2e-parent.exe")
        self.pack = os.path.realpath(args.pack)
        self.work = fresh(os.path.realpath(args.work))
        for path in (self.stub, self.probe, self.parent):
            if not os.path.exists(path):
                print("FAIL: %s is not built (win64 preset)" % path)
                sys.exit(1)

    def pack_container(self, out, files):
        subprocess.run([self.pack, "-q", "--stub", self.stub, "-o", out] + files, check=True,
                       env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
        return out

    def start(self, container, tmp, report, sleep="1"):
        """The launcher under a Windows parent that hands it TEMP and reports its 32-bit exit code."""
        command = [self.wine, self.parent, "TMP=" + windows_path(tmp), "TEMP=" + windows_path(tmp),
                   "SFXRUN_PROBE_REPORT=" + windows_path(report), "SFXRUN_PROBE_SLEEP=" + sleep, "--", container]
        return subprocess.Popen(command, cwd=self.work, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def read_report(path):
    files, folder = {}, None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f.read().splitlines():
            parts = line.split("\t")
            if parts[0] == "file":
                files[parts[1]] = (int(parts[2]), parts[4])
            elif parts[0] == "path":
                folder = parts[1].rsplit("\\", 1)[0]
    return files, folder


def members(w, folder):
    src = fresh(folder)
    with open(os.path.join(src, "data.bin"), "wb") as f:
        f.write(os.urandom(200000))
    with open(os.path.join(src, "Readme.txt"), "w") as f:
        f.write("".join("line %d of a text the builder compresses\r\n" % i for i in range(1000)))
    shutil.copy(w.probe, os.path.join(src, "e2e-probe.exe"))
    paths = [os.path.join(src, n) for n in ("data.bin", "Readme.txt", "e2e-probe.exe")]
    want = {os.path.basename(p): (os.path.getsize(p), "fnv1a64:" + fnv1a64(p)) for p in paths}
    return paths, want


def scenario_load(w, count=8):
    paths, want = members(w, os.path.join(w.work, "src"))
    container = w.pack_container(os.path.join(w.work, "load.exe"), paths)
    before = digest(container)
    tmp = fresh(os.path.join(w.work, "tmp"))
    reports = fresh(os.path.join(w.work, "reports"))
    started = time.monotonic()
    procs = [w.start(container, tmp, os.path.join(reports, "r%d" % i)) for i in range(count)]
    outputs = [p.communicate(timeout=240)[0].decode(errors="replace").strip() for p in procs]
    elapsed = time.monotonic() - started
    folders = set()
    for i, out in enumerate(outputs):
        check(out == "exit 0x00000000", "wine load run %d: %r" % (i, out))
        report = os.path.join(reports, "r%d" % i)
        if not check(os.path.exists(report), "wine load run %d: no report" % i):
            continue
        files, folder = read_report(report)
        check(files == want, "wine load run %d: members seen %r" % (i, files))
        check(folder is not None and folder.rsplit("\\", 1)[0].lower() == windows_path(tmp).lower(),
              "wine load run %d: folder %r not directly in the temporary folder" % (i, folder))
        folders.add(folder)
    check(len(folders) == count, "wine load: %d runs shared %d folders" % (count, len(folders)))
    check(os.listdir(tmp) == [], "wine load: left in the temporary folder: %r" % os.listdir(tmp))
    check(digest(container) == before, "wine load: the container changed")
    print("wine load: %d launchers at once, each probe sleeping 1 s: %.2f s wall, %d distinct folders, "
          "exit 0 for %d, temporary folder empty: %s" % (count, elapsed, len(folders),
                                                          outputs.count("exit 0x00000000"), os.listdir(tmp) == []))


def scenario_signed(w):
    paths, want = members(w, os.path.join(w.work, "src"))
    plain = w.pack_container(os.path.join(w.work, "plain.exe"), paths)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem",
                    "-out", "cert.pem", "-days", "2", "-subj", "/CN=sfxrun reliability test"],
                   cwd=w.work, check=True, capture_output=True)
    signed = os.path.join(w.work, "signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n", "sfxrun test",
                    "-in", plain, "-out", signed], cwd=w.work, check=True, capture_output=True)
    check(os.path.getsize(signed) > os.path.getsize(plain), "signing appended nothing")
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", "cert.pem", "-in", signed], cwd=w.work,
                              capture_output=True, text=True)
    print("osslsigncode verify: exit %d" % verified.returncode)
    accepted = subprocess.run([w.pack, "verify", signed], capture_output=True, text=True)
    check(accepted.returncode == 0, "sfxrun-pack verify refused the signed container: %s" % accepted.stderr)
    print("sfxrun-pack verify signed.exe: exit %d: %s" % (accepted.returncode, accepted.stdout.strip()))
    seen = {}
    for label, container in (("unsigned", plain), ("signed", signed)):
        before = digest(container)
        tmp = fresh(os.path.join(w.work, "tmp-" + label))
        report = os.path.join(w.work, "report-" + label)
        out = w.start(container, tmp, report, sleep="0").communicate(timeout=240)[0].decode(errors="replace").strip()
        check(out == "exit 0x00000000", "%s: %r" % (label, out))
        if check(os.path.exists(report), "%s: no report" % label):
            files, folder = read_report(report)
            check(files == want, "%s: members seen %r" % (label, files))
            seen[label] = (files, folder.rsplit("\\", 1)[1] if folder else None)
        check(os.listdir(tmp) == [], "%s: left in the temporary folder: %r" % (label, os.listdir(tmp)))
        check(digest(container) == before, "%s: the container changed" % label)
        print("%s: %d bytes, %s, folder %s, temporary folder empty afterwards: %s" %
              (label, os.path.getsize(container), out, seen.get(label, (None, None))[1], os.listdir(tmp) == []))
    check(seen.get("signed") == seen.get("unsigned"), "the signed container ran differently: %r" % seen)


def scenario_hostile(w):
    """The POSIX table's hostile containers on the x86_64 stub: names that are paths on Windows too."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from reliability import hostile_rows
    with open(w.stub, "rb") as f:
        stub = f.read()
    with open(w.probe, "rb") as f:
        probe = f.read()
    rows = [(label, data) for label, data in hostile_rows(stub, probe)
            if not label.startswith("expanded name ")]  # the same check as the stored name, by construction
    # Names Windows opens as devices in any folder: the bytes would go to the device, not a file.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from sfxcontainer import Entry, build
    data_member = Entry(b"data.bin", b"data.bin", b"hello")
    for name in (b"NUL", b"nul.txt", b"CON", b"COM1", b"lpt9.log", b"AUX .txt"):
        rows.append(("device name %s as a member" % name.decode(),
                     build(stub, [Entry(name, name, b"bytes for a device\n"), data_member,
                                  Entry(b"e2e-probe.exe", b"e2e-probe.exe", probe)])))
        rows.append(("device name %s as the program" % name.decode(), build(stub, [data_member, Entry(name, name, probe)])))
    env = dict(os.environ, WINEDEBUG="+relay")

    def run_row(index):
        label, data = rows[index]
        scratch = fresh(os.path.join(w.work, "hostile%d" % index))
        tmp, cwd = fresh(os.path.join(scratch, "tmp")), fresh(os.path.join(scratch, "cwd"))
        container = os.path.join(cwd, "hostile.exe")
        with open(container, "wb") as f:
            f.write(data)
        before = digest(container)
        report = os.path.join(scratch, "report")
        command = [w.wine, w.parent, "TMP=" + windows_path(tmp), "TEMP=" + windows_path(tmp),
                   "SFXRUN_PROBE_REPORT=" + windows_path(report), "--", container]
        run = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=240)
        out = run.stdout.decode(errors="replace").strip()
        boxes = [line for line in run.stderr.decode("latin-1").splitlines() if "Call user32.MessageBoxA(" in line]
        written = os.listdir(tmp) + [n for n in os.listdir(cwd) if n != "hostile.exe"]
        return label, out, boxes, written, os.path.exists(report), digest(container) == before

    # Each wine start costs seconds; the rows are independent, so they run eight at a time.
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(run_row, range(len(rows))))
    for label, out, boxes, written, reported, same in results:
        check(out == "exit 0x00000005", "wine hostile %s: %r" % (label, out))
        check(len(boxes) == 1, "wine hostile %s: %d message boxes" % (label, len(boxes)))
        check(written == [] and not reported, "wine hostile %s: something was written: %r" % (label, written))
        check(same, "wine hostile %s: the container changed" % label)
        print("| %s | %s | %d | %s |" % (label, out.split()[-1] if out else "?", len(boxes),
                                         "nothing" if written == [] and not reported else "files"))
    print("wine hostile: %d containers" % len(rows))


SCENARIOS = {"load": scenario_load, "signed": scenario_signed, "hostile": scenario_hostile}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--pack", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    SCENARIOS[args.scenario](Wine(args))
    if FAILURES:
        print("%d failures" % len(FAILURES))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
