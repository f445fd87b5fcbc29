// The library's exports as it declares them. No DllImport here names a
// calling convention and no delegate carries UnmanagedFunctionPointer: the
// platform default (Winapi) is stdcall on 32-bit Windows and cdecl elsewhere,
// exactly what kestra.h's KESTRA_API and KESTRA_CALLBACK say.
using System;
using System.Runtime.InteropServices;
using System.Security;

namespace Kestra
{
    internal delegate void DisplayCallbackNative(int drawIndex, IntPtr dc, int frameWidth,
                                                 int frameHeight, int value7, int value8,
                                                 int windowWidth, int windowHeight,
                                                 int mirrorMode, IntPtr user);

    internal delegate int WriteWaveCallbackNative(IntPtr buffer, uint size, IntPtr user);

    [StructLayout(LayoutKind.Sequential)]
    internal struct NativeRect
    {
        public int Left, Top, Right, Bottom;
    }

    // WAVEFORMATEX: 18 bytes, 2-byte aligned fields as the platform packs it.
    [StructLayout(LayoutKind.Sequential, Pack = 2)]
    internal struct NativeWaveFormat
    {
        public ushort FormatTag;
        public ushort Channels;
        public uint SamplesPerSec;
        public uint AvgBytesPerSec;
        public ushort BlockAlign;
        public ushort BitsPerSample;
        public ushort ExtraSize;
    }

    // "kestra" is kestra.dll on Windows and libkestra.so under Mono on Linux.
    [SuppressUnmanagedCodeSecurity]
    internal static unsafe class Native
    {
        const string Lib = "kestra";

        [DllImport(Lib)] internal static extern int KESTRA_DWOpenDraw(out DisplayHandle display);
        [DllImport(Lib)] internal static extern int KESTRA_DWCloseDraw(IntPtr display);
        [DllImport(Lib)] internal static extern int KESTRA_DWSetHwnd(DisplayHandle display, IntPtr window);
        [DllImport(Lib)] internal static extern int KESTRA_DWSetIndex(DisplayHandle display, int index);
        [DllImport(Lib)]
        internal static extern int KESTRA_DWSetDisplayCB(DisplayHandle display, IntPtr user,
                                                         DisplayCallbackNative callback);
        [DllImport(Lib)] internal static extern int KESTRA_DWInitDraw(DisplayHandle display, int width, int height);
        [DllImport(Lib)] internal static extern int KESTRA_DWFreeDraw(DisplayHandle display);
        [DllImport(Lib)] internal static extern int KESTRA_DWAdjustedWnd(DisplayHandle display);
        [DllImport(Lib)]
        internal static extern int KESTRA_DWDrawYUV420(DisplayHandle display, byte* y, int yStride,
                                                       byte* u, byte* v, int uvStride, int value6,
                                                       int value7, int value8);
        [DllImport(Lib)]
        internal static extern int KESTRA_DWSetOSDText(DisplayHandle display, int index,
                                                       [MarshalAs(UnmanagedType.LPStr)] string text,
                                                       int x, int y, int anchor, uint colour);
        [DllImport(Lib)] internal static extern int KESTRA_DWSetPlayRect(DisplayHandle display, NativeRect* rect);
        [DllImport(Lib)] internal static extern int KESTRA_DWSetMirrorMode(DisplayHandle display, int mode);

        [DllImport(Lib)] internal static extern int KESTRA_WVOpenWave(out WaveHandle wave);
        [DllImport(Lib)] internal static extern int KESTRA_WVCloseWave(IntPtr wave);
        [DllImport(Lib)]
        internal static extern int KESTRA_WVSetWaveFormat(WaveHandle wave, NativeWaveFormat* format,
                                                          uint bufferSize);
        [DllImport(Lib)]
        internal static extern int KESTRA_WVSetWriteWaveCB(WaveHandle wave, IntPtr user,
                                                           WriteWaveCallbackNative callback);
        [DllImport(Lib)] internal static extern int KESTRA_WVPlayWave(WaveHandle wave);
        [DllImport(Lib)] internal static extern int KESTRA_WVStopWave(WaveHandle wave);
        [DllImport(Lib)] internal static extern int KESTRA_WVPauseWave(WaveHandle wave, int pause);
        [DllImport(Lib)] internal static extern int KESTRA_WVSetVolume(WaveHandle wave, uint volume);

        [DllImport(Lib)] internal static extern int KESTRA_Initialize();
        [DllImport(Lib)] internal static extern int KESTRA_UnInitialize();
        [DllImport(Lib)]
        internal static extern int KESTRA_yv12_to_rgb24_c(byte* dst, int dstStride, byte* y, byte* u,
                                                          byte* v, int yStride, int uvStride,
                                                          uint width, int height);

        // Extensions.
        [DllImport(Lib)] internal static extern int KESTRA_DWSetColorSpace(DisplayHandle display, int matrix, int range);
        [DllImport(Lib)]
        internal static extern int KESTRA_yv12_to_rgb24_cs(byte* dst, int dstStride, byte* y, byte* u,
                                                           byte* v, int yStride, int uvStride,
                                                           uint width, int height, int matrix,
                                                           int range);
        [DllImport(Lib)]
        internal static extern int KESTRA_WVGetPosition(WaveHandle wave, long* hostFrames, long* qpcTime);
        [DllImport(Lib)] internal static extern int KESTRA_DWSetScaling(DisplayHandle display, int mode);
    }
}
