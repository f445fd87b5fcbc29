using System;

namespace Kestra
{
    /// <summary>The library's free functions.</summary>
    public static unsafe class KestraLibrary
    {
        public static int Initialize() { return Native.KESTRA_Initialize(); }

        public static int UnInitialize() { return Native.KESTRA_UnInitialize(); }

        /// <summary>
        /// Converts a YV12 frame to packed 24-bit pixels, blue first, rows
        /// 3 x dstStride bytes apart from dst[0]. A negative height reads the
        /// source bottom-up. Odd last columns and rows are not written.
        /// </summary>
        public static void Yv12ToRgb24(byte[] dst, int dstStride, KestraPlane y, KestraPlane u,
                                       KestraPlane v, int width, int height,
                                       KestraColorMatrix matrix = KestraColorMatrix.Bt601,
                                       KestraColorRange range = KestraColorRange.Studio)
        {
            Convert(false, dst, dstStride, y, u, v, width, height, matrix, range);
        }

        /// <summary>The contract's own conversion: BT.601, studio range.</summary>
        public static void Yv12ToRgb24Contract(byte[] dst, int dstStride, KestraPlane y,
                                               KestraPlane u, KestraPlane v, int width, int height)
        {
            Convert(true, dst, dstStride, y, u, v, width, height, KestraColorMatrix.Bt601,
                    KestraColorRange.Studio);
        }

        static void Convert(bool contract, byte[] dst, int dstStride, KestraPlane y, KestraPlane u,
                            KestraPlane v, int width, int height, KestraColorMatrix matrix,
                            KestraColorRange range)
        {
            if (dst == null) throw new ArgumentNullException("dst");
            if (width < 0) throw new ArgumentOutOfRangeException("width");
            if (height == int.MinValue) throw new ArgumentOutOfRangeException("height");
            if (u.Stride != v.Stride) throw new ArgumentException("the U and V planes share one stride", "v");
            int rows = Math.Abs(height);
            if (dstStride < width) throw new ArgumentException("dstStride is below the width", "dstStride");
            int outRows = rows & ~1, outColumns = width & ~1;
            if (outRows > 0 && outColumns > 0 &&
                3L * ((long)(outRows - 1) * dstStride + outColumns) > dst.Length)
                throw new ArgumentException("dst is too short for the frame", "dst");
            y.Check("y", width, rows);
            u.Check("u", width / 2, rows / 2);
            v.Check("v", width / 2, rows / 2);
            fixed (byte* pd = dst)
            fixed (byte* py = y.Array, pu = u.Array, pv = v.Array)
            {
                byte* ty = KestraDisplay.Top(py, y), tu = KestraDisplay.Top(pu, u),
                      tv = KestraDisplay.Top(pv, v);
                int result = contract
                    ? Native.KESTRA_yv12_to_rgb24_c(pd, dstStride, ty, tu, tv, y.Stride, u.Stride,
                                                    (uint)width, height)
                    : Native.KESTRA_yv12_to_rgb24_cs(pd, dstStride, ty, tu, tv, y.Stride, u.Stride,
                                                     (uint)width, height, (int)matrix, (int)range);
                if (result == 2) throw new ArgumentOutOfRangeException("matrix", "unknown matrix or range");
            }
        }
    }
}
