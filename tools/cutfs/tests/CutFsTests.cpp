// qmcutfs under a small program that writes, flushes and renames: a cut after each step lays
// down only states that the power-cut model allows, and over many cuts every one of them.
// Needs /dev/fuse and the right to mount (root); skipped without.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

namespace
{
namespace fs = std::filesystem;

// The tree below a folder as one line: "path=bytes;" per file, "path/;" per folder.
std::string Tree(const fs::path& root)
{
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root))
    {
        const std::string path = fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory())
        {
            entries.insert(path + "/");
            continue;
        }
        std::ostringstream bytes;
        bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        entries.insert(path + "=" + bytes.str());
    }
    std::string tree;
    for (const std::string& entry : entries)
    {
        tree += entry + ";";
    }
    return tree;
}

bool Stat(const fs::path& path)
{
    struct stat status{};
    return stat(path.c_str(), &status) == 0;
}

void Put(const fs::path& path, const std::string& bytes, bool flush)
{
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    if (flush)
    {
        ASSERT_EQ(fsync(fd), 0);
    }
    close(fd);
}

void WriteAt(const fs::path& path, off_t offset, const std::string& bytes, bool flush)
{
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    if (flush)
    {
        ASSERT_EQ(fsync(fd), 0);
    }
    close(fd);
}

struct SStep
{
    const char* what;
    std::function<void(const fs::path&)> run;
    std::set<std::string> allowed; // the states a cut right after it may leave
};

const std::string kZeros5(5, '\0');
const std::string kZeros6(6, '\0');

std::vector<SStep> Steps()
{
    return {
        {"nothing", [](const fs::path&) {}, {"a=old-a;d/;"}},
        {"a new file written", [](const fs::path& m) { Put(m / "t", "hello", false); },
            {"a=old-a;d/;", "a=old-a;d/;t=hello;", "a=old-a;d/;t=" + kZeros5 + ";"}},
        {"and flushed", [](const fs::path& m) { WriteAt(m / "t", 0, "", true); },
            {"a=old-a;d/;t=hello;"}},
        {"renamed over a", [](const fs::path& m) { fs::rename(m / "t", m / "a"); },
            {"a=old-a;d/;t=hello;", "a=hello;d/;"}},
        {"its folder flushed",
            [](const fs::path& m) {
                const int fd = open(m.c_str(), O_RDONLY | O_DIRECTORY);
                ASSERT_EQ(fsync(fd), 0);
                close(fd);
            },
            {"a=hello;d/;"}},
        {"a overwritten at 0", [](const fs::path& m) { WriteAt(m / "a", 0, "HE", false); },
            {"a=hello;d/;", "a=HEllo;d/;"}},
        {"a grown", [](const fs::path& m) { WriteAt(m / "a", 5, " world", false); },
            {"a=hello world;d/;", "a=HEllo world;d/;", "a=hello" + kZeros6 + ";d/;", "a=HEllo" + kZeros6 + ";d/;"}},
        {"a flushed", [](const fs::path& m) { WriteAt(m / "a", 0, "", true); }, {"a=HEllo world;d/;"}},
        {"a moved into a new folder",
            [](const fs::path& m) {
                fs::create_directory(m / "e");
                fs::rename(m / "a", m / "e/a");
            },
            {"a=HEllo world;d/;", "a=HEllo world;d/;e/;", "d/;e/;e/a=HEllo world;"}},
        {"a cut short and d removed",
            [](const fs::path& m) {
                fs::resize_file(m / "e/a", 2);
                fs::remove(m / "d");
            },
            {"a=HEllo world;d/;", "a=HEllo world;d/;e/;", "d/;e/;e/a=HEllo world;", "d/;e/;e/a=HE;", "e/;e/a=HE;"}},
    };
}

class CutFsModel : public testing::Test
{
protected:
    void SetUp() override
    {
        const char* tool = std::getenv("QM_CUTFS");
        if (tool == nullptr || geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)
        {
            GTEST_SKIP() << "no qmcutfs, no /dev/fuse or no right to mount";
        }
        m_root = fs::temp_directory_path() / ("qm-cutfs-" + std::to_string(getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "backing");
        fs::create_directories(m_root / "mount");
        m_child = fork();
        if (m_child == 0)
        {
            const std::string backing = (m_root / "backing").string();
            const std::string mount = (m_root / "mount").string();
            execl(tool, tool, backing.c_str(), mount.c_str(), "--seed", "7", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !Stat(Mount() / ".qmcut-sync"); ++i)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ASSERT_TRUE(Stat(Mount() / ".qmcut-sync")) << "qmcutfs did not mount";
    }
    void TearDown() override
    {
        if (m_child > 0)
        {
            const std::string command = "fusermount3 -u " + Mount().string();
            (void)std::system(command.c_str());
            waitpid(m_child, nullptr, 0);
            fs::remove_all(m_root);
        }
    }
    fs::path Mount() const { return m_root / "mount"; }

    fs::path m_root;
    pid_t m_child = -1;
};
}

TEST_F(CutFsModel, ACutAfterEachStepLeavesExactlyTheStatesTheModelAllows)
{
    const std::vector<SStep> steps = Steps();
    for (std::size_t cutAfter = 0; cutAfter < steps.size(); ++cutAfter)
    {
        std::set<std::string> seen;
        for (int cut = 0; cut < 40 && seen.size() < steps[cutAfter].allowed.size(); ++cut)
        {
            for (const auto& entry : fs::directory_iterator(Mount()))
            {
                fs::remove_all(entry.path());
            }
            Put(Mount() / "a", "old-a", false);
            fs::create_directory(Mount() / "d");
            ASSERT_TRUE(Stat(Mount() / ".qmcut-sync"));
            for (std::size_t s = 0; s <= cutAfter; ++s)
            {
                steps[s].run(Mount());
            }
            EXPECT_FALSE(Stat(Mount() / ".qmcut-cut"));
            EXPECT_FALSE(Stat(Mount() / "a")) << "a cut file system still answers";
            ASSERT_TRUE(Stat(Mount() / ".qmcut-restore"));
            const std::string tree = Tree(Mount());
            EXPECT_TRUE(steps[cutAfter].allowed.contains(tree)) << "after " << steps[cutAfter].what << ": " << tree;
            EXPECT_EQ(tree, Tree(m_root / "backing"));
            seen.insert(tree);
        }
        EXPECT_EQ(seen, steps[cutAfter].allowed) << "after " << steps[cutAfter].what;
    }
}
