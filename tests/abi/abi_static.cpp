// Every platform constant, record size and field offset the library relies
// on, checked at compile time against whichever headers this build uses (the
// SDK's under mingw, the stand-in's on Linux), so the two cannot drift apart.
#include <windows.h>
#include <ddraw.h>
#include <mmsystem.h>

#include <cstddef>

#define ABI_EQ(expr, value) static_assert((expr) == (value), #expr " != " #value)

constexpr bool kIs32Bit = sizeof(void *) == 4;

// USER and GDI
ABI_EQ(SRCCOPY, 0x00CC0020);
ABI_EQ(DIB_RGB_COLORS, 0);
ABI_EQ(COLORONCOLOR, 3);
ABI_EQ(TRANSPARENT, 1);
ABI_EQ(BI_RGB, 0);
ABI_EQ(GWL_STYLE, -16);
ABI_EQ(WS_CHILD, 0x40000000L);
ABI_EQ(RGB(1, 2, 3), 0x00030201);

// Kernel
ABI_EQ(E_NOTIMPL, HRESULT(0x80004001));
ABI_EQ(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, 0x4);

// DirectDraw flags
ABI_EQ(DD_OK, 0);
ABI_EQ(DDERR_SURFACELOST, HRESULT(0x887601C2));
ABI_EQ(DDSCL_NORMAL, 0x8);
ABI_EQ(DDCAPS_BLT, 0x40);
ABI_EQ(DDCAPS_BLTFOURCC, 0x100);
ABI_EQ(DDSD_CAPS, 0x1);
ABI_EQ(DDSD_HEIGHT, 0x2);
ABI_EQ(DDSD_WIDTH, 0x4);
ABI_EQ(DDSD_PIXELFORMAT, 0x1000);
ABI_EQ(DDSCAPS_PRIMARYSURFACE, 0x200);
ABI_EQ(DDSCAPS_OFFSCREENPLAIN, 0x40);
ABI_EQ(DDSCAPS_VIDEOMEMORY, 0x4000);
ABI_EQ(DDPF_FOURCC, 0x4);
ABI_EQ(DDPF_RGB, 0x40);
ABI_EQ(DDBLT_COLORFILL, 0x400);
ABI_EQ(DDBLT_DDFX, 0x800);
ABI_EQ(DDBLT_WAIT, 0x01000000);
ABI_EQ(DDBLTFX_MIRRORLEFTRIGHT, 0x2);
ABI_EQ(DDLOCK_WAIT, 0x1);
ABI_EQ(DDLOCK_WRITEONLY, 0x20);
ABI_EQ(MAKEFOURCC('Y', 'V', '1', '2'), 0x32315659);
ABI_EQ(MAKEFOURCC('U', 'Y', 'V', 'Y'), 0x59565955);

// Wave output
ABI_EQ(WAVE_MAPPER, UINT(0xFFFFFFFF));
ABI_EQ(CALLBACK_FUNCTION, 0x00030000);
ABI_EQ(WOM_OPEN, 0x3BB);
ABI_EQ(WOM_CLOSE, 0x3BC);
ABI_EQ(WOM_DONE, 0x3BD);
ABI_EQ(MMSYSERR_NOERROR, 0);
ABI_EQ(MMSYSERR_INVALHANDLE, 5);
ABI_EQ(WAVE_FORMAT_PCM, 1);
ABI_EQ(TIME_SAMPLES, 0x2);
ABI_EQ(TIME_BYTES, 0x4);

// Record sizes and field offsets, on both pointer widths.
ABI_EQ(sizeof(RECT), 16);
ABI_EQ(sizeof(SIZE), 8);
ABI_EQ(sizeof(COLORREF), 4);
ABI_EQ(sizeof(DWORD), 4);
ABI_EQ(sizeof(LONG), 4);
ABI_EQ(sizeof(BITMAPINFOHEADER), 40);
ABI_EQ(sizeof(DDPIXELFORMAT), 32);
ABI_EQ(sizeof(DDSURFACEDESC2), kIs32Bit ? 124 : 136);
ABI_EQ(sizeof(DDBLTFX), kIs32Bit ? 100 : 128);
ABI_EQ(sizeof(DDCAPS), 380);
ABI_EQ(sizeof(WAVEFORMATEX), 18);
ABI_EQ(sizeof(WAVEHDR), kIs32Bit ? 32 : 48);
ABI_EQ(sizeof(MMTIME), 12);
ABI_EQ(sizeof(LARGE_INTEGER), 8);
ABI_EQ(offsetof(RECT, right), 8);
ABI_EQ(offsetof(BITMAPINFOHEADER, biWidth), 4);
ABI_EQ(offsetof(BITMAPINFOHEADER, biHeight), 8);
ABI_EQ(offsetof(BITMAPINFOHEADER, biPlanes), 12);
ABI_EQ(offsetof(BITMAPINFOHEADER, biBitCount), 14);
ABI_EQ(offsetof(BITMAPINFOHEADER, biCompression), 16);
ABI_EQ(offsetof(BITMAPINFOHEADER, biSizeImage), 20);
ABI_EQ(offsetof(BITMAPINFO, bmiColors), 40);
ABI_EQ(offsetof(DDPIXELFORMAT, dwFlags), 4);
ABI_EQ(offsetof(DDPIXELFORMAT, dwFourCC), 8);
ABI_EQ(offsetof(DDPIXELFORMAT, dwRGBBitCount), 12);
ABI_EQ(offsetof(DDPIXELFORMAT, dwRBitMask), 16);
ABI_EQ(offsetof(DDPIXELFORMAT, dwGBitMask), 20);
ABI_EQ(offsetof(DDPIXELFORMAT, dwBBitMask), 24);
ABI_EQ(offsetof(DDPIXELFORMAT, dwRGBAlphaBitMask), 28);
ABI_EQ(offsetof(DDSURFACEDESC2, dwFlags), 4);
ABI_EQ(offsetof(DDSURFACEDESC2, dwHeight), 8);
ABI_EQ(offsetof(DDSURFACEDESC2, dwWidth), 12);
ABI_EQ(offsetof(DDSURFACEDESC2, lPitch), 16);
ABI_EQ(offsetof(DDSURFACEDESC2, lpSurface), kIs32Bit ? 36 : 40);
ABI_EQ(offsetof(DDSURFACEDESC2, ddpfPixelFormat), kIs32Bit ? 72 : 80);
ABI_EQ(offsetof(DDSURFACEDESC2, ddsCaps), kIs32Bit ? 104 : 112);
ABI_EQ(offsetof(DDBLTFX, dwDDFX), 4);
ABI_EQ(offsetof(DDBLTFX, dwFillColor), kIs32Bit ? 80 : 104);
ABI_EQ(offsetof(DDCAPS, dwCaps), 4);
ABI_EQ(offsetof(WAVEFORMATEX, nChannels), 2);
ABI_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4);
ABI_EQ(offsetof(WAVEFORMATEX, nAvgBytesPerSec), 8);
ABI_EQ(offsetof(WAVEFORMATEX, nBlockAlign), 12);
ABI_EQ(offsetof(WAVEFORMATEX, wBitsPerSample), 14);
ABI_EQ(offsetof(WAVEFORMATEX, cbSize), 16);
ABI_EQ(offsetof(WAVEHDR, dwBufferLength), sizeof(void *));
ABI_EQ(offsetof(WAVEHDR, dwLoops), kIs32Bit ? 20 : 28);
ABI_EQ(offsetof(MMTIME, u.cb), 4);
ABI_EQ(offsetof(MMTIME, u.smpte.fps), 8);
ABI_EQ(offsetof(MMTIME, u.smpte.pad), 10);
ABI_EQ(offsetof(LARGE_INTEGER, HighPart), 4);
