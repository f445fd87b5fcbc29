#!/usr/bin/env python3
"""Turns the tab-separated "wall" lines of kestra_wall_bench runs into one
table: the median of the runs of each DLL width, renderer and wall size."""
import statistics
import sys
from collections import defaultdict

# The bytes a Direct3D 11 display makes on the shared device for a 704x576
# frame: its three planes, and one swap-chain buffer of its window.
PLANES = 704 * 576 * 3 // 2
SD = "704x576"


def window_bytes(displays):
    return (156 * 124 if displays > 16 else 316 * 252) * 4


def scaling_table(lines):
    print("\nA 1920x1080 frame shrunk to 1/6 (320x180) and 1/2 (960x540) under Wine, read "
          "through the screen DC: the zone plate's PSNR against the area average of the "
          "library's RGB24 conversion, and the 1-pixel checkerboard's standard deviation and "
          "mean (green; its area average is flat 128)")
    print(f"{'DLL':>4} {'renderer':<8} {'ratio':>5} {'scaling':<7} {'zone dB':>7} "
          f"{'checker sd':>10} {'mean':>5}")
    for fields in lines:
        bits, renderer, ratio, scaling, psnr, sd, mean = fields[1:]
        print(f"{bits:>4} {renderer:<8} {ratio:>5} {scaling:<7} {psnr:>7} {sd:>10} {mean:>5}")


def main(path):
    with open(path) as f:
        scaling = [line.rstrip("\n").split("\t") for line in f if line.startswith("scaling\t")]
    if scaling:
        scaling_table(scaling)
        return
    runs = defaultdict(list)
    with open(path) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 14 or fields[0] != "wall":
                continue
            bits, renderer, source, scaling = int(fields[1]), fields[2], fields[3], fields[4]
            displays = int(fields[5])
            runs[(bits, renderer, source, scaling, displays)].append(
                [float(v) for v in fields[6:]])
    if not runs:
        print("wall: no runs")
        return
    count = max(len(v) for v in runs.values())
    print(f"\nWall of displays under Wine: top-level windows on a 1280x1024 Xvfb screen, "
          f"frames at 25 fps from 2 host threads (median of {count} runs)")
    print(f"{'DLL':>4} {'renderer':<8} {'source':>9} {'scaling':<11} {'displays':>8} "
          f"{'fps each':>8} {'CPU %':>6} "
          f"{'threads':>7} {'added':>5} {'RSS MB':>7} {'added':>6} {'MB/display':>10} "
          f"{'bound':>6} {'set-up ms':>9} {'refused':>7}")
    for key in sorted(runs):
        bits, renderer, source, scaling, displays = key
        m = [statistics.median(col) for col in zip(*runs[key])]
        fps, cpu, threads, added, rss, rss_added, setup, refused = m
        one = runs.get((bits, renderer, source, scaling, 1))
        per, bound = "-", "-"
        if one and displays > 1:
            rss_one = statistics.median(r[4] for r in one)
            per = f"{(rss - rss_one) / (displays - 1):.1f}"
            if renderer == "d3d11" and source == SD and scaling == "default":
                bound = f"{(1.5 * (PLANES + window_bytes(displays)) + 2 * 2**20) / 2**20:.1f}"
        print(f"{bits:>4} {renderer:<8} {source:>9} {scaling:<11} {displays:>8} {fps:>8.1f} {cpu:>6.0f} {threads:>7.0f} "
              f"{added:>5.0f} {rss:>7.0f} {rss_added:>6.0f} {per:>10} {bound:>6} "
              f"{setup:>9.0f} {refused:>7.0f}")
    print("MB/display: resident memory each display after the first adds; bound: the "
          "Direct3D 11 goal of 1.5 x its texture and swap-chain bytes + 2 MB (704x576 frames, "
          "default scaling); scaling default is the renderer's own (GDI fast, Direct3D 11 "
          "smooth), +osd a camera name on every display")


if __name__ == "__main__":
    main(sys.argv[1])
