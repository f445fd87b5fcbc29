/* The Win32 subset libkestra uses, for builds without the Windows SDK.
 * Names, values, signatures and record layouts follow the SDK; types keep
 * their Windows widths (DWORD and LONG are 32-bit even on LP64). */
#ifndef KPLAT_WINDOWS_H
#define KPLAT_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#if defined(KPLAT_BUILDING)
#define KPLAT_API __attribute__((visibility("default")))
#else
#define KPLAT_API
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY
#define CONST const
#define VOID void
#define FAR
#define NEAR

#ifdef __cplusplus
#define KPLAT_EXTERN_C extern "C"
#define KPLAT_BEGIN_DECLS extern "C" {
#define KPLAT_END_DECLS }
#else
#define KPLAT_EXTERN_C
#define KPLAT_BEGIN_DECLS
#define KPLAT_END_DECLS
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LONG HRESULT;
typedef DWORD COLORREF;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *PVOID;
typedef void *HANDLE;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef LONG *LPLONG;
typedef BOOL *LPBOOL;

#define DECLARE_HANDLE(name) \
    struct name##__ {        \
        int unused;          \
    };                       \
    typedef struct name##__ *name

DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HPEN);
DECLARE_HANDLE(HRGN);
DECLARE_HANDLE(HPALETTE);
typedef HINSTANCE HMODULE;
typedef HANDLE HGDIOBJ;

typedef intptr_t(WINAPI *FARPROC)(void);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define RGB(r, g, b) \
    ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFFu

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef GUID *LPGUID;
#ifdef __cplusplus
#define REFIID const IID &
#define REFGUID const GUID &
#define REFCLSID const CLSID &
inline bool operator==(const GUID &a, const GUID &b) {
    const BYTE *x = reinterpret_cast<const BYTE *>(&a);
    const BYTE *y = reinterpret_cast<const BYTE *>(&b);
    for (unsigned i = 0; i < sizeof(GUID); ++i)
        if (x[i] != y[i]) return false;
    return true;
}
inline bool operator!=(const GUID &a, const GUID &b) { return !(a == b); }
#else
#define REFIID const IID *
#define REFGUID const GUID *
#define REFCLSID const CLSID *
#endif

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT *LPCRECT;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *PSIZE, *LPSIZE;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

/* The SDK's 64-bit integer record: QuadPart, or its two halves. */
typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef DWORD(WINAPI *PTHREAD_START_ROUTINE)(LPVOID parameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x1
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4

/* Opaque storage for the stand-in's recursive mutex; the size is checked
 * against the host's pthread_mutex_t where it is implemented. */
typedef struct _RTL_CRITICAL_SECTION {
    union {
        void *align;
        unsigned char storage[64];
    } impl;
    LONG initialised;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

/* ---- GDI records ---- */
typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER, *PBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO, *PBITMAPINFO;

/* Window styles the library reads; the stand-in's windows are all top-level. */
#define GWL_STYLE (-16)
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_BORDER 0x00800000L
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define SWP_NOCOPYBITS 0x0100
#define SWP_NOOWNERZORDER 0x0200
#define SWP_NOSENDCHANGING 0x0400
#define SWP_DEFERERASE 0x2000
#define SWP_ASYNCWINDOWPOS 0x4000
#define QS_ALLINPUT 0x04FF

#define BI_RGB 0
#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020u
#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define TRANSPARENT 1
#define OPAQUE 2
#define HGDI_ERROR ((HGDIOBJ)(LONG_PTR)-1)

KPLAT_BEGIN_DECLS

/* ---- kernel ---- */
KPLAT_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs);
KPLAT_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs);
KPLAT_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs);
KPLAT_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs);
KPLAT_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs);
KPLAT_API LONG WINAPI InterlockedIncrement(LONG volatile *value);
KPLAT_API LONG WINAPI InterlockedDecrement(LONG volatile *value);
KPLAT_API LONG WINAPI InterlockedExchange(LONG volatile *target, LONG value);
KPLAT_API LONG WINAPI InterlockedCompareExchange(LONG volatile *target, LONG exchange,
                                                 LONG comparand);
KPLAT_API void WINAPI Sleep(DWORD milliseconds);
KPLAT_API DWORD WINAPI GetTickCount(void);
KPLAT_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *count);
KPLAT_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *frequency);
KPLAT_API DWORD WINAPI GetCurrentThreadId(void);
KPLAT_API DWORD WINAPI GetCurrentProcessId(void);
KPLAT_API DWORD WINAPI GetLastError(void);
KPLAT_API void WINAPI SetLastError(DWORD error);
KPLAT_API BOOL WINAPI CloseHandle(HANDLE handle);
KPLAT_API UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue,
                                            LPCSTR fileName);
KPLAT_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                                LPSTR returned, DWORD size, LPCSTR fileName);
KPLAT_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
KPLAT_API DWORD WINAPI GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size);
KPLAT_API void WINAPI GetLocalTime(LPSYSTEMTIME time);
KPLAT_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
KPLAT_API BOOL WINAPI FreeLibrary(HMODULE module);
KPLAT_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
KPLAT_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
KPLAT_API BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE *module);
KPLAT_API __attribute__((noreturn)) void WINAPI FreeLibraryAndExitThread(HMODULE module,
                                                                         DWORD exitCode);
KPLAT_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                     BOOL initialState, LPCSTR name);
KPLAT_API BOOL WINAPI SetEvent(HANDLE event);
KPLAT_API BOOL WINAPI ResetEvent(HANDLE event);
KPLAT_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
KPLAT_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                     LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                     LPDWORD threadId);

/* ---- user ---- */
KPLAT_API HDC WINAPI GetDC(HWND window);
KPLAT_API int WINAPI ReleaseDC(HWND window, HDC dc);
KPLAT_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
KPLAT_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
KPLAT_API BOOL WINAPI ClientToScreen(HWND window, LPPOINT point);
KPLAT_API BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom);
KPLAT_API BOOL WINAPI IsWindow(HWND window);
KPLAT_API LONG WINAPI GetWindowLongA(HWND window, int index);
KPLAT_API DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD process);
KPLAT_API BOOL WINAPI DestroyWindow(HWND window);
KPLAT_API DWORD WINAPI GetQueueStatus(UINT flags);
KPLAT_API BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                                   UINT flags);

/* ---- gdi ---- */
KPLAT_API HDC WINAPI CreateCompatibleDC(HDC dc);
KPLAT_API HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
KPLAT_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
KPLAT_API BOOL WINAPI DeleteDC(HDC dc);
KPLAT_API BOOL WINAPI DeleteObject(HGDIOBJ object);
KPLAT_API int WINAPI SetStretchBltMode(HDC dc, int mode);
KPLAT_API int WINAPI GetStretchBltMode(HDC dc);
KPLAT_API int WINAPI StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight,
                                   int xSrc, int ySrc, int srcWidth, int srcHeight,
                                   const void *bits, const BITMAPINFO *info, UINT usage, DWORD rop);
KPLAT_API int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits,
                               LPBITMAPINFO info, UINT usage);
KPLAT_API int WINAPI SetBkMode(HDC dc, int mode);
KPLAT_API int WINAPI GetBkMode(HDC dc);
KPLAT_API COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour);
KPLAT_API COLORREF WINAPI GetTextColor(HDC dc);
KPLAT_API BOOL WINAPI GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size);
KPLAT_API BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int count);
KPLAT_API COLORREF WINAPI GetPixel(HDC dc, int x, int y);
KPLAT_API COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF colour);

KPLAT_END_DECLS

#endif
