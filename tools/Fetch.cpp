// qmfetch: downloads one file from a CDN with Auth::Http::Fetch in parallel byte ranges, as
// the patcher's download workers do, and reports the throughput. The bytes are counted and
// dropped. Used by scripts/bench-http.
//   qmfetch BASE-URL PATH SIZE [PARTS]     PARTS default 4
#include "auth/http/Http.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5)
    {
        std::fputs("usage: qmfetch BASE-URL PATH SIZE [PARTS]\n", stderr);
        return 2;
    }
    const std::string base = argv[1];
    const std::string path = argv[2];
    const std::uint64_t size = std::strtoull(argv[3], nullptr, 10);
    const std::uint64_t parts = argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 4;
    if (size == 0 || parts == 0 || parts > 64)
    {
        std::fputs("qmfetch: SIZE must be above 0 and PARTS from 1 to 64\n", stderr);
        return 2;
    }

    std::atomic<bool> failed{false};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (std::uint64_t i = 0; i < parts; ++i)
    {
        workers.emplace_back([&, i] {
            const std::uint64_t offset = size * i / parts;
            const std::uint64_t length = size * (i + 1) / parts - offset;
            std::uint64_t received = 0;
            const auto status = Auth::Http::Fetch(base, path, offset, length, [&](std::span<const std::uint8_t> chunk) {
                received += chunk.size();
                return received <= length;
            });
            if (!status || *status != 206 || received != length)
            {
                std::fprintf(stderr, "qmfetch: part %llu: %s, %llu of %llu bytes\n", static_cast<unsigned long long>(i),
                             status ? ("status " + std::to_string(*status)).c_str() : status.error().c_str(),
                             static_cast<unsigned long long>(received), static_cast<unsigned long long>(length));
                failed = true;
            }
        });
    }
    for (std::thread& worker : workers)
    {
        worker.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed)
    {
        return 1;
    }
    std::printf("%llu bytes in %.3f s: %.1f MiB/s\n", static_cast<unsigned long long>(size), seconds,
                static_cast<double>(size) / 1048576.0 / seconds);
    return 0;
}
