"""The stand-in platform's test knobs, for this suite only: the shipped
package never binds them. They live in the stand-in's library, which
libkestra.so loads, so they are looked up through the same handle."""

import ctypes

import kestra._native

_dll = kestra._native.library().dll


def _bind(name, restype, *argtypes):
    function = getattr(_dll, name)
    function.restype, function.argtypes = restype, list(argtypes)
    return function


_p, _i = ctypes.c_void_p, ctypes.c_int
set_sink = _bind("kplat_audio_set_sink", _i, ctypes.c_char_p)
manual_step = _bind("kplat_audio_manual_step", _i, _p, _p, _i)
_played = _bind("kplat_audio_played", ctypes.c_size_t, _p, ctypes.c_size_t)
clear_played = _bind("kplat_audio_clear_played", None)
live_objects = _bind("kplat_live_objects", _i, _i)
ddraw_available = _bind("kplat_ddraw_set_available", None, _i)
ddraw_reset = _bind("kplat_ddraw_reset", None)
_read_pixels = _bind("kplat_read_window_pixels", _i, _p, _p, _i)
KINDS = 9  # KPLAT_OBJ_KIND_COUNT


def played():
    size = _played(None, 0)
    out = (ctypes.c_ubyte * size)()
    _played(out, size)
    return bytes(out)


def pixels(window, width, height):
    out = (ctypes.c_uint32 * (width * height))()
    assert _read_pixels(window, out, width)
    return bytes(out)


def live():
    return [live_objects(kind) for kind in range(KINDS)]
