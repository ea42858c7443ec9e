// The planning of a patch run, end to end on a model of a Windows folder: an installed and a
// new release (paths drawn from a small alphabet so that cases, prefixes and device names
// meet), a folder listing with missing and damaged files and left-over empty folders, then
// the works, the journal (through its text and back), its replay and the rebuilt state.
// After the replay every file of the release must hold its own bytes and nothing the
// player could lose may be touched.
#include "patch/Plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace
{
void Check(bool condition, int line)
{
    if (!condition)
    {
        std::fprintf(stderr, "PlanFuzz.cpp:%d: a planning invariant does not hold\n", line);
        std::abort();
    }
}
#define Require(condition) Check(condition, __LINE__)

class CInput
{
public:
    CInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    [[nodiscard]] std::uint8_t Byte() noexcept { return m_at < m_size ? m_data[m_at++] : 0; }
    [[nodiscard]] bool More() const noexcept { return m_at < m_size; }

    // A path from pieces that exercise the rules: letters in two cases, separators, dots,
    // device names and the launcher's places.
    [[nodiscard]] std::string Path()
    {
        static constexpr const char* kPieces[] = {"a", "A", "b", "B", "/", "/", ".", "-", "x.txt", "nul", "Client",
            "Client/pack/", "patch.journal", "Quillmere.exe", "d/", "D/"};
        std::string path;
        for (std::uint8_t n = Byte() % 6 + 1; n > 0; --n)
        {
            path += kPieces[Byte() % std::size(kPieces)];
        }
        return path;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

Vfs::SIdentity Content(std::uint8_t value, std::uint8_t kind)
{
    Vfs::SIdentity id{};
    id[0] = value;
    id[1] = kind;
    return id;
}

// Files a reader would accept: the path rules and no two paths that are one on Windows.
std::vector<Vfs::SFile> Files(CInput& in)
{
    std::map<std::string, Vfs::SFile> sorted;
    for (std::uint8_t n = in.Byte() % 8; n > 0; --n)
    {
        Vfs::SFile file;
        file.path = in.Path();
        const std::uint8_t bits = in.Byte();
        file.flags = bits & 1;
        file.size = bits >> 1;
        file.hash = Content(bits % 4, 1); // few contents, so that files share one
        if (Vfs::IsIndexPath(file.path) && Vfs::WindowsPathFault(file.path, file.flags != 0) == Vfs::EPathFault::None)
        {
            sorted.emplace(file.path, file);
        }
    }
    std::vector<Vfs::SFile> files;
    std::set<std::string> keys;
    for (auto& [path, file] : sorted)
    {
        const std::string key = Vfs::WindowsPathKey(path);
        bool clash = keys.contains(key);
        for (const std::string& other : keys)
        {
            clash = clash || other.starts_with(key + "/") || key.starts_with(other + "/");
        }
        if (!clash)
        {
            keys.insert(key);
            files.push_back(file);
        }
    }
    return files;
}

std::vector<Vfs::SContainer> Containers(CInput& in)
{
    std::vector<Vfs::SContainer> containers;
    for (std::uint8_t n = in.Byte() % 3; n > 0; --n)
    {
        Vfs::SContainer c;
        c.kind = static_cast<Vfs::EContainerKind>(in.Byte() % 4);
        c.identity = Content(in.Byte() % 4, 2);
        c.identity[2] = static_cast<std::uint8_t>(containers.size()); // first 8 bytes differ
        c.size = 64 + in.Byte() * 100'000ULL;
        containers.push_back(c);
    }
    return containers;
}

// A Windows folder: names compared without case, files with their content, folders.
struct SNode
{
    bool folder = false;
    Vfs::SIdentity content{};
};
using SFolder = std::map<std::string, SNode>; // by WindowsPathKey

void AddFile(SFolder& folder, const std::string& path, const Vfs::SIdentity& content)
{
    const std::string key = Vfs::WindowsPathKey(path);
    for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
    {
        folder[key.substr(0, slash)].folder = true;
    }
    folder[key] = {false, content};
}

// The replay as Windows carries it out; false where a record would fail.
bool Replay(SFolder& folder, std::map<std::string, Vfs::SIdentity>& parts, const std::vector<Patch::SJournalRecord>& records)
{
    for (const Patch::SJournalRecord& record : records)
    {
        const std::string key = Vfs::WindowsPathKey(record.destination);
        if (record.kind == Patch::SJournalRecord::EKind::Delete)
        {
            // A path that is now a folder no longer holds the file: deleted, the folder kept.
            if (const auto node = folder.find(key); node != folder.end() && !node->second.folder)
            {
                folder.erase(node);
            }
            continue;
        }
        const auto part = parts.find(record.source);
        if (part == parts.end())
        {
            continue; // moved before
        }
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        {
            const auto parent = folder.find(key.substr(0, slash));
            if (parent != folder.end() && !parent->second.folder)
            {
                std::fprintf(stderr, "a file where %s needs a folder\n", record.destination.c_str());
                return false;
            }
            folder[key.substr(0, slash)].folder = true;
        }
        if (const auto node = folder.find(key); node != folder.end() && node->second.folder)
        {
            // Only a folder of empty folders gives way.
            const std::string inside = key + "/";
            for (auto it = folder.lower_bound(inside); it != folder.end() && it->first.starts_with(inside);)
            {
                if (!it->second.folder)
                {
                    std::fprintf(stderr, "a file in the folder where %s goes\n", record.destination.c_str());
                    return false;
                }
                it = folder.erase(it);
            }
        }
        folder[key] = {false, part->second};
        parts.erase(part);
    }
    return true;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CInput in(data, size);
    const bool update = (in.Byte() & 1) != 0;

    Vfs::SIndex installed;
    installed.containers = Containers(in);
    installed.files = Files(in);
    Vfs::SIndex used = installed;
    if (update)
    {
        used.containers = Containers(in);
        used.files = Files(in);
        used.header[16] = in.Byte();
        used.keyGeneration = in.Byte();
    }

    // The folder as the listing finds it: installed files whole, missing or damaged, and
    // empty folders left by earlier releases wherever no file is in their way.
    SFolder folder;
    for (const Vfs::SContainer& c : installed.containers)
    {
        AddFile(folder, Patch::ContainerPath(c), c.identity);
    }
    std::set<std::string> named; // what the installed release names; left-over folders are elsewhere
    for (const Vfs::SFile& file : installed.files)
    {
        named.insert(Vfs::WindowsPathKey(file.path));
        // A launcher record is never placed by a run; only the launcher's own name holds it.
        const bool placed = (file.flags & Vfs::kLauncherFlag) == 0 || file.path == "Quillmere.exe";
        const std::uint8_t state = in.Byte() % 4;
        if (state != 0 && placed)
        {
            AddFile(folder, file.path, state == 1 ? Content(0xEE, 0xEE) : file.hash);
        }
    }
    for (std::uint8_t n = in.Byte() % 3; n > 0; --n)
    {
        const std::string key = Vfs::WindowsPathKey(in.Path());
        bool free = Vfs::IsIndexPath(key) && folder.count(key) == 0 && !named.contains(key);
        for (std::size_t slash = key.find('/'); free && slash != std::string::npos; slash = key.find('/', slash + 1))
        {
            const auto node = folder.find(key.substr(0, slash));
            free = node == folder.end() || node->second.folder;
        }
        if (free)
        {
            for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            {
                folder[key.substr(0, slash)].folder = true;
            }
            folder[key].folder = true;
        }
    }
    const SFolder before = folder;

    // The works: what the folder does not hold whole, as the check step finds it.
    std::vector<Patch::SWork> works;
    const auto holds = [&](const std::string& path, const Vfs::SIdentity& content) {
        const auto node = folder.find(Vfs::WindowsPathKey(path));
        return node != folder.end() && !node->second.folder && node->second.content == content;
    };
    for (std::size_t c = 0; c < used.containers.size(); ++c)
    {
        if (!holds(Patch::ContainerPath(used.containers[c]), used.containers[c].identity))
        {
            works.push_back(Patch::ContainerWork(used, c, {}));
        }
    }
    for (const Vfs::SFile& file : used.files)
    {
        if ((file.flags & Vfs::kLauncherFlag) == 0 && !holds(file.path, file.hash))
        {
            works.push_back(Patch::FileWork(file));
        }
    }
    Patch::SeparateParts(works);
    if (update)
    {
        works.push_back(Patch::IndexWork("ab", 300));
    }
    std::map<std::string, Vfs::SIdentity> parts;
    for (const Patch::SWork& work : works)
    {
        const Vfs::SIdentity content = work.container >= 0 ? used.containers[work.container].identity
                                       : work.complete     ? Content(0xFF, 0xFF)
                                                           : work.hash;
        Require(parts.emplace(work.part, content).second); // every work has its own part file
    }

    // The journal, through its text and back.
    const auto records = Patch::ComposeJournal(works, update, installed, used);
    const auto parsed = Patch::ParseJournal(Patch::JournalText(records));
    Require(parsed && parsed->size() == records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
    {
        Require((*parsed)[i].kind == records[i].kind && (*parsed)[i].destination == records[i].destination &&
                (*parsed)[i].source == records[i].source);
    }

    if (std::getenv("QM_PLAN_DUMP") != nullptr)
    {
        for (const auto& [key, node] : folder)
        {
            std::fprintf(stderr, "%s %s\n", node.folder ? "folder" : "file  ", key.c_str());
        }
        for (const Vfs::SFile& file : installed.files)
        {
            std::fprintf(stderr, "installed %s %u\n", file.path.c_str(), file.flags);
        }
        for (const Vfs::SFile& file : used.files)
        {
            std::fprintf(stderr, "used %s %u\n", file.path.c_str(), file.flags);
        }
        std::fprintf(stderr, "%s", Patch::JournalText(records).c_str());
    }
    // Carried out, then carried out again (as after a crash): the same folder.
    Require(Replay(folder, parts, *parsed));
    const SFolder once = folder;
    auto noParts = std::map<std::string, Vfs::SIdentity>{};
    Require(Replay(folder, noParts, *parsed));
    Require(std::equal(folder.begin(), folder.end(), once.begin(), once.end(), [](const auto& a, const auto& b) {
        return a.first == b.first && a.second.folder == b.second.folder && a.second.content == b.second.content;
    }));

    // Every file of the release holds its own bytes; the launcher's own file is never
    // touched; a folder the player may have filled is never removed.
    for (const Vfs::SContainer& c : used.containers)
    {
        Require(holds(Patch::ContainerPath(c), c.identity));
    }
    std::set<std::string> kept;
    for (const Vfs::SFile& file : used.files)
    {
        kept.insert(Vfs::WindowsPathKey(file.path));
        if ((file.flags & Vfs::kLauncherFlag) == 0)
        {
            Require(holds(file.path, file.hash));
        }
    }
    for (const Vfs::SFile& file : installed.files)
    {
        const std::string key = Vfs::WindowsPathKey(file.path);
        if ((file.flags & Vfs::kLauncherFlag) != 0)
        {
            if (file.path == "Quillmere.exe") // the running launcher, the only one placed
            {
                const auto was = before.find(key);
                const auto now = folder.find(key);
                Require(was == before.end() || (now != folder.end() && now->second.content == was->second.content));
            }
        }
        else if (update && !kept.contains(key))
        {
            const auto now = folder.find(key);
            Require(now == folder.end() || now->second.folder);
        }
    }

    // The state: ratchets only grow, its text reads back the same, and it names only paths
    // of the release.
    std::set<std::string> trusted;
    std::set<std::string> verified;
    for (const Vfs::SFile& file : used.files)
    {
        ((in.Byte() & 1) != 0 ? trusted : verified).insert(file.path);
    }
    Patch::SPatchState old;
    old.release = in.Byte();
    old.generation = in.Byte();
    for (const std::string& path : trusted)
    {
        old.files[path] = {in.Byte(), in.Byte()};
    }
    const auto state = Patch::RebuildState(old, old.release, old.generation, used, trusted, verified, works,
        [&](std::string_view path) -> std::optional<Patch::SStamp> {
            const auto node = folder.find(Vfs::WindowsPathKey(path));
            if (node == folder.end() || node->second.folder)
            {
                return std::nullopt;
            }
            return Patch::SStamp{node->second.content[0], node->second.content[1]};
        });
    Require(state.release >= old.release && state.release >= used.ReleaseNumber());
    Require(state.generation >= old.generation && state.generation >= used.keyGeneration);
    const auto reread = Patch::ParsePatchState(Patch::PatchStateText(state));
    Require(reread.release == state.release && reread.generation == state.generation && reread.files == state.files);
    for (const auto& [path, stamp] : state.files)
    {
        Require(path != Patch::kInstalledIndex);
    }

    // The space check never wraps around.
    std::vector<std::optional<std::uint64_t>> partSizes(works.size());
    for (Patch::SWork& work : works)
    {
        work.size = static_cast<std::uint64_t>(in.Byte()) << 56;
    }
    std::uint64_t sum = Patch::kSpaceReserve;
    bool wrapped = false;
    for (const Patch::SWork& work : works)
    {
        wrapped = wrapped || work.size > UINT64_MAX - sum;
        sum = wrapped ? UINT64_MAX : sum + work.size;
    }
    Require(Patch::NeededSpace(works, partSizes) == sum);
    return 0;
}
