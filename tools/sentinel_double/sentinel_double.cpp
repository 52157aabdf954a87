// A stand-in for the SentinelOne agent's automation object, so the self-tests can be run against a real COM
// registration: an in-process IDispatch server registered under the program id "SentinelHelper.1" whose one
// method, GetAgentStatusJSON (no arguments), returns a JSON text. The environment variable
// SENTINEL_DOUBLE_REPLY of the process that loads it changes the answer:
//   unset      {"agentVersion":"test","infected":false,"networkStatus":"connected"}
//   "!empty"   an empty VARIANT instead of a text
//   "!fail"    Invoke fails with E_FAIL
//   "!noname"  GetIDsOfNames knows no GetAgentStatusJSON
//   other      that text
// Registered and unregistered through its DllRegisterServer / DllUnregisterServer exports (regsvr32 or a test).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include "mcl/mswin/unique_resource.h"

#include <new>
#include <string>

namespace {

using mcl::mswin::unique_hkey;

// {1807DBE8-3683-460E-B258-D4FCE9130F45}
const CLSID double_class = {0x1807dbe8, 0x3683, 0x460e, {0xb2, 0x58, 0xd4, 0xfc, 0xe9, 0x13, 0x0f, 0x45}};
const wchar_t class_text[] = L"{1807DBE8-3683-460E-B258-D4FCE9130F45}";
const wchar_t class_key[] = L"CLSID\\{1807DBE8-3683-460E-B258-D4FCE9130F45}";
const wchar_t server_key[] = L"CLSID\\{1807DBE8-3683-460E-B258-D4FCE9130F45}\\InprocServer32";
const wchar_t prog_id[] = L"SentinelHelper.1";
const wchar_t prog_id_class_key[] = L"SentinelHelper.1\\CLSID";
const wchar_t default_reply[] = L"{\"agentVersion\":\"test\",\"infected\":false,\"networkStatus\":\"connected\"}";
const DISPID status_method = 1;

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

// The SENTINEL_DOUBLE_REPLY text; false when it is unset (or too long to be meant).
bool chosen_reply(wchar_t (&text)[4096])
{
    const DWORD length = ::GetEnvironmentVariableW(L"SENTINEL_DOUBLE_REPLY", text, 4096);
    return length > 0 && length < 4096;
}

bool reply_is(const wchar_t* mode)
{
    wchar_t chosen[4096] = {};
    return chosen_reply(chosen) && ::lstrcmpW(chosen, mode) == 0;
}

HRESULT status_reply(VARIANT* result)
{
    wchar_t chosen[4096] = {};
    const bool set = chosen_reply(chosen);
    if (set && ::lstrcmpW(chosen, L"!fail") == 0)
        return E_FAIL;
    if (result == nullptr)
        return S_OK;
    if (set && ::lstrcmpW(chosen, L"!empty") == 0)
        return S_OK;
    result->vt = VT_BSTR;
    result->bstrVal = ::SysAllocString(set ? chosen : default_reply);
    return result->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

class agent_double final : public IDispatch {
public:
    agent_double() { ::InterlockedIncrement(&g_objects); }
    ~agent_double() { ::InterlockedDecrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch)
            return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info != nullptr)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (names == nullptr || ids == nullptr)
            return E_POINTER;
        HRESULT result = S_OK;
        const bool nameless = reply_is(L"!noname");
        for (UINT i = 0; i < count; ++i) {
            const bool known = !nameless && i == 0 && names[i] != nullptr &&
                               ::lstrcmpiW(names[i], L"GetAgentStatusJSON") == 0;
            ids[i] = known ? status_method : DISPID_UNKNOWN;
            if (!known)
                result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (member != status_method || (flags & DISPATCH_METHOD) == 0)
            return DISP_E_MEMBERNOTFOUND;
        if (params != nullptr && params->cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        return status_reply(result);
    }

private:
    LONG refs_ = 1;
};

class agent_factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // One static factory for the module's lifetime: references are not counted.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        agent_double* object = new (std::nothrow) agent_double();
        if (object == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            ::InterlockedIncrement(&g_locks);
        else
            ::InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

agent_factory g_factory;

bool set_default_value(const wchar_t* key_path, const wchar_t* value_name, const wchar_t* text)
{
    unique_hkey key;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD bytes = static_cast<DWORD>((::lstrlenW(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

bool delete_tree(const wchar_t* key_path)
{
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key_path);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID class_id, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (class_id != double_class)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    const bool registered = set_default_value(class_key, nullptr, L"SentinelOne helper test double") &&
                            set_default_value(server_key, nullptr, path) &&
                            set_default_value(server_key, L"ThreadingModel", L"Both") &&
                            set_default_value((std::wstring(class_key) + L"\\ProgID").c_str(), nullptr, prog_id) &&
                            set_default_value(prog_id_class_key, nullptr, class_text);
    return registered ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    const bool removed = delete_tree(prog_id) && delete_tree(class_key);
    return removed ? S_OK : SELFREG_E_CLASS;
}
