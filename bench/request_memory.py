#!/usr/bin/env python3
"""Peak memory of one thumbnail request in a fresh kwbthumb process.

For each preview size and cx, writes a page-store document with a zstd preview
(make_kwb_document --pattern), runs `kwbthumb --square -s CX DOC out.bmp` in a child and reads the
child's peak resident set from wait4. The figure reported is that peak minus the peak of
the same process asked for a 1 x 1 preview at cx 1 (libraries, heap set-up: the baseline),
against the bound 2 * cx^2 * 4 bytes + 16 MiB + the zstd frame's window.

Then one hostile document: a 23170 x 23170 preview whose frame holds 4 * 23170^2 zero bytes in
64 KB of RLE blocks, states no size and is corrupt in its last block (make_kwb_document
--zero-frame 23170 23170 --damaged). It must be decoded once, through one band: at cx 256, under
1 s of CPU (user + system) and 64 MiB above the baseline.

    bench/request_memory.py [BUILD_DIR]      # default: build
"""
import os
import subprocess
import sys
import tempfile

MiB = 1 << 20


def measure(argv):
    """Peak resident set in bytes and CPU seconds (user + system) of the command, which must
    succeed."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("failed: " + " ".join(argv) + "\n" + result.stderr)
    rss, user, system = result.stderr.strip().splitlines()[-1].split()
    return int(rss) * 1024, float(user) + float(system)


def peak_rss(argv):
    return measure(argv)[0]


def zstd_window(width, height):
    """Window of the frame the writer makes: level 3 as zstd picks it for this size."""
    size = width * height * 4
    # zstd level 3 uses a 2 MiB window (log 21) for inputs above 256 KiB; smaller inputs get
    # a window just covering the input.
    return min(2 * MiB, 1 << max(10, (size - 1).bit_length()))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    kwbthumb = os.path.join(build, "tools", "kwbthumb")
    writer = os.path.join(build, "tests", "support", "make_kwb_document")
    previews = [(1024, 1024), (4096, 4096), (16384, 4096)]
    sizes = [32, 256, 1024]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.bmp")

        def document(w, h, kind="--pattern", *extra):
            path = os.path.join(tmp, f"{w}x{h}{kind}{''.join(extra)}.kwb")
            if not os.path.exists(path):
                subprocess.run([writer, path, kind, str(w), str(h), *extra], check=True, stdout=subprocess.DEVNULL)
            return path

        baseline = min(peak_rss([kwbthumb, "--square", "-s", "1", document(1, 1), out]) for _ in range(3))
        print(f"baseline (1 x 1 preview at cx 1): {baseline / MiB:.1f} MiB")
        print(f"{'preview':>12} {'cx':>5} {'peak':>9} {'above':>9} {'bound':>9}")
        worst = 0.0
        for w, h in previews:
            path = document(w, h)
            for cx in sizes:
                peak = min(peak_rss([kwbthumb, "--square", "-s", str(cx), path, out]) for _ in range(3))
                above = peak - baseline
                bound = 2 * cx * cx * 4 + 16 * MiB + zstd_window(w, h)
                worst = max(worst, above / bound)
                print(f"{w:>5} x {h:<5} {cx:>5} {peak / MiB:>7.1f}Mi {above / MiB:>7.1f}Mi {bound / MiB:>7.1f}Mi"
                      + ("" if above <= bound else "  over"))

        damaged = document(23170, 23170, "--zero-frame", "--damaged")
        runs = [measure([kwbthumb, "--square", "-s", "256", damaged, out]) for _ in range(3)]
        above = min(peak for peak, _ in runs) - baseline
        cpu = sorted(seconds for _, seconds in runs)[1]
        ok = above <= 64 * MiB and cpu < 1.0
        print(f"damaged 2 GiB zero frame, 23170 x 23170 at cx 256: {above / MiB:.1f} MiB above the baseline "
              f"(target 64), {cpu:.2f} s CPU, median of 3 (target 1)" + ("" if ok else "  over"))
        return 0 if worst <= 1.0 and ok else 1


if __name__ == "__main__":
    sys.exit(main())
