// qmfetch: downloads one file from a CDN with Net::Fetch as the patcher's download
// workers do (WORKERS threads taking ranged jobs of JOB bytes in turn) and reports the
// throughput. Used by scripts/bench-http; its stages show where a download's time goes:
//   qmfetch BASE-URL PATH SIZE [WORKERS [JOB]] [--stage drop|copy|hash|write FILE]
//     drop   the bytes are counted and dropped (default)
//     copy   gathered into 1 MiB pieces, as the patcher's workers gather a container's pieces
//     hash   ... and every piece hashed with BLAKE3 once whole (the pieces' check)
//     write  ... and every piece written at its offset into FILE (made at SIZE bytes first),
//            which is flushed at the end
#include "net/Http.h"
#include "patch/Pieces.h"
#include "base/File.h"
#include "base/Handle.h"

#include <blake3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
enum class EStage
{
    Drop,
    Copy,
    Hash,
    Write,
};
}

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    EStage stage = EStage::Drop;
    std::string target;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--stage") == 0 && i + 1 < argc)
        {
            const std::string name = argv[++i];
            stage = name == "copy" ? EStage::Copy : name == "hash" ? EStage::Hash : name == "write" ? EStage::Write
                                                                                              : EStage::Drop;
            if (stage == EStage::Write && i + 1 < argc)
            {
                target = argv[++i];
            }
        }
        else
        {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() < 3 || positional.size() > 5 || (stage == EStage::Write && target.empty()))
    {
        std::fputs("usage: qmfetch BASE-URL PATH SIZE [WORKERS [JOB]] [--stage drop|copy|hash|write FILE]\n", stderr);
        return 2;
    }
    const std::string& base = positional[0];
    const std::string& path = positional[1];
    const std::uint64_t size = std::strtoull(positional[2].c_str(), nullptr, 10);
    const std::uint64_t workers = positional.size() > 3 ? std::strtoull(positional[3].c_str(), nullptr, 10) : 4;
    const std::uint64_t job = positional.size() > 4 ? std::strtoull(positional[4].c_str(), nullptr, 10) : 33554432;
    if (size == 0 || workers == 0 || workers > 64 || job == 0 || job > (1u << 30))
    {
        std::fputs("qmfetch: SIZE must be above 0, WORKERS from 1 to 64 and JOB from 1 byte to 1 GiB\n", stderr);
        return 2;
    }

    UniqueHandle file;
    if (stage == EStage::Write)
    {
        file.reset(CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!file || !SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
        {
            std::fprintf(stderr, "qmfetch: %s could not be made\n", target.c_str());
            return 1;
        }
    }

    const std::uint64_t jobs = (size + job - 1) / job;
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> failed{false};
    std::atomic<std::uint8_t> sink{0}; // keeps the hashes from being optimised away
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::uint64_t w = 0; w < workers; ++w)
    {
        threads.emplace_back([&] {
            // The patcher's own gathering of pieces; "verifying" hashes as the stage asks.
            const auto hash = [&](std::uint64_t, std::span<const std::uint8_t> piece) {
                if (stage == EStage::Hash || stage == EStage::Write)
                {
                    blake3_hasher hasher;
                    blake3_hasher_init(&hasher);
                    blake3_hasher_update(&hasher, piece.data(), piece.size());
                    std::uint8_t out[16];
                    blake3_hasher_finalize(&hasher, out, sizeof(out));
                    sink.fetch_xor(out[0], std::memory_order_relaxed);
                }
                return true;
            };
            const auto write = [&](std::uint64_t at, std::span<const std::uint8_t> piece) {
                return stage != EStage::Write || File::WriteAt(file.get(), at, piece);
            };
            for (std::uint64_t i = next.fetch_add(1); i < jobs && !failed; i = next.fetch_add(1))
            {
                const std::uint64_t offset = i * job;
                const std::uint64_t length = std::min(job, size - offset);
                std::uint64_t received = 0;
                Patch::CJobPieces pieces(offset, stage == EStage::Drop ? 0 : length, hash, write);
                pieces.Begin();
                bool writeFailed = false;
                const auto status = Net::Fetch(base, path, offset, length,
                    [&](std::span<const std::uint8_t> chunk) {
                        if (chunk.size() > length - received)
                        {
                            received += chunk.size();
                            return false; // more than asked
                        }
                        received += chunk.size();
                        writeFailed = !pieces.Take(chunk);
                        return !writeFailed;
                    });
                writeFailed = writeFailed || (status && !pieces.Finish());
                if (writeFailed)
                {
                    std::fprintf(stderr, "qmfetch: %s could not be written\n", target.c_str());
                    failed = true;
                    return;
                }
                if (!status || *status != 206 || received != length)
                {
                    std::fprintf(stderr, "qmfetch: job %llu: %s, %llu of %llu bytes\n",
                                 static_cast<unsigned long long>(i),
                                 status ? ("status " + std::to_string(*status)).c_str() : status.error().c_str(),
                                 static_cast<unsigned long long>(received), static_cast<unsigned long long>(length));
                    failed = true;
                    return;
                }
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    if (stage == EStage::Write && !failed && !FlushFileBuffers(file.get()))
    {
        std::fprintf(stderr, "qmfetch: %s could not be flushed\n", target.c_str());
        failed = true;
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
