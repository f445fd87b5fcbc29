"""Finding and loading the native library, and the prototypes of its exports."""

import ctypes
import ctypes.util
import os
import struct
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))


def convention(platform, pointer_bits):
    """The ctypes loader and callback factory for the library on this platform.

    The 32-bit Windows DLL exports __stdcall functions and takes __stdcall
    callbacks; the 64-bit DLL and the .so use the one C convention there is.
    Names, not objects: WinDLL does not exist off Windows.
    """
    if platform == "win32" and pointer_bits == 32:
        return "WinDLL", "WINFUNCTYPE"
    return "CDLL", "CFUNCTYPE"


_LOADER, _FUNCTYPE = convention(sys.platform, struct.calcsize("P") * 8)
FUNCTYPE = getattr(ctypes, _FUNCTYPE)

LIBRARY_NAME = "kestra.dll" if sys.platform == "win32" else "libkestra.so"


def candidates():
    """Where the library is looked for, in order: $KESTRA_LIBRARY, beside
    this package, then the loader's own search path."""
    env = os.environ.get("KESTRA_LIBRARY")
    if env:
        return [env]
    found = [os.path.join(_HERE, LIBRARY_NAME)]
    found = [path for path in found if os.path.exists(path)]
    found.append(ctypes.util.find_library("kestra") or LIBRARY_NAME)
    return found


def load():
    loader = getattr(ctypes, _LOADER)
    errors = []
    for path in candidates():
        try:
            return loader(path)
        except OSError as error:
            errors.append("%s: %s" % (path, error))
    raise OSError(
        "libkestra not found (set KESTRA_LIBRARY to its path): " + "; ".join(errors)
    )


class WaveFormat(ctypes.Structure):
    """WAVEFORMATEX: byte-packed on every platform."""

    _pack_ = 1
    _fields_ = [
        ("wFormatTag", ctypes.c_uint16),
        ("nChannels", ctypes.c_uint16),
        ("nSamplesPerSec", ctypes.c_uint32),
        ("nAvgBytesPerSec", ctypes.c_uint32),
        ("nBlockAlign", ctypes.c_uint16),
        ("wBitsPerSample", ctypes.c_uint16),
        ("cbSize", ctypes.c_uint16),
    ]


class Rect(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int32) for name in ("left", "top", "right", "bottom")]


i32, u32, i64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64
ptr, u8p = ctypes.c_void_p, ctypes.c_void_p

DisplayCallback = FUNCTYPE(None, i32, ptr, i32, i32, i32, i32, i32, i32, i32, ptr)
WriteWaveCallback = FUNCTYPE(i32, ptr, u32, ptr)

# Every export of src/api/exports.txt, contract and extensions, with its arguments.
PROTOTYPES = {
    "KESTRA_DWOpenDraw": [ctypes.POINTER(ptr)],
    "KESTRA_DWCloseDraw": [ptr],
    "KESTRA_DWSetHwnd": [ptr, ptr],
    "KESTRA_DWSetIndex": [ptr, i32],
    "KESTRA_DWSetDisplayCB": [ptr, ptr, DisplayCallback],
    "KESTRA_DWInitDraw": [ptr, i32, i32],
    "KESTRA_DWFreeDraw": [ptr],
    "KESTRA_DWAdjustedWnd": [ptr],
    "KESTRA_DWDrawYUV420": [ptr, u8p, i32, u8p, u8p, i32, i32, i32, i32],
    "KESTRA_DWSetOSDText": [ptr, i32, ctypes.c_char_p, i32, i32, i32, u32],
    "KESTRA_DWSetPlayRect": [ptr, ctypes.POINTER(Rect)],
    "KESTRA_DWSetMirrorMode": [ptr, i32],
    "KESTRA_WVOpenWave": [ctypes.POINTER(ptr)],
    "KESTRA_WVCloseWave": [ptr],
    "KESTRA_WVSetWaveFormat": [ptr, ctypes.POINTER(WaveFormat), u32],
    "KESTRA_WVSetWriteWaveCB": [ptr, ptr, WriteWaveCallback],
    "KESTRA_WVPlayWave": [ptr],
    "KESTRA_WVStopWave": [ptr],
    "KESTRA_WVPauseWave": [ptr, i32],
    "KESTRA_WVSetVolume": [ptr, u32],
    "KESTRA_Initialize": [],
    "KESTRA_UnInitialize": [],
    "KESTRA_yv12_to_rgb24_c": [u8p, i32, u8p, u8p, u8p, i32, i32, u32, i32],
    "KESTRA_DWSetColorSpace": [ptr, i32, i32],
    "KESTRA_yv12_to_rgb24_cs": [u8p, i32, u8p, u8p, u8p, i32, i32, u32, i32, i32, i32],
    "KESTRA_WVGetPosition": [ptr, ctypes.POINTER(i64), ctypes.POINTER(i64)],
    "KESTRA_DWSetScaling": [ptr, i32],
}


class Library:
    """The loaded library with every export typed; loaded on first use."""

    def __init__(self, dll):
        self.dll = dll
        for name, arguments in PROTOTYPES.items():
            function = getattr(dll, name)
            function.argtypes = arguments
            function.restype = i32
            setattr(self, name[len("KESTRA_"):], function)


_library = None


def library():
    global _library
    if _library is None:
        _library = Library(load())
    return _library
