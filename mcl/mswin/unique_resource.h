// One owner type per kind of Windows resource, so that every path out of a function releases what it got.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <setupapi.h>

#include <cstdio>
#include <utility>

namespace mcl::mswin {

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() = default;
    explicit unique_any(pointer value) : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const { return value_; }
    explicit operator bool() const { return Traits::is_valid(value_); }

    pointer release()
    {
        pointer value = value_;
        value_ = Traits::invalid();
        return value;
    }

    void reset(pointer value = Traits::invalid())
    {
        if (Traits::is_valid(value_))
            Traits::close(value_);
        value_ = value;
    }

    // Address for an out-parameter; whatever was held is released first.
    pointer* put()
    {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

struct handle_traits {
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr && p != INVALID_HANDLE_VALUE; }
    static void close(pointer p) { ::CloseHandle(p); }
};

struct hkey_traits {
    using pointer = HKEY;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { ::RegCloseKey(p); }
};

struct schandle_traits {
    using pointer = SC_HANDLE;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { ::CloseServiceHandle(p); }
};

struct hdevinfo_traits {
    using pointer = HDEVINFO;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static bool is_valid(pointer p) { return p != nullptr && p != INVALID_HANDLE_VALUE; }
    static void close(pointer p) { ::SetupDiDestroyDeviceInfoList(p); }
};

struct hfind_traits {
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static bool is_valid(pointer p) { return p != nullptr && p != INVALID_HANDLE_VALUE; }
    static void close(pointer p) { ::FindClose(p); }
};

struct hlocal_traits {
    using pointer = HLOCAL;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { ::LocalFree(p); }
};

struct hmodule_traits {
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { ::FreeLibrary(p); }
};

struct file_traits {
    using pointer = FILE*;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { std::fclose(p); }
};

// A COM interface pointer: one reference, released on reset.
template <typename Interface>
struct com_traits {
    using pointer = Interface*;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer p) { return p != nullptr; }
    static void close(pointer p) { p->Release(); }
};

using unique_handle = unique_any<handle_traits>;
using unique_hkey = unique_any<hkey_traits>;
using unique_schandle = unique_any<schandle_traits>;
using unique_hdevinfo = unique_any<hdevinfo_traits>;
using unique_hfind = unique_any<hfind_traits>;
using unique_hlocal = unique_any<hlocal_traits>;
using unique_hmodule = unique_any<hmodule_traits>;
using unique_file = unique_any<file_traits>;
template <typename Interface>
using unique_com = unique_any<com_traits<Interface>>;

// A VARIANT that starts empty and is cleared (its BSTR or interface released) on destruction.
class unique_variant {
public:
    unique_variant() { ::VariantInit(&value_); }
    ~unique_variant() { ::VariantClear(&value_); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    VARIANT* get() { return &value_; }
    const VARIANT& value() const { return value_; }

private:
    VARIANT value_;
};

// COM on the calling thread for the guard's lifetime. Uninitialises only when its own initialisation counted
// (S_OK or S_FALSE): after RPC_E_CHANGED_MODE an uninitialise would undo the apartment of whoever set it up.
class com_apartment {
public:
    explicit com_apartment(DWORD model) : result_(::CoInitializeEx(nullptr, model)) {}
    ~com_apartment()
    {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// Zero-filled LocalAlloc block (LPTR), viewed as T.
template <typename T = unsigned char>
class unique_local_block {
public:
    explicit unique_local_block(SIZE_T bytes) : block_(::LocalAlloc(LPTR, bytes)) {}
    T* get() const { return static_cast<T*>(block_.get()); }
    explicit operator bool() const { return static_cast<bool>(block_); }
    HLOCAL release() { return block_.release(); }

private:
    unique_hlocal block_;
};

} // namespace mcl::mswin
