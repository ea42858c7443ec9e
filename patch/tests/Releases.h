// The releases that make-releases wrote for the integration tests, and a game folder in a
// temporary place for each test, checked byte for byte against a release.
#pragma once

#include "vfs/Container.h"
#include "vfs/Index.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace PatchTests
{
namespace fs = std::filesystem;

inline fs::path ReleasesFolder()
{
    const char* build = std::getenv("QM_BUILD_DIR");
    return fs::path("Z:" + std::string(build != nullptr ? build : "")) / "testservers/cdn/www/patch";
}

inline std::string ReadText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return file ? text.str() : std::string("(missing)");
}

inline void WriteText(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct SRelease
{
    std::string name;
    std::string id;
    std::uint64_t number = 0;
};

inline SRelease Release(const std::string& name)
{
    std::istringstream lines(ReadText(ReleasesFolder() / "releases"));
    SRelease release;
    while (lines >> release.name >> release.id >> release.number)
    {
        if (release.name == name)
        {
            return release;
        }
    }
    return {};
}

inline fs::path Cdn()
{
    return ReleasesFolder() / "cdn";
}

inline fs::path IndexFile(const SRelease& release)
{
    return Cdn() / "i" / (release.id + ".quillmereindex");
}

inline Vfs::SIndex IndexOf(const SRelease& release)
{
    const std::string bytes = ReadText(IndexFile(release));
    return Vfs::ReadIndex(bytes, Vfs::TrustRoot()).value_or(Vfs::SIndex{});
}

// Every file of the release (but the launcher's own) with the CDN file holding its bytes.
inline std::map<std::string, fs::path> ReleaseFiles(const SRelease& release)
{
    const Vfs::SIndex index = IndexOf(release);
    std::map<std::string, fs::path> files;
    for (const Vfs::SContainer& container : index.containers)
    {
        files["Client/pack/" + Vfs::ContainerName(container)] =
            Cdn() / "c" / (Vfs::ToHex(container.identity) + ".quillmerepack");
    }
    for (const Vfs::SFile& file : index.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) == 0)
        {
            files[file.path] = Cdn() / "f" / Vfs::ToHex(file.hash);
        }
    }
    files["Client/pack/release.quillmereindex"] = IndexFile(release);
    return files;
}

inline std::uint64_t ContentBytes(const SRelease& release)
{
    std::uint64_t total = 0;
    for (const auto& [path, source] : ReleaseFiles(release))
    {
        if (path != "Client/pack/release.quillmereindex")
        {
            total += fs::file_size(source);
        }
    }
    return total;
}

// Every file below the folder, "/"-separated and relative (the incoming folder's only with
// `incoming`), with its bytes, or with none when `bytes` is false.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder, bool incoming = true, bool bytes = true)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(folder))
    {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder))
    {
        std::string path = fs::relative(entry.path(), folder).generic_string();
        if (entry.is_regular_file() && (incoming || !path.starts_with("Client/pack/incoming/")))
        {
            files[std::move(path)] = bytes ? ReadText(entry.path()) : std::string();
        }
    }
    return files;
}

// What differs between the game folder and the release: files whose bytes differ or are
// missing, and files that are neither the release's nor in `alsoAllowed` (or the incoming
// folder, with `incoming`). Empty when the folder holds exactly the release.
inline std::vector<std::string> Differences(const fs::path& game, const SRelease& release,
    const std::set<std::string>& alsoAllowed = {}, bool incoming = true)
{
    std::vector<std::string> wrong;
    const auto files = ReleaseFiles(release);
    for (const auto& [path, source] : files)
    {
        if (ReadText(game / path) != ReadText(source))
        {
            wrong.push_back("differs: " + path);
        }
    }
    for (const auto& [path, none] : Snapshot(game, !incoming, false))
    {
        if (!files.contains(path) && !alsoAllowed.contains(path))
        {
            wrong.push_back("not of the release: " + path);
        }
    }
    return wrong;
}
}
