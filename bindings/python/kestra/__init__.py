"""libkestra from Python: video and audio output for media players.

    with kestra.Display() as display, kestra.Wave() as wave:
        display.set_window(hwnd)
        display.init(width, height)
        display.draw(y, u, v, y_stride, uv_stride)

Display and Wave own their library handles: close() (or the end of a with
block) releases them, twice is harmless, and any other call afterwards raises
ClosedError instead of reaching the library. Callbacks stay referenced for as
long as the library may call them. An exception raised inside a callback is
caught before it reaches the library and raised again from the host's thread:
a display callback's by the draw that ran it, a wave callback's by the next
call on that Wave (the refill it broke is played as silence).

The native library is found through $KESTRA_LIBRARY, beside this package, or
on the loader's search path; see the README's Python section.
"""

import contextlib
import ctypes
import sys
import threading
import weakref

from . import _native
from ._planes import INT32_MAX, INT32_MIN, Planes

__all__ = [
    "ClosedError",
    "Display",
    "Wave",
    "create_window",
    "destroy_window",
    "initialize",
    "uninitialize",
    "yv12_to_rgb24",
]

# Draw results (Display.draw).
DRAW_SHOWN = 0
DRAW_NOT_READY = -1  # no window, not initialised
DRAW_DROPPED = -3  # the frame surface could not be locked
DRAW_RELEASED = -9  # surfaces released by Display.free()
# Colour spaces (Display.set_colour_space, yv12_to_rgb24) and scaling modes.
BT601, BT709 = 0, 1
STUDIO_RANGE, FULL_RANGE = 0, 1
SCALING_FAST, SCALING_SMOOTH = 0, 1

_UNKNOWN_VALUE = 2


class ClosedError(ValueError):
    """A call on a Display or Wave after its close()."""


# What the current thread is serving, when the library called us: the state
# of the Display or Wave whose callback runs.
_inside = threading.local()


def _serving():
    return getattr(_inside, "state", None)


class _State:
    """A handle and what the library may call while it lives; the callbacks
    close over this, never over the Display or Wave, so that dropping the
    host's object is what lets it be collected."""

    def __init__(self, handle):
        self.handle = handle
        self.lock = threading.RLock()
        self.thunks = []  # every callback the library may still call
        self.error = None  # the first exception a callback raised, not yet reported

    def keep_error(self, error):
        if self.error is None:
            self.error = error


def _open(opener):
    handle = ctypes.c_void_p()
    if opener(ctypes.byref(handle)) != 0:
        raise MemoryError("libkestra could not allocate the object")
    return _State(handle.value)


class _Owned:
    """What Display and Wave share: the handle, its lock, close and the
    report of a callback's exception."""

    def _call(self, name, *args):
        state = self._state
        with self._guard():
            if state.handle is None:
                raise ClosedError("%s is closed" % type(self).__name__)
            result = getattr(_native.library(), name)(state.handle, *args)
        self._report()
        return result

    def _guard(self):
        """The handle's lock, except inside the object's own callback, where a
        host thread waiting in stop() may hold it until the callback returns."""
        state = self._state
        return contextlib.nullcontext() if _serving() is state else state.lock

    def _report(self):
        state = self._state
        if state.error is not None and _serving() is not state:
            error, state.error = state.error, None
            raise error

    def close(self):
        """Releases the handle; later calls raise ClosedError."""
        if _serving() is self._state:
            raise RuntimeError("a callback cannot close its own %s" % type(self).__name__)
        self._finalizer()
        self._report()

    @property
    def closed(self):
        return self._state.handle is None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _call_guarded(state, function, args, failed):
    """Runs a host's callback on the library's thread: nothing it raises
    crosses into the library; it is kept for the host's thread instead."""
    previous = getattr(_inside, "state", None)
    _inside.state = state
    try:
        return function(*args)
    except BaseException as error:  # noqa: BLE001 - nothing may unwind into the library
        state.keep_error(error)
        return failed
    finally:
        _inside.state = previous


def _close_display(state):
    with state.lock:
        if state.handle is not None:
            _native.library().DWCloseDraw(state.handle)
            state.handle = None
        state.thunks = []


class Display(_Owned):
    """A display: frames in YV12, shown stretched into a window."""

    def __init__(self):
        self._state = state = _open(_native.library().DWOpenDraw)
        state.size = (0, 0)
        self._finalizer = weakref.finalize(self, _close_display, state)

    def set_window(self, window):
        """The window (an HWND as an int; None for none) frames are shown in."""
        return self._call("DWSetHwnd", window)

    def set_index(self, index):
        """The value handed back to the callback as its first argument."""
        return self._call("DWSetIndex", index)

    def set_callback(self, function):
        """function(index, dc, frame_width, frame_height, value7, value8,
        window_width, window_height, mirror), called on the drawing thread
        once per frame in the GDI mode; dc is valid only during the call.
        None removes it. Every function given stays referenced until close."""
        state = self._state
        thunk = None
        if function is not None:
            thunk = _native.DisplayCallback(
                lambda *args: _call_guarded(state, function, args[:9], None)
            )
        with state.lock:
            state.thunks.append(thunk)
            return self._call("DWSetDisplayCB", None, thunk)

    def init(self, width, height):
        """Sets up for frames of width x height; call again when it changes."""
        with self._state.lock:
            result = self._call("DWInitDraw", width, height)
            self._state.size = (width, height)
            return result

    def free(self):
        return self._call("DWFreeDraw")

    def adjusted_window(self):
        """Re-reads the window's rectangle after the host moved or resized it."""
        return self._call("DWAdjustedWnd")

    def draw(self, y, u, v, y_stride=None, uv_stride=None, value6=0, value7=0, value8=0):
        """Shows one frame of the size given to init(): planes of bytes
        (bytes, bytearray, memoryview, array.array of bytes, NumPy uint8),
        strides in bytes. A flat plane's rows are `stride` apart, from its
        start, or from its end for a negative stride (the picture read
        bottom-up); strides default to the width and half of it. A 2-D array
        brings its own row step. A plane smaller than its rows raises
        ValueError. Returns DRAW_SHOWN or another DRAW_* result."""
        state = self._state
        with state.lock:
            width, height = state.size
            with Planes() as planes:
                y_at, y_step = planes.plane("y", y, y_stride, width, height)
                u_at, u_step = planes.plane("u", u, uv_stride, width // 2, height // 2)
                v_at, v_step = planes.plane("v", v, uv_stride, width // 2, height // 2)
                if u_step != v_step:
                    raise ValueError("u and v rows are %d and %d apart" % (u_step, v_step))
                return self._call(
                    "DWDrawYUV420", y_at, y_step, u_at, v_at, u_step, value6, value7, value8
                )

    def set_osd_text(self, index, text, x, y, anchor=0, colour=0xFFFFFF):
        """OSD slot index (0..5): text (None or "" empties it), position in
        frame pixels (anchor 1: y up from the bottom), colour 0x00BBGGRR."""
        if isinstance(text, str):
            text = text.encode("mbcs" if sys.platform == "win32" else "utf-8", "replace")
        return self._call("DWSetOSDText", index, text, x, y, anchor, colour)

    def set_play_rect(self, rect):
        """Crops to (left, top, right, bottom) in frame pixels; None: no crop."""
        return self._call("DWSetPlayRect", None if rect is None else _native.Rect(*rect))

    def set_mirror_mode(self, mode):
        return self._call("DWSetMirrorMode", mode)

    def set_colour_space(self, matrix, range_):
        """BT601 or BT709, STUDIO_RANGE or FULL_RANGE; ValueError for others."""
        if self._call("DWSetColorSpace", matrix, range_) == _UNKNOWN_VALUE:
            raise ValueError("unknown matrix %r or range %r" % (matrix, range_))

    def set_scaling(self, mode):
        """SCALING_FAST or SCALING_SMOOTH; ValueError for others."""
        if self._call("DWSetScaling", mode) == _UNKNOWN_VALUE:
            raise ValueError("unknown scaling mode %r" % (mode,))


def _refill(state, function, address, size):
    """One refill: the host writes into a buffer of ours, which is copied
    out, so a view the host keeps can never reach the library's buffer."""

    def fill():
        scratch = (ctypes.c_ubyte * size)()
        written = function(memoryview(scratch).cast("B"))
        written = size if written is None else max(0, min(int(written), size))
        ctypes.memmove(address, scratch, written)
        return written

    written = _call_guarded(state, fill, (), None)
    if written is None:  # it raised: silence, and the whole buffer, not a replay
        ctypes.memset(address, state.silence, size)
        return size
    return written


def _close_wave_now(state):
    with state.lock:
        if state.handle is not None:
            _native.library().WVCloseWave(state.handle)
            state.handle = None
        state.thunks = []


def _close_wave(state):
    # On a library thread (a callback, or a collection that ran in one) the
    # close would not wait for the device: a thread of ours waits instead,
    # holding the callbacks until the device has let go.
    if state.handle is None:
        return
    if getattr(_serving(), "on_device", False):
        threading.Thread(target=_close_wave_now, args=(state,), daemon=True).start()
    else:
        _close_wave_now(state)


class Wave(_Owned):
    """A wave player: PCM pulled from a callback on the device's thread.

    A Wave that is collected or left open at exit is closed then, which waits
    for its device (about 2 s at most): close it yourself, or use `with`."""

    def __init__(self):
        self._state = state = _open(_native.library().WVOpenWave)
        state.silence = 0
        state.current = None
        state.on_device = True  # its callbacks run on the device's thread
        self._finalizer = weakref.finalize(self, _close_wave, state)

    def set_format(self, rate, channels, bits, buffer_size):
        """PCM format and the size in bytes of each of the two buffers (0:
        play does nothing). Set it while not playing."""
        block = channels * bits // 8
        record = _native.WaveFormat(1, channels, rate, rate * block, block, bits, 0)
        self._state.silence = 0x80 if bits == 8 else 0
        return self._call("WVSetWaveFormat", ctypes.byref(record), buffer_size)

    def set_callback(self, function):
        """function(buffer) on the device's thread: write up to len(buffer)
        bytes into the writable memoryview and return how many (None: all).
        The view is valid only during the call. Set it while not playing."""
        state = self._state
        thunk = None
        if function is not None:
            thunk = _native.WriteWaveCallback(
                lambda address, size, user: _refill(state, function, address, size)
            )
        with self._guard():
            state.thunks.append(thunk)
            state.current = thunk
            return self._call("WVSetWriteWaveCB", None, thunk)

    def play(self):
        return self._call("WVPlayWave")

    def stop(self):
        """Stops and waits for the device to let go."""
        state = self._state
        if _serving() is state:
            raise RuntimeError("a callback cannot stop its own Wave")
        with state.lock:
            result = self._call("WVStopWave")
            # Only the registered callback can be called from here on.
            state.thunks = [state.current]
            return result

    def pause(self, paused=True):
        return self._call("WVPauseWave", 1 if paused else 0)

    def set_volume(self, volume):
        """0..100, while playing."""
        return self._call("WVSetVolume", volume)

    def position(self):
        """(sample frames heard since play, QueryPerformanceCounter then), or
        None when not playing."""
        frames, qpc = ctypes.c_int64(), ctypes.c_int64()
        if self._call("WVGetPosition", ctypes.byref(frames), ctypes.byref(qpc)) != 0:
            return None
        return frames.value, qpc.value


def initialize():
    return _native.library().Initialize()


def uninitialize():
    return _native.library().UnInitialize()


def yv12_to_rgb24(y, u, v, width, height, y_stride=None, uv_stride=None,
                  dst=None, dst_stride=None, matrix=None, range_=None):
    """Converts a YV12 frame to 24-bit pixels (blue first), rows 3 x
    dst_stride bytes apart (dst_stride in pixels, default width), top-down;
    a negative height reads the source bottom-up. Writes into dst, or a new
    bytearray, and returns it. matrix and range_ as for set_colour_space;
    None for both is BT.601 studio range."""
    if not 0 <= width <= INT32_MAX or not INT32_MIN < height <= INT32_MAX:
        raise ValueError("size %r x %r" % (width, height))
    rows = abs(height)
    if dst_stride is None:
        dst_stride = width
    if dst is None:
        dst = bytearray(3 * abs(dst_stride) * rows)
    library = _native.library()
    with Planes() as planes:
        y_at, y_step = planes.plane("y", y, y_stride, width, rows)
        u_at, u_step = planes.plane("u", u, uv_stride, width // 2, rows // 2)
        v_at, v_step = planes.plane("v", v, uv_stride, width // 2, rows // 2)
        out_at, out_step = planes.plane("dst", dst, 3 * dst_stride, 3 * width, rows, True)
        if u_step != v_step or out_step % 3:
            raise ValueError("u and v strides differ, or dst rows are not whole pixels apart")
        args = (out_at, out_step // 3, y_at, u_at, v_at, y_step, u_step, width, height)
        if matrix is None and range_ is None:
            library.yv12_to_rgb24_c(*args)
        elif library.yv12_to_rgb24_cs(*args, matrix or 0, range_ or 0) == _UNKNOWN_VALUE:
            raise ValueError("unknown matrix %r or range %r" % (matrix, range_))
    return dst


def create_window(title, x, y, width, height):
    """A plain window for hosts that have none (the examples): on Linux the
    stand-in platform's, on Windows a borderless one. Returns its handle."""
    if sys.platform == "win32":
        user32 = ctypes.WinDLL("user32")
        user32.CreateWindowExA.restype = ctypes.c_void_p
        user32.CreateWindowExA.argtypes = [ctypes.c_uint32, ctypes.c_char_p, ctypes.c_char_p,
                                           ctypes.c_uint32] + [ctypes.c_int] * 4 + [ctypes.c_void_p] * 4
        ws_popup_visible = 0x80000000 | 0x10000000
        return user32.CreateWindowExA(0, b"STATIC", title.encode("mbcs"), ws_popup_visible,
                                      x, y, width, height, None, None, None, None)
    create = _native.library().dll.kplat_create_window
    create.restype = ctypes.c_void_p
    create.argtypes = [ctypes.c_char_p] + [ctypes.c_int] * 5
    return create(title.encode("utf-8"), x, y, width, height, 0)


def destroy_window(window):
    if sys.platform == "win32":
        destroy = ctypes.WinDLL("user32").DestroyWindow
    else:
        destroy = _native.library().dll.kplat_destroy_window
    destroy.argtypes = [ctypes.c_void_p]
    return bool(destroy(window))
