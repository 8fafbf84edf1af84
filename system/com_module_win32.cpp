// The four entry points of a COM in-process module. The library offers no COM
// class of its own: registration writes nothing and succeeds, no class object
// is ever handed out, and since nothing can therefore hold the module, it may
// always be unloaded. Windows only: there is no COM on the Linux port.
#include <windows.h>
#include <objbase.h>

#include "vidozir/export.h"

// Undecorated names, as regsvr32 and CoGetClassObject look them up: the
// i686 link strips the stdcall "@n" suffixes (see VidozirLibrary.cmake).
extern "C" {

VIDOZIR_API HRESULT STDAPICALLTYPE DllRegisterServer() {
    return S_OK;
}

VIDOZIR_API HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}

VIDOZIR_API HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID* object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

VIDOZIR_API HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_OK;
}

}  // extern "C"
