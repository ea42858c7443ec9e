// Benchmark helper (not a test): a large index, and the time ReadIndex takes on it.
//   qmrelease_bench large OUT KEYFILE     4,096 containers of 256 pieces (16 MiB of piece
//                                         hashes), 4,096 files, signed with the key
//   qmrelease_bench read FILE ROOTHEX RUNS    best wall time of ReadIndex over RUNS runs
#include "tools/qmrelease/Release.h"

#include <chrono>
#include <cstdio>
#include <random>

using namespace QmRelease;

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "large" && argc == 4)
    {
        const auto key = ReadKeyFile(argv[3]);
        if (!key)
        {
            std::fprintf(stderr, "%s\n", key.error().c_str());
            return 1;
        }
        std::mt19937_64 random(1);
        SReleaseContent content;
        content.identityUrls = {"https://id.example.com"};
        content.gameHost = "play.example.com";
        content.cdnUrl = "https://cdn.example.com";
        for (std::uint32_t c = 0; c < 4096; ++c)
        {
            Vfs::SContainer record{static_cast<Vfs::EContainerKind>(c % 4), Vfs::kMaxContainerSize, {}};
            for (auto& b : record.identity)
            {
                b = static_cast<std::uint8_t>(random());
            }
            content.containers.push_back(record);
        }
        content.pieceHashes.resize(4096 * 256);
        for (auto& h : content.pieceHashes)
        {
            for (auto& b : h)
            {
                b = static_cast<std::uint8_t>(random());
            }
        }
        for (std::uint32_t f = 0; f < 4096; ++f)
        {
            char path[64];
            std::snprintf(path, sizeof path, "Client/data/%04u/file-%08u.bin", f / 64, f);
            content.files.push_back({path, 0, f * 1000ull, {}});
        }
        const Bytes file = WriteIndex(content, *key);
        return WriteBytes(argv[2], file) ? 0 : 1;
    }
    if (mode == "read" && argc == 5)
    {
        const auto bytes = ReadBytes(argv[2]);
        const auto root = FromHex(argv[3]);
        if (!bytes || !root || root->size() != 32)
        {
            return 2;
        }
        double best = 1e9;
        for (int run = 0; run < std::atoi(argv[4]); ++run)
        {
            const auto start = std::chrono::steady_clock::now();
            const auto index = Vfs::ReadIndex(*bytes, std::span<const std::uint8_t, 32>(root->data(), 32));
            if (!index)
            {
                std::fprintf(stderr, "%s\n", index.error().c_str());
                return 1;
            }
            best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("%.4f\n", best);
        return 0;
    }
    std::fputs("usage: qmrelease_bench large OUT KEYFILE | read FILE ROOTHEX RUNS\n", stderr);
    return 2;
}
