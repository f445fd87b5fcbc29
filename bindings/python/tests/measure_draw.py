"""What the binding adds to a 1920x1080 draw: Display.draw against the same
draw through the bare ctypes export, planes already in hand. A figure to
read, not a test (python3 measure_draw.py, with KESTRA_LIBRARY set)."""

import ctypes
import time

import kestra
from kestra import _native

W, H, ROUNDS = 1920, 1080, 300


def least_times(functions, rounds):
    """The least time of each, the calls interleaved so that load on the
    machine falls on both alike; the least is the run others disturbed least."""
    times = [[] for _ in functions]
    for _ in range(rounds):
        for function, kept in zip(functions, times):
            start = time.perf_counter()
            function()
            kept.append(time.perf_counter() - start)
    return [min(kept) for kept in times]


def main():
    library = _native.library()
    y = bytearray(bytes(range(256)) * (W * H // 256))
    u, v = bytearray(b"\x80" * (W * H // 4)), bytearray(b"\x60" * (W * H // 4))
    window = kestra.create_window("measure", 0, 0, W, H)
    with kestra.Display() as display:
        display.set_window(window)
        display.init(W, H)
        address = [ctypes.addressof((ctypes.c_char * len(p)).from_buffer(p)) for p in (y, u, v)]
        handle = display._state.handle
        bare, bound = least_times([
            lambda: library.DWDrawYUV420(handle, address[0], W, address[1], address[2], W // 2,
                                         0, 0, 0),
            lambda: display.draw(y, u, v, W, W // 2)], ROUNDS)
        # The binding's own work per draw, without the draw: a display with no window.
        display.set_window(None)
        idle, call = least_times([lambda: display.draw(y, u, v, W, W // 2),
                                   library.Initialize], ROUNDS)
    kestra.destroy_window(window)
    print("draw %.3f ms bare, %.3f ms through Display.draw (%+.2f %%); the binding's own work"
          " %.1f us (%.2f %% of the draw); a bare ctypes call %.2f us"
          % (bare * 1e3, bound * 1e3, 100 * (bound - bare) / bare, idle * 1e6,
             100 * idle / bare, call * 1e6))


if __name__ == "__main__":
    main()
