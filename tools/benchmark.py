#!/usr/bin/env python3
"""Times Torsel against copying and reading the same motion.

Generates an 11 MB and a 111 MB motion with the project's generator, then,
alternating in one run, times the default conversion (-ND, display level 0),
`cp` of the file and `cat FILE FILE > /dev/null` (the two reads Torsel
makes). Prints medians, ratios, throughput, the peak resident memory of the
conversion and how the time grows from 11 MB to 111 MB.

    tools/benchmark.py [--build DIR] [--repeat N]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

SIZES = {"11MB": 100_000, "111MB": 1_000_000}
SEED = 1


def run(argv, stdout=subprocess.DEVNULL, env=None):
    """Runs a command; returns its wall-clock seconds."""
    start = time.perf_counter()
    status = subprocess.call(argv, stdout=stdout, env=env)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed: {' '.join(argv)}")
    return elapsed


def peak_rss_kib(argv, env, work):
    """Peak resident memory of a command, measured by GNU time: a child of
    this process would inherit the interpreter's own peak across exec."""
    report = os.path.join(work, "rss.txt")
    subprocess.check_call(["/usr/bin/time", "-f", "%M", "-o", report] + argv,
                          stdout=subprocess.DEVNULL, env=env)
    with open(report) as f:
        return int(f.read().split()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    torsel = os.path.join(args.build, "torsel")
    generator = os.path.join(args.build, "make_sample")
    work = os.path.join(args.build, "bench")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, LC_ALL="C")

    results = {}
    for label, count in SIZES.items():
        motion = os.path.join(work, f"motion-{label}.vmd")
        subprocess.check_call([generator, motion, str(count), str(SEED)])
        size = os.path.getsize(motion)
        copy = os.path.join(work, f"copy-{label}.vmd")
        times = {"convert": [], "cp": [], "cat twice": []}
        with open(os.devnull, "wb") as null:
            run(["cat", motion], stdout=null)  # into the page cache
            output = motion[:-len(".vmd")] + "-cnv.vmd"
            for _ in range(args.repeat):
                # Both write a new file: replacing one costs the file system
                # more (ext4 flushes a file renamed over another at once).
                for old in (output, copy):
                    if os.path.exists(old):
                        os.remove(old)
                subprocess.call(["sync"])
                times["convert"].append(run([torsel, "-ND", motion], env=env))
                times["cp"].append(run(["cp", motion, copy]))
                times["cat twice"].append(run(["cat", motion, motion], stdout=null))
        peak = peak_rss_kib([torsel, "-ND", motion], env, work)
        os.remove(copy)
        medians = {k: statistics.median(v) for k, v in times.items()}
        results[label] = (size, medians, peak)

    print(f"{'motion':>8} {'bytes':>11} {'convert':>9} {'cp':>8} {'cat x2':>8} "
          f"{'conv/cp':>8} {'MB/s':>7} {'peak RSS':>9}")
    for label, (size, m, peak) in results.items():
        print(f"{label:>8} {size:>11} {m['convert']*1000:8.1f}ms {m['cp']*1000:6.1f}ms "
              f"{m['cat twice']*1000:6.1f}ms {m['convert']/m['cp']:8.2f} "
              f"{size/1e6/m['convert']:7.1f} {peak/1024:7.2f}MiB")
    small, large = results["11MB"][1]["convert"], results["111MB"][1]["convert"]
    print(f"111MB / 11MB conversion time: {large/small:.2f} (size ratio "
          f"{results['111MB'][0]/results['11MB'][0]:.2f}); medians of {args.repeat} runs")


if __name__ == "__main__":
    main()
