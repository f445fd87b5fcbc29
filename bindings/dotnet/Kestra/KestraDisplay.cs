using System;
using System.Runtime.ExceptionServices;
using System.Threading;

namespace Kestra
{
    public enum KestraColorMatrix { Bt601 = 0, Bt709 = 1 }
    public enum KestraColorRange { Studio = 0, Full = 1 }
    public enum KestraScaling { Fast = 0, Smooth = 1 }

    /// <summary>What the display callback is told about the frame it may draw on.</summary>
    public struct KestraDrawInfo
    {
        public int DrawIndex;
        /// <summary>The HDC holding the frame at frame size; valid only during the call.</summary>
        public IntPtr Dc;
        public int FrameWidth, FrameHeight, Value7, Value8, WindowWidth, WindowHeight, MirrorMode;
    }

    /// <summary>Called on the drawing thread in the GDI mode, once per frame.</summary>
    public delegate void KestraDisplayCallback(KestraDrawInfo info);

    /// <summary>
    /// A display: frames of the size given to <see cref="Init"/> shown in a
    /// window. Dispose closes it; any call after that throws
    /// ObjectDisposedException. An exception thrown by the display callback
    /// is caught on the drawing thread and thrown again from the next call
    /// made on this display.
    /// </summary>
    public sealed unsafe class KestraDisplay : IDisposable
    {
        public const int Shown = 0, NotReady = -1, Dropped = -3, Released = -9;

        readonly DisplayHandle handle;
        readonly object frameLock = new object();
        int width, height;
        ExceptionDispatchInfo pending;

        public KestraDisplay()
        {
            DisplayHandle h;
            if (Native.KESTRA_DWOpenDraw(out h) != 0 || h.IsInvalid)
                throw new OutOfMemoryException("KESTRA_DWOpenDraw failed");
            handle = h;
        }

        void Enter()
        {
            if (handle.IsClosed) throw new ObjectDisposedException("KestraDisplay");
            ExceptionDispatchInfo e = Interlocked.Exchange(ref pending, null);
            if (e != null) e.Throw();
        }

        public void SetWindow(IntPtr window) { Enter(); Native.KESTRA_DWSetHwnd(handle, window); }

        public void SetIndex(int index) { Enter(); Native.KESTRA_DWSetIndex(handle, index); }

        /// <summary>Registers the callback (null: none). Every callback ever
        /// registered stays alive until the display is closed.</summary>
        public void SetCallback(KestraDisplayCallback callback)
        {
            Enter();
            DisplayCallbackNative thunk = null;
            if (callback != null)
            {
                thunk = (index, dc, fw, fh, v7, v8, ww, wh, mirror, user) => {
                    try
                    {
                        callback(new KestraDrawInfo { DrawIndex = index, Dc = dc, FrameWidth = fw,
                                                      FrameHeight = fh, Value7 = v7, Value8 = v8,
                                                      WindowWidth = ww, WindowHeight = wh,
                                                      MirrorMode = mirror });
                    }
                    catch (Exception e)
                    {
                        Interlocked.CompareExchange(ref pending, ExceptionDispatchInfo.Capture(e), null);
                    }
                };
            }
            handle.Hold(thunk);
            Native.KESTRA_DWSetDisplayCB(handle, IntPtr.Zero, thunk);
        }

        /// <summary>Sets up for frames of width x height; sizes of 0 or below
        /// leave the display not ready (draws answer NotReady).</summary>
        public void Init(int width, int height)
        {
            Enter();
            lock (frameLock)
            {
                Native.KESTRA_DWInitDraw(handle, width, height);
                this.width = width;
                this.height = height;
            }
        }

        public void Free() { Enter(); Native.KESTRA_DWFreeDraw(handle); }

        public void WindowAdjusted() { Enter(); Native.KESTRA_DWAdjustedWnd(handle); }

        /// <summary>
        /// Shows one YV12 frame of the size given to Init: a Y plane of
        /// width x height bytes and U and V planes of width/2 x height/2
        /// (sharing one stride). A plane that does not hold that at its stride
        /// throws ArgumentException and the library is not called. Returns
        /// Shown, NotReady, Dropped or Released.
        /// </summary>
        public int Draw(KestraPlane y, KestraPlane u, KestraPlane v, int value7 = 0, int value8 = 0)
        {
            Enter();
            if (u.Stride != v.Stride)
                throw new ArgumentException("the U and V planes share one stride", "v");
            // Held through the call so that a concurrent Init cannot change the
            // size the planes were checked against.
            lock (frameLock)
            {
                y.Check("y", width, height);
                u.Check("u", width / 2, height / 2);
                v.Check("v", width / 2, height / 2);
                fixed (byte* py = y.Array, pu = u.Array, pv = v.Array)
                {
                    return Native.KESTRA_DWDrawYUV420(handle, Top(py, y), y.Stride, Top(pu, u),
                                                      Top(pv, v), u.Stride, 0, value7, value8);
                }
            }
        }

        internal static byte* Top(byte* pinned, KestraPlane plane)
        {
            byte* start = plane.Array != null ? pinned + plane.ArrayStart : (byte*)plane.Buffer;
            return start == null ? null : start + plane.Offset;
        }

        /// <summary>OSD slot 0..5; null or "" empties it. anchor 1 measures y
        /// up from the bottom edge; colour is 0x00BBGGRR.</summary>
        public void SetOsdText(int index, string text, int x, int y, int anchor, uint colour)
        {
            Enter();
            Native.KESTRA_DWSetOSDText(handle, index, text, x, y, anchor, colour);
        }

        /// <summary>Crops to [left, right) x [top, bottom) in frame pixels; a
        /// rectangle outside the frame turns the crop off.</summary>
        public void SetPlayRect(int left, int top, int right, int bottom)
        {
            Enter();
            var rect = new NativeRect { Left = left, Top = top, Right = right, Bottom = bottom };
            Native.KESTRA_DWSetPlayRect(handle, &rect);
        }

        public void ClearPlayRect() { Enter(); Native.KESTRA_DWSetPlayRect(handle, null); }

        public void SetMirror(bool mirror) { Enter(); Native.KESTRA_DWSetMirrorMode(handle, mirror ? 1 : 0); }

        public void SetColorSpace(KestraColorMatrix matrix, KestraColorRange range)
        {
            Enter();
            if (Native.KESTRA_DWSetColorSpace(handle, (int)matrix, (int)range) == 2)
                throw new ArgumentOutOfRangeException("matrix", "unknown matrix or range");
        }

        public void SetScaling(KestraScaling mode)
        {
            Enter();
            if (Native.KESTRA_DWSetScaling(handle, (int)mode) == 2)
                throw new ArgumentOutOfRangeException("mode", "unknown scaling mode");
        }

        /// <summary>Closes the display; again does nothing. A draw running on
        /// another thread finishes first.</summary>
        public void Dispose() { handle.Dispose(); }
    }
}
