// What the install tests share: whole files by path, and release indexes signed by the
// development root that the test builds trust.
#pragma once

#include "tools/qmrelease/Writer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace InstallTests
{
namespace fs = std::filesystem;

inline std::string Read(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return file ? bytes.str() : std::string("(missing)");
}

inline void Write(const fs::path& path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A folder the test environment names (QM_SOURCE_DIR, QM_BUILD_DIR), seen from Wine.
inline fs::path FromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return fs::path("Z:" + std::string(value != nullptr ? value : ""));
}

inline QmRelease::SKeyPair DevRoot()
{
    std::istringstream lines(Read(FromEnvironment("QM_SOURCE_DIR") / "vfs/tests/fixtures/dev-root.key"));
    std::string line, seed;
    while (std::getline(lines, line))
    {
        seed = !line.empty() && line[0] != '#' ? line : seed;
    }
    const auto bytes = QmRelease::FromHex(seed).value_or(QmRelease::Bytes(32, 0));
    return QmRelease::KeyFromSeed(std::span<const std::uint8_t, 32>(bytes.data(), 32));
}

// Two containers and a loose file, 2,048 bytes in all.
inline QmRelease::SReleaseContent Release(std::string name)
{
    QmRelease::SReleaseContent release;
    release.name = std::move(name);
    release.identityUrls = {"https://localhost:1/"};
    release.gameHost = "play.example.com";
    Vfs::SIdentity a{}, b{};
    a.fill(0xA1);
    b.fill(0xB2);
    release.containers = {{Vfs::EContainerKind::Session, 1000, a}, {Vfs::EContainerKind::Place, 1000, b}};
    release.pieceHashes = {Vfs::SPieceHash{}, Vfs::SPieceHash{}};
    release.files = {{"Client/data/readme.txt", 0, 48, {}}};
    return release;
}

inline std::string Signed(const QmRelease::SReleaseContent& release, const QmRelease::SKeyPair& key = DevRoot())
{
    const QmRelease::Bytes bytes = QmRelease::WriteIndex(release, key);
    return {bytes.begin(), bytes.end()};
}
}
