// qmbarefetch: the platform's own ceiling for scripts/bench-http and scripts/bench-patch. A bare
// WinHTTP read loop with nothing of the launcher in it: one session, worker threads taking
// ranged GETs of JOB bytes in turn from a shared counter, each read straight into one large
// buffer and the bytes dropped, or written where they belong in one file per download and
// flushed at the end (what landing the bytes on the disk costs under Wine). Plain http:// URLs
// are read too, to show what TLS costs.
//   qmbarefetch BASE-URL /PATH:SIZE [/PATH:SIZE...] [--workers N] [--job BYTES] [--buffer BYTES]
//               [--into FOLDER]
//     the files' jobs in turn; 4 workers, jobs of 33554432 bytes (the patcher's largest) and
//     reads of 1048576 bytes unless told otherwise; FOLDER gets 0.bin, 1.bin, ...
#include "net/HttpWin.h"
#include "base/Handle.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Net::Detail::UniqueInternet;

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Writes the bytes at `offset` of the file; false on failure.
bool WriteAt(HANDLE file, std::uint64_t offset, const std::uint8_t* bytes, DWORD count)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, &at) && written == count;
}

// One ranged GET on its own request handle of the shared connection; the bytes it read (and
// wrote, with a file).
std::uint64_t Get(HINTERNET connection, const std::wstring& object, bool secure, std::uint64_t first,
                  std::uint64_t length, std::uint8_t* buffer, DWORD bufferSize, HANDLE file)
{
    const UniqueInternet request(WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    const std::wstring range =
        L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(first + length - 1) + L"\r\n";
    if (!request ||
        !WinHttpSendRequest(request.get(), range.c_str(), static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
    {
        std::fprintf(stderr, "qmbarefetch: no answer (WinHTTP error %lu)\n", GetLastError());
        return 0;
    }
    std::uint64_t received = 0;
    for (;;)
    {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, bufferSize, &read))
        {
            std::fprintf(stderr, "qmbarefetch: the answer breaks off (WinHTTP error %lu)\n", GetLastError());
            return received;
        }
        if (read == 0)
        {
            return received;
        }
        if (file != nullptr && !WriteAt(file, first + received, buffer, read))
        {
            std::fprintf(stderr, "qmbarefetch: a write fails (error %lu)\n", GetLastError());
            return received;
        }
        received += read;
    }
}
}

int main(int argc, char** argv)
{
    struct SFile
    {
        std::wstring object;
        std::uint64_t size = 0;
        HANDLE file = nullptr; // with --into
    };
    std::vector<SFile> files;
    std::string base;
    std::string into;
    unsigned workers = 4;
    std::uint64_t job = 33554432;
    DWORD bufferSize = 1048576;
    bool usage = argc < 3;
    for (int i = 1; i < argc && !usage; ++i)
    {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--workers" && valued)
        {
            workers = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        }
        else if (arg == "--job" && valued)
        {
            job = std::strtoull(argv[++i], nullptr, 10);
        }
        else if (arg == "--buffer" && valued)
        {
            bufferSize = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        }
        else if (arg == "--into" && valued)
        {
            into = argv[++i];
        }
        else if (base.empty())
        {
            base = arg;
        }
        else if (const auto colon = arg.rfind(':'); colon != std::string::npos && arg.starts_with("/"))
        {
            files.push_back({Widen(arg.substr(0, colon)), std::strtoull(arg.c_str() + colon + 1, nullptr, 10)});
            usage = files.back().size == 0;
        }
        else
        {
            usage = true;
        }
    }
    if (usage || files.empty() || workers == 0 || workers > 64 || job == 0 || bufferSize == 0 ||
        bufferSize > (1u << 28))
    {
        std::fputs("usage: qmbarefetch BASE-URL /PATH:SIZE [/PATH:SIZE...] [--workers 1-64] [--job BYTES] "
                   "[--buffer BYTES] [--into FOLDER]\n",
                   stderr);
        return 2;
    }

    const std::wstring url = Widen(base);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    {
        std::fputs("qmbarefetch: not a URL\n", stderr);
        return 2;
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring prefix(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (!prefix.empty() && prefix.back() == L'/')
    {
        prefix.pop_back();
    }

    // The jobs of every file in turn, as the patcher cuts them.
    struct SJob
    {
        const SFile* file = nullptr;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    std::vector<SJob> jobs;
    std::uint64_t size = 0;
    for (SFile& file : files)
    {
        file.object = prefix + file.object;
        for (std::uint64_t at = 0; at < file.size; at += job)
        {
            jobs.push_back({&file, at, std::min(job, file.size - at)});
        }
        size += file.size;
    }

    std::vector<UniqueHandle> made;
    for (std::size_t i = 0; i < files.size() && !into.empty(); ++i)
    {
        const std::string path = into + "\\" + std::to_string(i) + ".bin";
        made.emplace_back(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(files[i].size);
        if (!made.back() || !SetFilePointerEx(made.back().get(), end, nullptr, FILE_BEGIN) ||
            !SetEndOfFile(made.back().get()))
        {
            std::fprintf(stderr, "qmbarefetch: %s could not be made (error %lu)\n", path.c_str(), GetLastError());
            return 1;
        }
        files[i].file = made.back().get();
    }

    const auto start = std::chrono::steady_clock::now();
    const UniqueInternet session(WinHttpOpen(L"qmbarefetch", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                             WINHTTP_NO_PROXY_BYPASS, 0));
    const UniqueInternet connection(session ? WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0) : nullptr);
    if (!connection)
    {
        std::fprintf(stderr, "qmbarefetch: WinHTTP does not start (WinHTTP error %lu)\n", GetLastError());
        return 1;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> total{0};
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w)
    {
        threads.emplace_back([&] {
            const auto buffer = std::make_unique<std::uint8_t[]>(bufferSize);
            for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1))
            {
                total += Get(connection.get(), jobs[i].file->object, secure, jobs[i].offset, jobs[i].length,
                             buffer.get(), bufferSize, jobs[i].file->file);
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    for (const UniqueHandle& file : made)
    {
        if (!FlushFileBuffers(file.get()))
        {
            std::fprintf(stderr, "qmbarefetch: a flush fails (error %lu)\n", GetLastError());
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (total.load() != size)
    {
        std::fprintf(stderr, "qmbarefetch: %llu of %llu bytes\n", static_cast<unsigned long long>(total.load()),
                     static_cast<unsigned long long>(size));
        return 1;
    }
    std::printf("%llu bytes in %.3f s: %.1f MiB/s\n", static_cast<unsigned long long>(size), seconds,
                static_cast<double>(size) / 1048576.0 / seconds);
    return 0;
}
