"""The Python binding against libkestra.so and the stand-in platform.

Needs KESTRA_LIBRARY; KESTRA_HOST_TRACE names the traced examples/host.c."""

import gc
import os
import runpy
import subprocess
import tempfile
import unittest
from unittest import mock

import kestra
from kestra import _native

import standin

try:
    import numpy
except ImportError:
    numpy = None

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 64, 48


def read(path):
    with open(path, "rb") as file:
        return file.read()


def gradient(frame):
    y = bytes(16 + (x + 4 * frame) % 220 for x in range(W)) * H
    return y, bytes([128]) * (W * H // 4), bytes([100 + frame]) * (W * H // 4)


class Binding(unittest.TestCase):
    def setUp(self):
        standin.set_sink(b"manual")
        standin.clear_played()
        self.windows = []
        before = standin.live()  # every case ends with the stand-in holding what it held
        self.addCleanup(lambda: self.assertEqual(before, standin.live(), "live objects by kind"))
        self.addCleanup(gc.collect)
        self.addCleanup(standin.ddraw_reset)
        self.addCleanup(lambda: [kestra.destroy_window(w) for w in self.windows])

    def display(self, width=W, height=H):
        self.windows.append(kestra.create_window("test", 0, 0, width, height))
        display = kestra.Display()
        self.addCleanup(display.close)
        display.set_window(self.windows[-1])
        display.init(width, height)
        return display

    def shown(self):
        return standin.pixels(self.windows[0], W, H)

    def test_calling_convention_by_platform_and_width(self):
        stdcall, cdecl = ("WinDLL", "WINFUNCTYPE"), ("CDLL", "CFUNCTYPE")
        for row in [("win32", 32, stdcall), ("win32", 64, cdecl), ("linux", 64, cdecl),
                    ("linux", 32, cdecl)]:
            self.assertEqual(row[2], _native.convention(*row[:2]), row)

    def test_every_export_is_bound(self):
        with open(os.path.join(HERE, "../../../src/api/exports.txt")) as listing:
            names = {line.strip() for line in listing if line.strip()[:1] not in ("", "#")}
        self.assertEqual(names, set(_native.PROTOTYPES))

    def test_host_shows_and_plays_what_the_c_example_does(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([os.environ["KESTRA_HOST_TRACE"], out], check=True)
            expected = [read(os.path.join(out, name)) for name in ("frames.xrgb", "played.pcm")]
        frames, create = [], kestra.create_window

        def sleep(seconds):  # where the host waits: read the frame, play one buffer
            frames.append(standin.pixels(self.windows[0], 320, 240))
            standin.manual_step(None, None, 0)

        with mock.patch("kestra.create_window", lambda *args: self.windows.append(create(*args))
                        or self.windows[-1]), mock.patch("time.sleep", sleep):
            with self.assertRaises(SystemExit) as ended:
                runpy.run_path(os.path.join(HERE, "../examples/host.py"))
        self.assertEqual((0, 50, 50 * 8820), (ended.exception.code, len(frames), len(expected[1])))
        self.assertTrue(expected[0] == b"".join(frames), "frames differ from examples/host.c")
        self.assertTrue(expected[1] == standin.played(), "refills differ from examples/host.c")

    def test_callbacks_outlive_collections(self):
        standin.ddraw_available(0)  # the GDI mode, where the display callback runs
        display, wave = self.display(), kestra.Wave()
        calls, refills = [], []
        display.set_callback(lambda *args: calls.append(args[0]))
        wave.set_format(44100, 1, 8, 441)
        wave.set_callback(lambda buffer: refills.append(buffer.__setitem__(slice(None), b"\x07" * 441)))
        wave.play()
        for frame in range(300):
            if frame == 150:  # a registration replacing another, while the old one may run
                display.set_callback(lambda *args: calls.append(args[0]))
            gc.collect()
            self.assertEqual(0, display.draw(*gradient(frame % 100)))
            standin.manual_step(None, None, 0)
        wave.close()
        self.assertEqual((300, 300), (len(calls), len(refills)))
        self.assertEqual(b"\x64" * 882 + b"\x07" * 441 * 298, standin.played())

    def test_a_callback_that_raises_is_reported_on_the_host_thread(self):
        standin.ddraw_available(0)
        display = self.display()
        display.set_callback(lambda *args: 1 / 0)
        self.assertRaises(ZeroDivisionError, display.draw, *gradient(0))
        with kestra.Wave() as wave:
            wave.set_format(44100, 1, 8, 100)
            wave.set_callback(lambda buffer: "not a count")
            wave.play()
            for _ in range(3):
                standin.manual_step(None, None, 0)
            self.assertRaises(ValueError, wave.set_volume, 50)
            wave.set_volume(50)  # reported once
        # 8-bit silence, the whole buffer, not a replay of the lead-in fill.
        self.assertEqual(b"\x64" * 200 + b"\x80" * 100, standin.played())

    def test_a_closed_object_raises(self):
        display, wave = kestra.Display(), kestra.Wave()
        display.close(), wave.close(), wave.close()
        for call in [lambda: display.draw(b"", b"", b""), lambda: display.set_callback(print),
                     wave.play, wave.position]:
            self.assertRaises(kestra.ClosedError, call)
        dropped = kestra.Wave()  # closed when collected: the live-object count shows it
        dropped.set_format(44100, 1, 16, 882)
        dropped.set_callback(lambda buffer: None)
        dropped.play()
        standin.manual_step(None, None, 0)
        del dropped

    def test_planes_that_do_not_hold_the_frame_are_refused(self):
        display = self.display()
        y, u, v = gradient(0)
        for case, planes, strides in [
            ("short v", (y, u, v[:-1]), (W, W // 2)),
            ("stride below width", (y, u, v), (W - 1, W // 2)),
            ("padded rows, unpadded plane", (y, u, v), (W + 2, W // 2)),
            ("negative stride, short plane", (y[:-1], u, v), (-W, W // 2)),
            ("stride beyond 32 bits", (y, u, v), (2**31, W // 2)),
            ("no plane", (y, None, v), (W, W // 2)),
        ]:
            with self.assertRaises(ValueError, msg=case):
                display.draw(*planes, *strides)

    def test_a_negative_stride_reads_the_plane_bottom_up(self):
        display, (_, u, v) = self.display(), gradient(0)
        y = bytes((16 + 3 * r) for r in range(H) for _ in range(W))
        self.assertEqual(0, display.draw(y, u, v, W, W // 2))
        upright = self.shown()
        self.assertEqual(0, display.draw(y[::-1], u, v, -W, W // 2))
        self.assertEqual(upright, self.shown())

    @unittest.skipIf(numpy is None, "NumPy is not installed")
    def test_numpy_views_bring_their_own_rows(self):
        display, (y, u, v) = self.display(), gradient(5)
        padded = numpy.zeros((H, W + 16), numpy.uint8)
        padded[:, :W] = numpy.frombuffer(y, numpy.uint8).reshape(H, W)
        chroma = [numpy.frombuffer(p, numpy.uint8).reshape(H // 2, W // 2) for p in (u, v)]
        display.draw(y, u, v)
        expected = self.shown()
        for view in (padded[:, :W], padded[::-1].copy()[::-1, :W]):  # rows apart, rows going up
            self.assertEqual(0, display.draw(view, *chroma))
            self.assertEqual(expected, self.shown())
        self.assertRaises(ValueError, display.draw, padded[:-1, :W], *chroma)
        self.assertRaises(ValueError, display.draw, padded.view(numpy.uint16), *chroma)


if __name__ == "__main__":
    unittest.main()
