/* IUnknown in the C++ shape of the SDK header: the base of every COM
 * interface the stand-in hands out. */
#ifndef KPLAT_UNKNWN_H
#define KPLAT_UNKNWN_H

#include <windows.h>

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void

#ifdef __cplusplus
struct IUnknown {
    STDMETHOD_(HRESULT, QueryInterface)(THIS_ REFIID riid, void **ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
};
#else
typedef struct IUnknown IUnknown;
#endif
typedef IUnknown *LPUNKNOWN;

#endif
