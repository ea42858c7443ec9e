// Feeds mutated indexes to ReadIndex after signing them, so that the parser behind the
// signature is what gets fuzzed. The first input byte picks the signer: even, the test
// root; odd, the working key the seeds' certificates name. The rest is the signed part.
#include "vfs/Container.h"

#include "tools/qmrelease/Writer.h"

#include <cstdlib>
#include <set>
#include <string>

namespace
{
const QmRelease::SKeyPair& Key(bool worker)
{
    static const QmRelease::SKeyPair root = QmRelease::KeyFromSeed(std::array<std::uint8_t, 32>{0xF0});
    static const QmRelease::SKeyPair work = QmRelease::KeyFromSeed(std::array<std::uint8_t, 32>{0xF1});
    return worker ? work : root;
}

void Require(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    QmRelease::Bytes file(data + 1, data + size);
    QmRelease::AppendSignature(file, Key(data[0] & 1));

    auto read = Vfs::ReadIndex(file, Key(false).publicKey);
    if (!read)
    {
        Require(!read.error().empty());
        return 0;
    }
    const Vfs::SIndex index = std::move(*read);
    // What the patcher relies on once an index has been read.
    Require(index.pieceBases.size() == index.containers.size());
    std::uint64_t pieces = 0;
    for (std::size_t c = 0; c < index.containers.size(); ++c)
    {
        Require(index.pieceBases[c] == pieces);
        pieces += Vfs::PieceCount(index.containers[c].size);
        Require(Vfs::ContainerName(index.containers[c]).size() > 20);
    }
    Require(pieces == index.pieceHashes.size());
    for (const auto& run : index.moves)
    {
        Require(run.destination < index.containers.size());
        Require(run.destinationOffset + run.length <= index.containers[run.destination].size);
    }
    std::set<std::string> keys;
    for (const auto& f : index.files)
    {
        Require(Vfs::IsIndexPath(f.path));
        Require(Vfs::WindowsPathFault(f.path, (f.flags & Vfs::kLauncherFlag) != 0) == Vfs::EPathFault::None);
        Require(keys.insert(Vfs::WindowsPathKey(f.path)).second);
    }
    // No file lies in a folder that is another file.
    for (const std::string& key : keys)
    {
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        {
            Require(!keys.contains(key.substr(0, slash)));
        }
    }
    Require(index.head.size() + index.body.size() + 64 == file.size());
    Require(index.identity == Vfs::Hash256(std::span(file).first(file.size() - 64)));
    if (!index.containers.empty())
    {
        const auto header = Vfs::ContainerHeader(index.containers.back());
        Require(Vfs::CheckContainerHeader(index, static_cast<std::uint16_t>(index.containers.size() - 1), header)
                    .has_value());
        (void)Vfs::CheckPiece(index, index.containers.size() - 1, 0, header);
    }
    return 0;
}
