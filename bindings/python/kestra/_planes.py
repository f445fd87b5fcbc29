"""Host buffers as the library reads them: a row start and a row step.

Each plane is held as a buffer export for the length of the call, so another
thread cannot resize a bytearray or free an array under the library.
"""

import ctypes

_ssize = ctypes.c_ssize_t


class _PyBuffer(ctypes.Structure):
    _fields_ = [
        ("buf", ctypes.c_void_p),
        ("obj", ctypes.c_void_p),
        ("len", _ssize),
        ("itemsize", _ssize),
        ("readonly", ctypes.c_int),
        ("ndim", ctypes.c_int),
        ("format", ctypes.c_char_p),
        ("shape", ctypes.POINTER(_ssize)),
        ("strides", ctypes.POINTER(_ssize)),
        ("suboffsets", ctypes.POINTER(_ssize)),
        ("internal", ctypes.c_void_p),
    ]


_PYBUF_WRITABLE = 0x0001
_PYBUF_RECORDS_RO = 0x001C  # strides and format: NumPy views and read-only buffers too

_get_buffer = ctypes.pythonapi.PyObject_GetBuffer
_get_buffer.argtypes = [ctypes.py_object, ctypes.POINTER(_PyBuffer), ctypes.c_int]
_get_buffer.restype = ctypes.c_int
_release_buffer = ctypes.pythonapi.PyBuffer_Release
_release_buffer.argtypes = [ctypes.POINTER(_PyBuffer)]
_release_buffer.restype = None

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1


class Planes:
    """Held buffer exports; `with Planes() as p: p.plane(...)`."""

    def __init__(self):
        self._held = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for view in self._held:
            _release_buffer(ctypes.byref(view))
        self._held = []

    def plane(self, name, obj, stride, columns, rows, writable=False):
        """The address of row 0 of a plane of rows x columns bytes, rows
        `stride` bytes apart (negative: row 0 is the last row in memory;
        None: `columns`), and the stride. A 2-D buffer (a NumPy array)
        brings its own row step. ValueError when the plane holds less."""
        if obj is None:
            raise ValueError("%s: no plane given" % name)
        view = _PyBuffer()
        _get_buffer(obj, ctypes.byref(view), _PYBUF_RECORDS_RO | (_PYBUF_WRITABLE if writable else 0))
        self._held.append(view)
        if view.itemsize != 1:
            raise ValueError("%s: a plane holds bytes, not %d-byte items" % (name, view.itemsize))
        if view.ndim == 2:
            return self._rows(name, view, stride, columns, rows)
        if view.ndim > 1 or (view.ndim == 1 and view.len > 1 and view.strides[0] != 1):
            raise ValueError("%s: a flat plane must be contiguous" % name)
        if stride is None:
            stride = columns
        _check_stride(name, stride, columns)
        need = 0 if rows <= 0 or columns <= 0 else (rows - 1) * abs(stride) + columns
        if view.len < need:
            raise ValueError(
                "%s: %d rows of %d bytes, %d apart, need %d bytes; it holds %d"
                % (name, rows, columns, stride, need, view.len)
            )
        start = (rows - 1) * -stride if stride < 0 and rows > 0 else 0
        return (view.buf or 0) + start, stride

    @staticmethod
    def _rows(name, view, stride, columns, rows):
        have_rows, have_columns = view.shape[0], view.shape[1]
        row_step, column_step = view.strides[0], view.strides[1]
        if have_columns > 1 and column_step != 1:
            raise ValueError("%s: a plane's rows must be contiguous" % name)
        if stride is not None and stride != row_step and have_rows > 1:
            raise ValueError("%s: stride %d, but its rows are %d apart" % (name, stride, row_step))
        if have_rows <= 1:
            row_step = stride if stride is not None else columns
        if have_rows < rows or (rows > 0 and have_columns < columns):
            raise ValueError(
                "%s: need %d rows of %d bytes; it is %dx%d" % (name, rows, columns, have_rows, have_columns)
            )
        _check_stride(name, row_step, columns)
        return view.buf or 0, row_step


def _check_stride(name, stride, columns):
    if not INT32_MIN <= stride <= INT32_MAX:
        raise ValueError("%s: stride %d does not fit 32 bits" % (name, stride))
    if abs(stride) < columns:
        raise ValueError("%s: stride %d is narrower than its %d bytes" % (name, stride, columns))
