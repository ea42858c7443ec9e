// qmcheckbench: where a repair's time goes under Wine (scripts/bench-patch). Prints MiB/s of
//   qmcheckbench memory MIB        BLAKE3 over MIB MiB in memory, in 1 MiB pieces, and the SIMD
//                                  degree the library chose (16 AVX-512, 8 AVX2, 4 SSE4.1, 1 none)
//   qmcheckbench read FILE...      ReadFile in 1 MiB steps, the bytes dropped
//   qmcheckbench check FILE...     both, one after the other, as a check without read-ahead
#include "base/Handle.h"

#include <blake3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" std::size_t blake3_simd_degree(void); // the C library's own dispatch

namespace
{
constexpr std::size_t kPiece = 1048576;

std::uint8_t HashPiece(const std::uint8_t* bytes, std::size_t size)
{
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, bytes, size);
    std::uint8_t out[16];
    blake3_hasher_finalize(&hasher, out, sizeof(out));
    return out[0];
}
}

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode != "memory" && mode != "read" && mode != "check")
    {
        std::fputs("usage: qmcheckbench memory MIB | read FILE... | check FILE...\n", stderr);
        return 2;
    }
    std::vector<std::uint8_t> buffer(kPiece);
    std::uint64_t bytes = 0;
    unsigned sink = 0;
    const auto start = std::chrono::steady_clock::now();
    if (mode == "memory")
    {
        std::vector<std::uint8_t> data(64 * kPiece);
        for (std::size_t i = 0; i < data.size(); ++i)
        {
            data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
        }
        const std::uint64_t pieces = std::strtoull(argv[2], nullptr, 10);
        const auto begin = std::chrono::steady_clock::now();
        for (std::uint64_t p = 0; p < pieces; ++p)
        {
            sink += HashPiece(data.data() + (p % 64) * kPiece, kPiece);
        }
        bytes = pieces * kPiece;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        std::printf("memory: %.1f MiB/s, simd degree %zu (%u)\n", static_cast<double>(bytes) / kPiece / seconds,
                    blake3_simd_degree(), sink & 1);
        return 0;
    }
    for (int i = 2; i < argc; ++i)
    {
        const UniqueHandle file(CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file)
        {
            std::fprintf(stderr, "qmcheckbench: %s could not be opened\n", argv[i]);
            return 1;
        }
        for (;;)
        {
            DWORD read = 0;
            if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(kPiece), &read, nullptr) || read == 0)
            {
                break;
            }
            bytes += read;
            if (mode == "check")
            {
                sink += HashPiece(buffer.data(), read);
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %.1f MiB/s (%llu bytes, %u)\n", mode.c_str(), static_cast<double>(bytes) / kPiece / seconds,
                static_cast<unsigned long long>(bytes), sink & 1);
    return 0;
}
