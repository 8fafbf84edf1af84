// The DLL's COM entry points, found as Windows (and regsvr32) finds them: by
// plain name with GetProcAddress.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

namespace {

HMODULE Library() {
    return LoadLibraryW(L"vidozir.dll");  // already loaded: the tests link it
}

template <class F>
F Entry(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Library(), name)));
}

using Plain = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

TEST(ComModule, EntryPointsOfAModuleWithoutClasses) {
    ASSERT_NE(Library(), nullptr);
    auto registerServer = Entry<Plain>("DllRegisterServer");
    auto unregisterServer = Entry<Plain>("DllUnregisterServer");
    auto canUnloadNow = Entry<Plain>("DllCanUnloadNow");
    auto getClassObject = Entry<GetClassObject>("DllGetClassObject");
    ASSERT_TRUE(registerServer && unregisterServer && canUnloadNow && getClassObject);

    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);  // nothing holds the module

    const CLSID anyClass = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(anyClass, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject(anyClass, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
