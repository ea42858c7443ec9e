// The journal and the patch state on real files; each test runs in its own temporary
// folder, made the current directory as the launcher's folder is.
#include "patch/Journal.h"
#include "base/File.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "base/tests/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>

using namespace Patch;
namespace fs = std::filesystem;

namespace
{
// The failure's text; empty on success.
std::string ErrorOf(const std::expected<void, std::string>& result)
{
    return result ? std::string() : result.error();
}

class JournalFiles : public testing::Test
{
protected:
    static void Put(std::string_view path, std::string_view content)
    {
        File::CreateParentFolders(path);
        ASSERT_TRUE(File::WriteWhole(path, content));
    }
    static std::string Get(std::string_view path) { return File::ReadWhole(path).value_or("(missing)"); }

    TempFolder m_root{L"qm-journal"};
    CurrentDirectory m_inside{m_root.path()};
};
}

TEST_F(JournalFiles, AnInterruptedReplayFinishesFromTheTop)
{
    // The first move was carried out before the crash: its source is gone.
    Put("Client/pack/a.quillmerepack", "new a");
    Put("Client/pack/incoming/b.part", "new b");
    Put("Client/pack/b.quillmerepack", "old b");
    Put("Client/pack/incoming/c.part", "new c");
    Put("Client/pack/old.quillmerepack", "old");
    Put(kJournalPath, "quillmere patch journal 1\n"
                      "move\tClient/pack/incoming/a.part\tClient/pack/a.quillmerepack\n"
                      "move\tClient/pack/incoming/b.part\tClient/pack/b.quillmerepack\n"
                      "copy\tsomething\telse\n"
                      "move\tClient/pack/incoming/c.part\tClient/new/deep/c.dat\n"
                      "delete\tClient/pack/old.quillmerepack\n"
                      "delete\tClient/pack/never-there.quillmerepack\n"
                      "delete\tClient/gone-folder/x.dat\n");
    const auto replayed = ReplayAtStartUp();
    ASSERT_TRUE(replayed) << replayed.error();
    EXPECT_EQ(Get("Client/pack/a.quillmerepack"), "new a");
    EXPECT_EQ(Get("Client/pack/b.quillmerepack"), "new b");
    EXPECT_EQ(Get("Client/new/deep/c.dat"), "new c");
    EXPECT_FALSE(File::Exists("Client/pack/old.quillmerepack"));
    EXPECT_FALSE(File::Exists(kJournalPath));

    // Replaying a second time changes nothing.
    Put(kJournalPath, "quillmere patch journal 1\nmove\tClient/pack/incoming/b.part\tClient/pack/b.quillmerepack\n");
    const auto again = Replay();
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ(Get("Client/pack/b.quillmerepack"), "new b");
}

TEST_F(JournalFiles, ForeignEmptyAndOversizedJournals)
{
    Put(kJournalPath, "quillmere patch journal 2\ndelete\tkeep.dat\n");
    Put("keep.dat", "x");
    EXPECT_EQ(ErrorOf(ReplayAtStartUp()), "patch.journal is not a journal this launcher reads");
    EXPECT_TRUE(File::Exists(kJournalPath));
    EXPECT_TRUE(File::Exists("keep.dat"));

    Put(kJournalPath, "");
    EXPECT_EQ(ErrorOf(Replay()), "patch.journal is not a journal this launcher reads");

    // One byte above 1 MiB: left alone and reported as success.
    std::string big = "quillmere patch journal 1\ndelete\tkeep.dat\n";
    big.resize(kLargestJournalOrState + 1, '\n');
    Put(kJournalPath, big);
    EXPECT_TRUE(Replay());
    EXPECT_TRUE(File::Exists(kJournalPath));
    EXPECT_TRUE(File::Exists("keep.dat"));
}

TEST_F(JournalFiles, AMoveOntoItselfSucceedsAndAStaleTemporaryIsRemoved)
{
    Put("same.dat", "same");
    Put(kJournalPath, "quillmere patch journal 1\nmove\tsame.dat\tsame.dat\ndelete\tother.dat\n");
    const auto replayed = Replay();
    EXPECT_TRUE(replayed) << replayed.error();
    EXPECT_EQ(Get("same.dat"), "same");

    Put("patch.journal.tmp", "quillmere patch journal 1\ndelete\tsame.dat\n");
    EXPECT_TRUE(ReplayAtStartUp());
    EXPECT_FALSE(File::Exists("patch.journal.tmp"));
    EXPECT_TRUE(File::Exists("same.dat")); // nothing of the unfinished journal was carried out
}

TEST_F(JournalFiles, AFileTakesThePlaceOfAFolderLeftEmpty)
{
    // A release turns the folder "d" into a file: its files were deleted first, its empty
    // folders give way to the move.
    ASSERT_TRUE(CreateDirectoryW(L"d", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"d\\e", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"d\\e\\f", nullptr));
    Put("Client/pack/incoming/d.part", "now a file");
    Put(kJournalPath, "quillmere patch journal 1\nmove\tClient/pack/incoming/d.part\td\n");
    auto replayed = Replay();
    ASSERT_TRUE(replayed) << replayed.error();
    EXPECT_EQ(Get("d"), "now a file");

    // Replayed again after a crash, the deletion of a file that is now a folder is done.
    Put("x/y", "now in a folder");
    Put(kJournalPath, "quillmere patch journal 1\ndelete\tx\nmove\tClient/pack/incoming/gone.part\tx/y\n");
    replayed = Replay();
    ASSERT_TRUE(replayed) << replayed.error();
    EXPECT_EQ(Get("x/y"), "now in a folder");

    // A folder that still holds a file (one the player put there) is kept, and the replay stops.
    Put("k/e/mine.txt", "the player's");
    Put("Client/pack/incoming/k.part", "now a file");
    Put(kJournalPath, "quillmere patch journal 1\nmove\tClient/pack/incoming/k.part\tk\n");
    EXPECT_EQ(ErrorOf(Replay()), "k could not take its new file");
    EXPECT_EQ(Get("k/e/mine.txt"), "the player's");
}

TEST_F(JournalFiles, AHeldDestinationIsRetriedThenReported)
{
    Put("incoming.part", "new");
    Put("held.dat", "old");
    Put(kJournalPath, "quillmere patch journal 1\nmove\tincoming.part\theld.dat\n");
    UniqueHandle holder(CreateFileW(L"held.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    const auto started = std::chrono::steady_clock::now();
    const auto refused = Replay();
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(ErrorOf(refused), "held.dat could not take its new file");
    EXPECT_GE(waited, std::chrono::seconds(15)); // the retry rule ran its course
    EXPECT_TRUE(File::Exists(kJournalPath));

    // Once the holder lets go, the next replay goes through.
    holder.reset();
    const auto replayed = Replay();
    EXPECT_TRUE(replayed) << replayed.error();
    EXPECT_EQ(Get("held.dat"), "new");
}

TEST_F(JournalFiles, PatchStateAndStamps)
{
    const std::string statePath = "state/deeper/patch.state";
    EXPECT_EQ(ReadPatchState(statePath).release, 0u); // missing: the empty state

    Put("game.dat", "0123456789");
    const auto stamp = StampOf("game.dat");
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->size, 10u);
    EXPECT_FALSE(StampOf("state")); // a folder has no stamp

    SPatchState state;
    state.release = 42;
    state.generation = 3;
    state.files["game.dat"] = *stamp;
    ASSERT_TRUE(WritePatchState(statePath, state));
    const SPatchState back = ReadPatchState(statePath);
    EXPECT_EQ(back.release, 42u);
    EXPECT_EQ(back.generation, 3u);
    EXPECT_EQ(back.files, state.files);

    EXPECT_TRUE(IsTrustedByStamp(back, "game.dat", 10, false));
    EXPECT_FALSE(IsTrustedByStamp(back, "game.dat", 10, true)); // a repair always reads
    EXPECT_FALSE(IsTrustedByStamp(back, "game.dat", 11, false));
    EXPECT_FALSE(IsTrustedByStamp(back, "other.dat", 10, false));

    // A rewrite changes the last-write time: the old stamp no longer vouches for it.
    FILETIME later{};
    const ULONGLONG moved = stamp->time + 10'000'000;
    later.dwLowDateTime = static_cast<DWORD>(moved);
    later.dwHighDateTime = static_cast<DWORD>(moved >> 32);
    UniqueHandle file(CreateFileW(L"game.dat", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &later));
    file.reset();
    EXPECT_FALSE(IsTrustedByStamp(back, "game.dat", 10, false));

    // A state file above 1 MiB is not read.
    std::string big = PatchStateText(state);
    big.resize(kLargestJournalOrState + 1, '\n');
    Put(statePath, big);
    EXPECT_EQ(ReadPatchState(statePath).release, 0u);
}
