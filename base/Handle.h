// Owners of Windows resources: closed on every path, movable, never copied.
//
// One template owns every kind; a kind is a small traits type naming the raw value, the value
// that means none, which values are live and how one is closed:
//
//     struct SFindTraits
//     {
//         using Value = HANDLE;
//         static Value None() noexcept { return INVALID_HANDLE_VALUE; }
//         static bool Valid(Value find) noexcept { return find != INVALID_HANDLE_VALUE; }
//         static void Close(Value find) noexcept { FindClose(find); }
//     };
//     using UniqueFind = UniqueResource<SFindTraits>;
//
// A kind whose none is null and that one function closes takes SPointerTraits:
//
//     using UniqueRegistryKey = UniqueResource<SPointerTraits<HKEY, &RegCloseKey>>;
//
// Kinds whose closing function lives in a library not every module links (WinHTTP, the
// certificate store, GDI) declare their traits beside the code that uses them. COM interface
// pointers are one kind too: UniqueCom<IShellLinkW>.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <type_traits>
#include <utility>

template <typename Traits>
class UniqueResource
{
public:
    using Value = typename Traits::Value;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Value value) noexcept : m_value(value) {}
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
        {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    [[nodiscard]] Value get() const noexcept { return m_value; }
    [[nodiscard]] bool valid() const noexcept { return Traits::Valid(m_value); }
    explicit operator bool() const noexcept { return valid(); }
    // Reaches through a value that points at a structure or an interface.
    Value operator->() const noexcept
        requires std::is_pointer_v<Value> && std::is_class_v<std::remove_pointer_t<Value>>
    {
        return m_value;
    }

    // For a call that fills an out-parameter: closes the owned value, if any, and hands out
    // where the new one goes.
    [[nodiscard]] Value* put() noexcept
    {
        reset();
        return &m_value;
    }

    // Gives up ownership: the caller closes the value.
    [[nodiscard]] Value release() noexcept { return std::exchange(m_value, Traits::None()); }
    // Closes the owned value, if any, and owns `value` instead.
    void reset(Value value = Traits::None()) noexcept
    {
        if (valid())
        {
            Traits::Close(m_value);
        }
        m_value = value;
    }

private:
    Value m_value = Traits::None();
};

// The traits of a kind whose raw value is a pointer or a pointer-like handle, null for none,
// closed by CloseFn(value).
template <typename T, auto CloseFn>
struct SPointerTraits
{
    using Value = T;
    static constexpr Value None() noexcept { return nullptr; }
    static bool Valid(Value value) noexcept { return value != nullptr; }
    static void Close(Value value) noexcept { CloseFn(value); }
};

// A kernel handle (file, pipe, event, process, thread) closed with CloseHandle. Both null and
// INVALID_HANDLE_VALUE mean none, because CreateFileW and most other calls disagree on which
// one they return.
struct SKernelHandleTraits
{
    using Value = HANDLE;
    static constexpr Value None() noexcept { return nullptr; }
    static bool Valid(Value handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Value handle) noexcept { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<SKernelHandleTraits>;

// A directory search from FindFirstFileW, ended with FindClose.
struct SFindTraits
{
    using Value = HANDLE;
    static Value None() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Valid(Value find) noexcept { return find != nullptr && find != INVALID_HANDLE_VALUE; }
    static void Close(Value find) noexcept { FindClose(find); }
};
using UniqueFind = UniqueResource<SFindTraits>;

// A COM interface pointer, released when it goes.
template <typename T>
struct SComTraits
{
    using Value = T*;
    static constexpr Value None() noexcept { return nullptr; }
    static bool Valid(Value value) noexcept { return value != nullptr; }
    static void Close(Value value) noexcept { value->Release(); }
};
template <typename T>
using UniqueCom = UniqueResource<SComTraits<T>>;

// A started process: its handle and its first thread's, both closed with CloseHandle.
struct SUniqueProcess
{
    UniqueHandle process;
    UniqueHandle thread;
    DWORD id = 0;

    // Takes ownership of what CreateProcessW filled in.
    [[nodiscard]] static SUniqueProcess Adopt(const PROCESS_INFORMATION& info) noexcept
    {
        return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread), info.dwProcessId};
    }
};
#endif
