#!/usr/bin/python3
"""Runs quindral-run (through the build's emulator, if any) over the sample
loader folder and over scratch folders, and checks what it writes."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

RUNNER = sys.argv[1]
EMULATOR = [a for a in sys.argv[2:3] if a]
SAMPLE = sys.argv[3]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args):
    done = subprocess.run(EMULATOR + [RUNNER] + list(args), capture_output=True, text=True, cwd=tempfile.gettempdir())
    return done.returncode, done.stdout


def unpack(data):
    assert data[:8] == b"\x00\x01\x01WESYS", "no PackedFile header"
    compressed, size = struct.unpack_from("<II", data, 8)
    payload = zlib.decompress(data[16:16 + compressed])
    assert len(payload) == size
    return payload


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def sample_road(out):
    # A stale file from an earlier run must not survive.
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "archive-6-file-269.bin"), "wb") as f:
        f.write(b"stale")
    status, stdout = run("--out", out, "--select", "1")
    check(status == 0, "the sample road exits 0")
    files = sorted(os.listdir(out))
    check("archive-6-file-269.bin" not in files, "stale files are removed (512 x 128 declines archive 6)")
    for name in ("log.txt", "console.txt", "archive-11-file-34.bin", "archive-11-file-36.bin", "archive-11-file-0.bin",
                 "ball-table.bin", "previews.png"):
        check(name in files, name + " is written")
    log = read(out, "log.txt").decode()
    check(log.startswith("Initializing Quindral Module\n"), "log.txt starts with the module's first line")
    check("\n\n" not in log, "a format ending in a newline gets no second one")
    check(log.endswith("Shutting down this module...\nbuffers deallocated.\nbuffers deallocated.\n"), "log.txt ends at unload")
    console = read(out, "console.txt").decode()
    check(console.startswith("Read ball stat! 010\n"), "console.txt holds the module's lines")
    check("summary" not in console, "the runner's own lines stay out of console.txt")

    balls = unpack(read(out, "archive-11-file-34.bin"))
    count = struct.unpack_from("<I", balls, 12)[0] // 72
    table = read(out, "ball-table.bin")
    check(len(table) == 72 * count, "one table record per served ball")
    names = [table[72 * i:72 * i + 64].split(b"\0")[0].decode() for i in range(count)]
    check(names == ["Classic Leather", "Winter Orange", "Final M\u00fcnchen 2026"], "the table is renamed: %r" % names)

    previews = unpack(read(out, "archive-11-file-36.bin"))
    n = struct.unpack_from("<I", previews, 0)[0]
    check(n == count + 1, "one texture per ball and the random entry")
    for i in range(n):
        offset, size = struct.unpack_from("<II", previews, 8 + 12 * i)
        pixels = previews[offset + 1040:offset + size]
        check(any(pixels), "texture %d was converted from its picture, not left grey" % i)
    check(read(out, "previews.png")[:8] == b"\x89PNG\r\n\x1a\n", "previews.png is a PNG")

    model = read(out, "archive-11-file-0.bin")
    check(model == read(os.path.join(SAMPLE, "GDB", "balls", "Winter Orange"), "ball.bin"), "the selected ball's model")
    check("file id pushed 0x0B000000" in stdout, "the patched game code pushed archive 11, file 0")


def refused_road(out):
    status, stdout = run("--out", out, "--game-build", "2")
    check(status == 0, "a refusal is still a road that ran")
    check(read(out, "log.txt").decode() == "Sorry, your game version isn't supported!\nShutting down this module...\n",
          "the refusal's two lines")
    check(sorted(os.listdir(out)) == ["console.txt", "log.txt"], "nothing served when refused")


def random_and_missing_model(root, out):
    balls = os.path.join(root, "GDB", "balls")
    os.makedirs(balls)
    with open(os.path.join(balls, "map.txt"), "w") as f:
        f.write("[ball]\nball.count=2\n")
    os.makedirs(os.path.join(balls, "Ball 001"))
    with open(os.path.join(balls, "Ball 001", "ball.bin"), "wb") as f:
        f.write(b"first")
    # Selection 5 is outside two balls: the record holds 5, so the load draws.
    status, stdout = run("--loader", root, "--out", out, "--select", "5")
    check(status == 0, "the random road exits 0")
    console = read(out, "console.txt").decode()
    check("Random generate : " in console, "the random entry draws a ball")
    drawn = int(console.split("Random generate : ")[1].split("\n")[0])
    check(drawn in (0, 1), "a drawn ball of the catalogue")
    if drawn == 1:  # ball 2 has no model: the game's own ball
        check("file id pushed 0x0B000011" in stdout, "a missing model pushes the game's own ball")
        check("archive-11-file-17.bin" not in os.listdir(out), "the game's own ball is not answered")
    else:
        check(read(out, "archive-11-file-0.bin") == b"first", "the drawn ball's model")


def main():
    scratch = tempfile.mkdtemp(prefix="quindral-run-test-")
    try:
        sample_road(os.path.join(scratch, "sample"))
        refused_road(os.path.join(scratch, "refused"))
        random_and_missing_model(os.path.join(scratch, "loader"), os.path.join(scratch, "random"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
