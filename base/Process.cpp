#include "base/Process.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace Process
{
namespace
{
// A thread attribute list, deleted with DeleteProcThreadAttributeList (its storage is the caller's).
using UniqueAttributeList = UniqueResource<SPointerTraits<LPPROC_THREAD_ATTRIBUTE_LIST, &DeleteProcThreadAttributeList>>;

// A list naming the handles to inherit, in storage. The handle array is referenced, not copied,
// so it must outlive the list.
[[nodiscard]] std::expected<UniqueAttributeList, unsigned long> InheritList(std::span<const HANDLE> handles,
                                                                            std::vector<std::byte>& storage)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage.resize(size);
    auto* const attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (size == 0 || !InitializeProcThreadAttributeList(attributes, 1, 0, &size))
    {
        return std::unexpected(GetLastError());
    }
    UniqueAttributeList list(attributes);
    if (!UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, const_cast<HANDLE*>(handles.data()),
                                   handles.size_bytes(), nullptr, nullptr))
    {
        return std::unexpected(GetLastError());
    }
    return list;
}
}

std::expected<SUniqueProcess, unsigned long> Start(SStart start)
{
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(STARTUPINFOW);
    std::vector<std::byte> storage;
    UniqueAttributeList list;
    if (!start.inherit.empty())
    {
        auto made = InheritList(start.inherit, storage);
        if (!made)
        {
            return std::unexpected(made.error());
        }
        list = std::move(*made);
        startup.StartupInfo.cb = sizeof(startup);
        startup.lpAttributeList = list.get();
        start.flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(start.application.c_str(), start.commandLine.data(), nullptr, nullptr,
                        start.inherit.empty() ? FALSE : TRUE, start.flags, nullptr,
                        start.folder.empty() ? nullptr : start.folder.c_str(), &startup.StartupInfo, &info))
    {
        return std::unexpected(GetLastError());
    }
    return SUniqueProcess::Adopt(info);
}
}
