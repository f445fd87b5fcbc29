#!/usr/bin/env python3
"""Turns the benchmark JSON of scripts/bench into one plain-text table."""
import json
import re
import sys
from collections import defaultdict


def load(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b["run_name"] if "run_name" in b else b["name"]
        name = re.sub(r"/iterations:\d+", "", name.replace("/real_time", ""))
        rows[name] = b
    return data["context"], rows


def ms(b, key):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b[key] * scale


def converters(rows, cold=False):
    groups = defaultdict(dict)
    for name, b in rows.items():
        parts = name.split("/")
        if cold != (parts[0] == "cold"):
            continue
        if cold:
            parts = parts[1:]
        if len(parts) == 3 and parts[2] == "rounds":
            # Interleaved rounds: one counter per variant, its median in ms.
            for key, value in b.items():
                if key.startswith("kestra_") or key in ("libyuv", "copy", "copy_streamed"):
                    groups[(parts[0], parts[1])][key] = value
            continue
        if len(parts) == 3 and parts[0] in ("rgb24", "rgb565", "uyvy"):
            # Process CPU time: less disturbed by other jobs on a shared machine.
            groups[(parts[0], parts[1])][parts[2]] = ms(b, "cpu_time")
    if not groups:
        return groups
    if cold:
        print("\nConverters with cold caches (every level evicted before each call, all variants "
              "in interleaved rounds; median ms per frame, wall time)")
    else:
        print("Converters (ms per frame, CPU time; ratios to libyuv and to a copy of the output)")
    print(f"{'converter':9} {'size':10} {'variant':13} {'ms':>8} {'x libyuv':>9} {'x copy':>7}")
    for (kind, size), variants in sorted(groups.items(), key=lambda g: (g[0][0], int(g[0][1].split('x')[0]))):
        for variant, t in variants.items():
            yuv = variants.get("libyuv")
            copy = variants.get("copy")
            r1 = f"{t / yuv:9.2f}" if yuv else f"{'-':>9}"
            r2 = f"{t / copy:7.2f}" if copy else f"{'-':>7}"
            print(f"{kind:9} {size:10} {variant:13} {t:8.3f} {r1} {r2}")
    return groups


def best(variants):
    ours = {k: v for k, v in variants.items() if k.startswith("kestra_")}
    return min(ours.items(), key=lambda kv: kv[1]) if ours else (None, None)


# (kind, size, our variant or None for the best of ours, reference, at most)
WARM_TARGETS = [
    ("rgb24", "1920x1080", "kestra_avx2", "libyuv", 0.80),
    ("uyvy", "1920x1080", None, "libyuv", 1.00),
]
# Cold: every vector level from AVX2 up that ran.
COLD_TARGETS = [
    ("rgb24", "1920x1080", "libyuv", 1.00), ("rgb24", "1920x1080", "copy", 0.88),
    ("rgb24", "3840x2160", "libyuv", 0.90), ("rgb24", "3840x2160", "copy", 0.70),
    ("uyvy", "1920x1080", "libyuv", 1.00), ("uyvy", "1920x1080", "copy", 0.95),
    ("uyvy", "3840x2160", "libyuv", 0.90), ("uyvy", "3840x2160", "copy", 0.70),
]


def verdict(label, ratio, ref, limit, floor=None):
    met = "met" if ratio <= limit else "NOT met"
    # The streamed copy's own ratio: where streaming alone gets on this machine.
    aside = f"; the streamed copy {floor:.2f}" if floor is not None else ""
    print(f"  {label}: {ratio:.2f} of {ref} (at most {limit:.2f}{aside}) {met}")


def targets(groups, cold_groups):
    print("\nTargets (warm: the level named, or the best of ours; cold: each level from avx2 up)")
    for kind, size, level, ref, limit in WARM_TARGETS:
        variants = groups.get((kind, size), {})
        if level is None:
            level, t = best(variants)
        else:
            t = variants.get(level)
        if t is None or ref not in variants:
            continue
        verdict(f"warm {kind} {size} {level}", t / variants[ref], ref, limit)
    for kind, size, ref, limit in COLD_TARGETS:
        variants = cold_groups.get((kind, size), {})
        if ref not in variants:
            continue
        streamed = variants.get("copy_streamed")
        floor = streamed / variants[ref] if ref == "copy" and streamed else None
        for level in ("kestra_avx2", "kestra_avx512"):
            if level in variants:
                verdict(f"cold {kind} {size} {level}", variants[level] / variants[ref], ref, limit,
                        floor)


def presentation(rows):
    present = [(n, b) for n, b in rows.items() if n.startswith("present/")]
    if present:
        print("\nPresentation paths (ms per frame, wall time; own = the library's pixel work "
              "timed alone, stand-in = the rest)")
        print(f"{'path':7} {'frame':10} {'window':9} {'total':>7} {'own':>7} {'stand-in':>9} "
              f"{'own/copy':>9}")
        for name, b in present:
            _, path, frame, window = name.split("/")
            if b.get("error_occurred"):
                print(f"{path:7} {frame:10} {window:9} skipped: {b.get('error_message', '')}")
                continue
            total, own, copy = ms(b, "real_time"), b["own_ms"], b["copy_ms"]
            print(f"{path:7} {frame:10} {window:9} {total:7.3f} {own:7.3f} {total - own:9.3f} "
                  f"{own / copy:9.2f}")
    wall = [(n, b) for n, b in rows.items() if n.startswith("wall16/")]
    if wall:
        print("\n16-display wall (704x576 each, 25 fps, 2 threads)")
        for name, b in wall:
            print(f"  {name.split('/')[1]:7} CPU {b['cpu_percent_one_core']:6.1f} % of one core, "
                  f"{b['fps_per_display']:.1f} fps per display")


def wave(rows):
    position = rows.get("wave/position")
    if not position:
        return
    print("\nThe sound's clock (a playing player on the null sink)")
    if position.get("error_occurred"):
        print(f"  KESTRA_WVGetPosition skipped: {position.get('error_message', '')}")
        return
    answer = int(position.get("result", -1))
    note = "" if answer == 0 else f" (it answered {answer}: no position given)"
    print(f"  KESTRA_WVGetPosition {ms(position, 'real_time') * 1e6:8.1f} ns per call{note}")


def main():
    context, rows = load(sys.argv[1])
    print(f"Machine: {context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs at "
          f"{context.get('mhz_per_cpu', '?')} MHz, load {context.get('load_avg', ['?'])[0]:.2f}")
    print(context.get("cpu", "cpu: unknown"))
    print(context.get("converter_levels", "converter levels: unknown") + "\n")
    groups = converters(rows)
    cold_groups = converters(rows, cold=True)
    targets(groups, cold_groups)
    presentation(rows)
    wave(rows)


if __name__ == "__main__":
    main()
