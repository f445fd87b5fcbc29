// Text output. Placeholder metrics until the FreeType renderer lands.
#include "internal.h"

extern "C" {

BOOL WINAPI GetTextExtentPoint32A(HDC, LPCSTR, int count, LPSIZE size) {
    if (!size || count < 0) return FALSE;
    size->cx = 8 * count;
    size->cy = 16;
    return TRUE;
}

BOOL WINAPI TextOutA(HDC, int, int, LPCSTR, int) { return TRUE; }

}  // extern "C"
