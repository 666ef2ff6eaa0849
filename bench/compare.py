#!/usr/bin/env python3
"""Whole programs against their peers on the same images, in one run: each round runs every contender once,
in turn, so that a slow moment of the machine falls on all of them; the table gives medians, the spread
(fastest-slowest) and the peak resident memory of each contender.

  bench/compare.py [--rounds N] [--scratch DIR] [--only extract,list,track,chd] [--build DIR]

Images are made once under the scratch folder (default /dev/shm/qorvex-bench: outputs go to tmpfs too):
  extract: ~1 GiB, 20 x 40 MiB + 20,000 x 4 KiB files with ISO 9660, Joliet and UDF, and each half alone
  list:    10,000 and 100,000 small files (ISO 9660, Joliet and UDF)
  track:   a 500 MiB ISO wrapped in MODE1/2352 sectors, with a cue sheet for bchunk
  chd:     a CHD made by chdman createcd (its default codecs) of a 300 MiB MODE1/2352 track of text and
           random files, read by qorvex extract-track and by chdman extractcd
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sh(command):
    subprocess.run(command, shell=True, check=True)


def run_measured(argv):
    """Runs a program; returns (seconds, peak resident KiB). GNU time starts it, so that the peak is the
    program's own and not that of a copy of this interpreter."""
    report = "/dev/shm/qorvex-bench-rss"
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise RuntimeError(f"{argv[0]} exited {done.returncode}: {done.stderr.decode(errors='replace')[:400]}")
    with open(report) as f:
        return elapsed, int(f.read().split()[-1])


def make_tree(tree, large, small):
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    if large:
        os.makedirs(f"{tree}/large")
        for i in range(1, 21):
            sh(f"head -c 41943040 /dev/urandom > {tree}/large/big{i}.bin")
    if small:
        for d in range(1, 21):
            folder = f"{tree}/small/d{d}"
            os.makedirs(folder)
            data = os.urandom(4096 * 1000)
            for i in range(1000):
                with open(f"{folder}/f{i}.dat", "wb") as f:
                    f.write(data[i * 4096:(i + 1) * 4096])


def make_iso(scratch, name, fill):
    image = f"{scratch}/{name}.iso"
    if not os.path.exists(image):
        tree = f"{scratch}/tree"
        fill(tree)
        sh(f"genisoimage -quiet -J -joliet-long -udf -o '{image}' '{tree}'")
        shutil.rmtree(tree)
    return image


def list_tree(tree, files):
    shutil.rmtree(tree, ignore_errors=True)
    for d in range(files // 1000):
        folder = f"{tree}/d{d}"
        os.makedirs(folder)
        for i in range(1000):
            open(f"{folder}/file-with-a-longer-name-{i}", "wb").close()


class Table:
    def __init__(self, title, baseline):
        self.title, self.baseline, self.rows = title, baseline, {}

    def add(self, name, seconds, rss):
        self.rows.setdefault(name, []).append((seconds, rss))

    def show(self):
        print(f"\n== {self.title}")
        base = statistics.median(s for s, _ in self.rows[self.baseline])
        print(f"  {'contender':34} {'median s':>9} {'spread s':>15} {'x ' + self.baseline:>14} {'peak MiB':>9}")
        for name, runs in self.rows.items():
            times = [s for s, _ in runs]
            med = statistics.median(times)
            rss = max(r for _, r in runs) / 1024
            print(f"  {name:34} {med:9.3f} {min(times):7.3f}-{max(times):<7.3f} {base / med:13.2f}x {rss:9.1f}")


def rounds_of(table, rounds, contenders, before=None):
    for _ in range(rounds):
        for name, argv in contenders:
            if before:
                before(name)
            seconds, rss = run_measured(argv)
            table.add(name, seconds, rss)


def bench_extract(args, bin_dir):
    scratch = args.scratch
    images = {
        "whole image": make_iso(scratch, "extract-both", lambda t: make_tree(t, True, True)),
        "40 MiB files": make_iso(scratch, "extract-large", lambda t: make_tree(t, True, False)),
        "4 KiB files": make_iso(scratch, "extract-small", lambda t: make_tree(t, False, True)),
    }
    out = f"{scratch}/out"

    def clean(_):
        shutil.rmtree(out, ignore_errors=True)
        sh("sync")

    for label, image in images.items():
        table = Table(f"extract-all, {label} ({os.path.getsize(image) >> 20} MiB, to tmpfs)", "7z x")
        contenders = [
            ("qorvex extract", [f"{bin_dir}/qorvex", "extract", image, "-o", out]),
            ("desktop core extract-all", [f"{bin_dir}/desktop_extract", image, out]),
            ("7z x", ["7z", "x", "-tiso", f"-o{out}", image, "-y"]),
            ("bsdtar -xf", ["bsdtar", "-xf", image, "-C", out]),
        ]
        if not os.path.exists(contenders[1][1][0]):
            contenders.pop(1)
        os.makedirs(out, exist_ok=True)

        def fresh(name):
            clean(name)
            os.makedirs(out)

        rounds_of(table, args.rounds, contenders, fresh)
        clean(None)
        table.show()


def bench_list(args, bin_dir):
    medians = {}
    for files in (10000, 100000):
        image = make_iso(args.scratch, f"list-{files}", lambda t, n=files: list_tree(t, n))
        table = Table(f"open + list, {files} files", "7z l")
        rounds_of(table, args.rounds, [
            ("qorvex ls (ISO+Joliet+UDF read)", [f"{bin_dir}/qorvex", "ls", image]),
            ("7z l", ["7z", "l", "-tiso", image]),
            ("bsdtar -tf", ["bsdtar", "-tf", image]),
            ("isoinfo -J -f (one file system)", ["isoinfo", "-J", "-f", "-i", image]),
        ])
        table.show()
        medians[files] = {name: statistics.median(s for s, _ in runs) for name, runs in table.rows.items()}
    # Linear growth means at most 11 times the time for ten times the files.
    print("\n== growth, 100,000 files against 10,000 (linear: at most 11x)")
    for name in medians[10000]:
        print(f"  {name:34} {medians[100000][name] / medians[10000][name]:9.2f}x")


def make_raw_track(scratch, bin_dir, name, fill):
    """scratch/name.bin: a MODE1/2352 track of an ISO of the files `fill` (shell lines run in the tree) writes."""
    raw = f"{scratch}/{name}.bin"
    if not os.path.exists(raw):
        tree = f"{scratch}/{name}-tree"
        os.makedirs(tree, exist_ok=True)
        for line in fill:
            sh(line.format(tree=tree))
        sh(f"genisoimage -quiet -o '{scratch}/{name}.iso' '{tree}'")
        shutil.rmtree(tree)
        sh(f"'{bin_dir}/make_raw' '{scratch}/{name}.iso' '{raw}'")
        os.remove(f"{scratch}/{name}.iso")
    return raw


def bench_track(args, bin_dir):
    scratch = args.scratch
    raw = make_raw_track(scratch, bin_dir, "track", [f"head -c {500 << 20} /dev/urandom > '{{tree}}/data.bin'"])
    cue = f"{scratch}/track.cue"
    with open(cue, "w") as f:
        f.write('FILE "track.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n')
    out = f"{scratch}/track-out"
    os.makedirs(out, exist_ok=True)
    table = Table("MODE1/2352 track to user data (500 MiB of files)", "bchunk")
    rounds_of(table, args.rounds, [
        ("qorvex extract-track", [f"{bin_dir}/qorvex", "extract-track", raw, "1", "-o", f"{out}/q.iso"]),
        ("qorvex extract-track --check-edc", [f"{bin_dir}/qorvex", "--check-edc", "extract-track", raw, "1", "-o",
                                               f"{out}/e.iso"]),
        ("bchunk", ["bchunk", raw, cue, f"{out}/b"]),
    ], lambda _: [os.remove(os.path.join(out, n)) for n in os.listdir(out)])
    shutil.rmtree(out)
    table.show()


def bench_chd(args, bin_dir):
    scratch = args.scratch
    chd = f"{scratch}/track.chd"
    if not os.path.exists(chd):
        # Half of it compresses (text), half does not (random bytes): hunks of both kinds.
        make_raw_track(scratch, bin_dir, "chd", [f"head -c {150 << 20} /dev/urandom > '{{tree}}/random.bin'",
                                                 f"seq 1 30000000 | head -c {150 << 20} > '{{tree}}/text.txt'"])
        with open(f"{scratch}/chd.cue", "w") as f:
            f.write('FILE "chd.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n')
        sh(f"chdman createcd -i '{scratch}/chd.cue' -o '{chd}' >/dev/null 2>&1")
        os.remove(f"{scratch}/chd.bin")
    out = f"{scratch}/chd-out"
    os.makedirs(out, exist_ok=True)
    table = Table("CHD data track (300 MiB, chdman's default codecs) to a file", "chdman extractcd")
    rounds_of(table, args.rounds, [
        ("qorvex extract-track", [f"{bin_dir}/qorvex", "-q", "extract-track", chd, "1", "-o", f"{out}/q.iso"]),
        ("qorvex extract-track --raw", [f"{bin_dir}/qorvex", "-q", "extract-track", chd, "1", "--raw", "-o",
                                        f"{out}/q.bin"]),
        ("chdman extractcd", ["chdman", "extractcd", "-f", "-i", chd, "-o", f"{out}/c.cue", "-ob", f"{out}/c.bin"]),
    ], lambda _: [os.remove(os.path.join(out, n)) for n in os.listdir(out)])
    shutil.rmtree(out)
    table.show()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--scratch", default="/dev/shm/qorvex-bench")
    parser.add_argument("--only", default="extract,list,track")
    parser.add_argument("--build", default=f"{ROOT}/build-rel")
    args = parser.parse_args()
    os.makedirs(args.scratch, exist_ok=True)
    bin_dir = f"{args.build}/bin"
    for part in args.only.split(","):
        {"extract": bench_extract, "list": bench_list, "track": bench_track, "chd": bench_chd}[part](args, bin_dir)


if __name__ == "__main__":
    sys.exit(main())
