#!/usr/bin/env python3
"""Lip sync of kestra-play on the stand-in, for scripts/bench sync.

  sync_table.py clip DIR             writes DIR/sync.y4m and DIR/sync.wav
  sync_table.py table NAME=LOG ...   pairs each run's flashes with clicks

The clip is black with one white frame every 2 s, and its sound silent with a
20 ms 1 kHz click starting at each white frame. The logs are the stand-in's
$KPLAT_SYNC_LOG: "flash <qpc>" and "click <qpc>" lines, QPC in 100 ns ticks.
"""
import math
import statistics
import struct
import sys

SECONDS = 60
FPS = 25
WIDTH, HEIGHT = 320, 240
EVERY = 2.0  # seconds between flashes
RATE, CHANNELS = 44100, 2
CLICK = 0.020  # seconds
START_UP = 2.0  # seconds of the clip left out of the second set of figures
TICKS = 10_000_000


def write_y4m(path):
    luma = WIDTH * HEIGHT
    chroma = bytes([128]) * (2 * (WIDTH // 2) * (HEIGHT // 2))
    black, white = bytes([16]) * luma + chroma, bytes([235]) * luma + chroma
    period = int(EVERY * FPS)
    with open(path, "wb") as f:
        f.write(f"YUV4MPEG2 W{WIDTH} H{HEIGHT} F{FPS}:1 Ip A1:1 C420jpeg\n".encode())
        for n in range(SECONDS * FPS):
            f.write(b"FRAME\n")
            f.write(white if n % period == 0 else black)


def write_wav(path):
    # A cosine, so the click's first sample is already at its peak.
    click = b"".join(
        struct.pack("<h", int(16000 * math.cos(2 * math.pi * 1000 * i / RATE))) * CHANNELS
        for i in range(int(CLICK * RATE)))
    frames = SECONDS * RATE
    pcm = bytearray(frames * 2 * CHANNELS)
    for k in range(int(SECONDS / EVERY)):
        at = int(k * EVERY * RATE) * 2 * CHANNELS
        pcm[at:at + len(click)] = click
    header = b"RIFF" + struct.pack("<I", 36 + len(pcm)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, CHANNELS, RATE, RATE * 2 * CHANNELS, 2 * CHANNELS, 16)
    with open(path, "wb") as f:
        f.write(header + b"data" + struct.pack("<I", len(pcm)) + pcm)


def read_log(path):
    stamps = {"flash": [], "click": []}
    with open(path) as f:
        for line in f:
            kind, _, qpc = line.partition(" ")
            if kind in stamps:
                stamps[kind].append(int(qpc))
    return sorted(stamps["flash"]), sorted(stamps["click"])


def offsets(flashes, clicks):
    """(flash, click - flash in ms) for each flash whose nearest click lies
    within half the flash period."""
    pairs = []
    for flash in flashes:
        if not clicks:
            break
        click = min(clicks, key=lambda c: abs(c - flash))
        if abs(click - flash) < EVERY / 2 * TICKS:
            pairs.append((flash, (click - flash) * 1000 / TICKS))
    return pairs


def figures(values):
    if not values:
        return f"{0:>5} {'-':>7} {'-':>7} {'-':>7}"
    return (f"{len(values):>5} {min(values):7.1f} {statistics.median(values):7.1f} "
            f"{max(values):7.1f}")


def table(runs):
    print(f"\nLip sync of kestra-play on the stand-in: a {SECONDS} s clip with a white frame "
          f"and a click every {EVERY:g} s;")
    print("offset = click heard - flash shown, in ms (positive: the sound comes late)")
    group = f"{'pairs':>5} {'min':>7} {'median':>7} {'max':>7}"
    print(f"{'':12} {'':>7} {'':>6}   {'all':^28}   {f'from {START_UP:g} s':^28}".rstrip())
    print(f"{'run':12} {'flashes':>7} {'clicks':>6} | {group} | {group}")
    for name, path in runs:
        flashes, clicks = read_log(path)
        pairs = offsets(flashes, clicks)
        # The clip's first flash is its 0 s mark; the next comes at 2 s.
        late = [o for f, o in pairs if f - flashes[0] >= (START_UP - EVERY / 4) * TICKS]
        print(f"{name:12} {len(flashes):>7} {len(clicks):>6} | "
              f"{figures([o for _, o in pairs])} | {figures(late)}")


def main(args):
    if len(args) == 2 and args[0] == "clip":
        write_y4m(f"{args[1]}/sync.y4m")
        write_wav(f"{args[1]}/sync.wav")
        return 0
    if len(args) >= 2 and args[0] == "table" and all("=" in a for a in args[1:]):
        table([a.split("=", 1) for a in args[1:]])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
