// Patch runs end to end under Wine: installing, updating with move runs, pre-loading,
// repairing, stopping and resuming, against the loopback nginx CDN and the fault CDN, over
// releases made by qmrelease (make-releases). Each test works in a game folder of its own.
#include "patch/Driver.h"
#include "patch/Journal.h"
#include "patch/SelfUpdate.h"
#include "patch/tests/Releases.h"
#include "base/File.h"
#include "base/Handle.h"
#include "tools/qmrelease/Writer.h"
#include "tools/testservers/TestServers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <sstream>

using namespace Patch;
using namespace PatchTests;

namespace
{
constexpr std::uint64_t MiB = 1'048'576;

// Why the patcher refused the request; nothing when it started a run.
std::optional<EStartRefusal> Refusal(CPatcher& patcher, SPatchRequest request)
{
    const auto started = patcher.Start(std::move(request), {});
    return started ? std::nullopt : std::optional(started.error());
}

class PatchRun : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Release("r2").id.empty()) << "no releases in " << ReleasesFolder().string();
        ASSERT_FALSE(TestServers::CdnBaseUrl().empty());
        static int counter = 0;
        wchar_t temp[MAX_PATH]{};
        GetTempPathW(MAX_PATH, temp);
        m_root = fs::path(temp) /
                 ("qm-patchrun-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "game");
        fs::create_directories(m_root / "state");
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        SetCurrentDirectoryW((m_root / "game").wstring().c_str());
        MakePatcher({});
    }
    void TearDown() override
    {
        m_patcher.reset();
        SetCurrentDirectoryW(m_previous);
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    void MakePatcher(FreeSpaceQuery freeSpace)
    {
        m_patcher.reset();
        m_patcher = std::make_unique<CPatcher>(SPatcherParams{(m_root / "game" / "Quillmere.exe").string(),
            StatePath(), std::move(freeSpace)});
    }

    fs::path Game() const { return m_root / "game"; }
    std::string StatePath() const { return (m_root / "state" / "patch.state").string(); }
    static std::string Nginx() { return TestServers::CdnBaseUrl() + "/patch/cdn"; }
    static std::string Faulty(const std::string& fault)
    {
        const std::string port = ReadText(TestServers::StateFolder("patchfaults") + "/port");
        // A token of its own: the server counts the answers to each request afresh.
        static int session = 0;
        return "https://localhost:" + port.substr(0, port.find('\n')) + "/" + fault + "-" +
               std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount64()) + "x" +
               std::to_string(++session);
    }

    void Install(const SRelease& release)
    {
        WriteText(Game() / "Client/pack/release.quillmereindex", ReadText(IndexFile(release)));
    }

    SPatchReport Drive(EPatchMode mode, const std::string& cdn, const SRelease& release = {},
        bool selfUpdate = false, const std::function<void(const SPatchReport&)>& also = {})
    {
        m_reports.clear();
        const auto driven = DriveRun(*m_patcher, {mode, cdn, release.id, release.number, selfUpdate},
            [&](const SPatchReport& r) {
                m_reports.push_back(r);
                if (also)
                {
                    also(r);
                }
            });
        EXPECT_TRUE(driven.started);
        return driven.last.value_or(SPatchReport{EPatchMode{255}, EPatchPhase{255}});
    }

    void InstallComplete(const SRelease& release)
    {
        Install(release);
        const SPatchReport last = Drive(EPatchMode::Complete, Nginx());
        ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
        ASSERT_EQ(Differences(Game(), release), std::vector<std::string>{});
    }

    std::string StateText() const { return ReadText(m_root / "state" / "patch.state"); }

    fs::path m_root;
    wchar_t m_previous[MAX_PATH]{};
    std::unique_ptr<CPatcher> m_patcher;
    std::vector<SPatchReport> m_reports;
};

// The run stopped with exactly this message and left the release and the state as they were.
#define EXPECT_REFUSED_UNTOUCHED(report, text, release, state)                                      \
    do                                                                                              \
    {                                                                                               \
        EXPECT_EQ((report).phase, EPatchPhase::Stopped);                                                               \
        EXPECT_EQ((report).message, (text));                                                        \
        EXPECT_EQ(Differences(Game(), (release)), std::vector<std::string>{});                      \
        EXPECT_EQ(StateText(), (state));                                                            \
    } while (false)
}

TEST_F(PatchRun, FirstInstallationThenATrustedStartThatReadsNothing)
{
    const SRelease r1 = Release("r1");
    Install(r1);
    const SPatchReport last = Drive(EPatchMode::Complete, Nginx());
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_TRUE(last.installing);
    EXPECT_TRUE(last.repaired);
    EXPECT_EQ(last.done, ContentBytes(r1));
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(Game() / "Client/pack/incoming")) << "a complete run keeps the incoming folder";
    EXPECT_FALSE(fs::exists(Game() / "patch.journal"));
    // Transfer reports carry installing, then the finished one.
    ASSERT_GE(m_reports.size(), 3u);
    EXPECT_EQ(m_reports.front().phase, EPatchPhase::Checking);
    EXPECT_TRUE(std::any_of(m_reports.begin(), m_reports.end(), [](const SPatchReport& r) {
        return r.phase == EPatchPhase::Transferring && r.installing && r.total == r.done;
    }));

    const SPatchState state = ReadPatchState(StatePath());
    EXPECT_EQ(state.release, 1u);
    EXPECT_EQ(state.files.size(), ReleaseFiles(r1).size() - 1); // all but the index

    // The next start trusts every stamp: nothing to check, nothing to fetch.
    const SPatchReport again = Drive(EPatchMode::Complete, Nginx());
    ASSERT_EQ(again.phase, EPatchPhase::Done);
    EXPECT_FALSE(again.repaired);
    EXPECT_FALSE(again.installing);
    EXPECT_EQ(again.done, 0u);
    ASSERT_FALSE(m_reports.empty());
    EXPECT_EQ(m_reports.front().total, 0u);
}

TEST_F(PatchRun, UpdateWithMoveRunsFetchesWhatQmreleasePredicted)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    // "fetch total" less "fetch index": the run counts the index, already in memory, as no transfer.
    const std::string delta = ReadText(ReleasesFolder() / "r2-delta");
    const auto number = [&](const std::string& key) {
        const auto at = delta.find(key + " ");
        return at == std::string::npos ? ~0ull : std::stoull(delta.substr(at + key.size() + 1));
    };
    ASSERT_GT(number("copied"), MiB) << "the release has move runs";

    // qmrelease counts the launcher's own file among the changed loose files; an update
    // without self-update leaves it out.
    const auto launcherOf = [](const SRelease& release) {
        for (const Vfs::SFile& file : IndexOf(release).files)
        {
            if ((file.flags & Vfs::kLauncherFlag) != 0)
            {
                return file;
            }
        }
        return Vfs::SFile{};
    };
    const std::uint64_t launcherBytes = launcherOf(r1).hash != launcherOf(r2).hash ? launcherOf(r2).size : 0;

    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), r2);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(last.done, number("fetch total") - number("fetch index") - launcherBytes);
    EXPECT_EQ(Differences(Game(), r2, {}, false), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(Game() / "Client/pack/incoming")) << "an update deletes the incoming folder";
    EXPECT_FALSE(fs::exists(Game() / "Client/data/old.txt"));
    EXPECT_EQ(ReadPatchState(StatePath()).release, 2u);
}

TEST_F(PatchRun, ScatteredEditsFetchTheirGroupsAndAMissingOrWrongTreeFetchesWholePieces)
{
    // s2 is s1 with 100 bytes changed in 8 places, 1,008 bytes inserted and a whole piece
    // replaced. The CDN trees: with the tree files, without them, and with tree files whose
    // values lead to no piece hash.
    const SRelease s1 = Release("s1");
    const SRelease s2 = Release("s2");
    const auto predicted = [](const std::string& cdn) {
        const std::string delta = ReadText(ReleasesFolder() / ("s2-delta-" + cdn));
        const auto at = delta.find("fetch containers ");
        return at == std::string::npos ? ~0ull : std::stoull(delta.substr(at + 17));
    };
    EXPECT_LT(predicted("cdn"), 2 * MiB);
    EXPECT_EQ(predicted("cdn-notree"), 7 * MiB);
    for (const std::string cdn : {"cdn", "cdn-notree", "cdn-badtree"})
    {
        fs::remove_all(Game() / "Client");
        fs::remove(StatePath());
        InstallComplete(s1);
        const SPatchReport last = Drive(EPatchMode::Update, TestServers::CdnBaseUrl() + "/patch/" + cdn, s2);
        ASSERT_EQ(last.phase, EPatchPhase::Done) << cdn << ": " << last.message;
        EXPECT_EQ(last.done, predicted(cdn)) << cdn;
        EXPECT_EQ(Differences(Game(), s2, {}, false), std::vector<std::string>{}) << cdn;
    }
}

TEST_F(PatchRun, PreloadThenTheUpdateOfTheSameReleaseDownloadsNothing)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();
    WriteText(Game() / "Client/pack/incoming/stale.part", "left by another release");

    const SPatchReport preload = Drive(EPatchMode::Preload, Nginx(), r2);
    ASSERT_EQ(preload.phase, EPatchPhase::Done) << preload.message;
    EXPECT_GT(preload.done, 0u);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{}) << "a pre-load applies nothing";
    EXPECT_EQ(StateText(), state);
    EXPECT_FALSE(fs::exists(Game() / "Client/pack/incoming/stale.part"));
    const Vfs::SIndex index = IndexOf(r2);
    const auto launcher = std::find_if(index.files.begin(), index.files.end(),
        [](const Vfs::SFile& f) { return (f.flags & Vfs::kLauncherFlag) != 0; });
    ASSERT_NE(launcher, index.files.end());
    EXPECT_TRUE(fs::exists(Game() / FilePartPath(launcher->hash))) << "a pre-load fetches the launcher too";

    const SPatchReport update = Drive(EPatchMode::Update, Nginx(), r2);
    ASSERT_EQ(update.phase, EPatchPhase::Done) << update.message;
    EXPECT_EQ(update.done, 0u);
    EXPECT_TRUE(std::none_of(m_reports.begin(), m_reports.end(),
        [](const SPatchReport& r) { return r.phase == EPatchPhase::Transferring; }));
    EXPECT_EQ(Differences(Game(), r2, {}, false), std::vector<std::string>{});
}

TEST_F(PatchRun, RepairFetchesOnlyTheDamagedPiece)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const Vfs::SIndex index = IndexOf(r1);
    const fs::path container = Game() / "Client/pack" / Vfs::ContainerName(index.containers[0]);
    std::string bytes = ReadText(container);
    bytes[2 * MiB + 12345] ^= 0x40;
    WriteText(container, bytes);

    // A complete run trusts the stamp it no longer matches, so it reads the file too; the
    // repair reads everything.
    const SPatchReport last = Drive(EPatchMode::Repair, Nginx());
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_TRUE(last.repaired);
    EXPECT_EQ(last.done, MiB);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
    // Phase 0 read every byte of the release.
    const auto check = std::find_if(m_reports.rbegin(), m_reports.rend(),
        [](const SPatchReport& r) { return r.phase == EPatchPhase::Checking; });
    ASSERT_NE(check, m_reports.rend());
    EXPECT_EQ(check->total, ContentBytes(r1));
}

TEST_F(PatchRun, RepairWithNothingDamagedRefreshesEveryStamp)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    // A file rewritten with its own bytes gets a new last-write time.
    const fs::path readme = Game() / "Client/data/readme.txt";
    const std::string text = ReadText(readme);
    Sleep(20);
    WriteText(readme, text);
    ASSERT_NE(ReadPatchState(StatePath()).files["Client/data/readme.txt"], StampOf("Client/data/readme.txt"));

    const SPatchReport last = Drive(EPatchMode::Repair, Nginx());
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_FALSE(last.repaired);
    EXPECT_EQ(last.done, 0u);
    EXPECT_FALSE(fs::exists(Game() / "patch.journal"));
    const SPatchState state = ReadPatchState(StatePath());
    EXPECT_EQ(state.files.size(), ReleaseFiles(r1).size() - 1);
    for (const auto& [path, stamp] : state.files)
    {
        EXPECT_EQ(StampOf(path), stamp) << path;
    }
}

TEST_F(PatchRun, AStopDuringTransferLeavesThePartsAndTheNextRunFetchesOnlyTheRest)
{
    const SRelease r1 = Release("r1");
    Install(r1);
    m_patcher->ThrottleTransfers(true); // 2 MiB/s: the installation takes a few seconds
    std::uint64_t doneAtStop = 0;
    std::optional<EStartRefusal> secondRun;
    const SPatchReport stopped = Drive(EPatchMode::Complete, Nginx(), {}, false, [&](const SPatchReport& r) {
        if (r.phase == EPatchPhase::Transferring && r.done > 0 && doneAtStop == 0)
        {
            doneAtStop = r.done;
            secondRun = Refusal(*m_patcher, {EPatchMode::Repair, Nginx()});
            m_patcher->Stop();
        }
    });
    EXPECT_EQ(stopped.phase, EPatchPhase::Transferring) << "a stop posts nothing";
    ASSERT_GT(doneAtStop, 0u);
    EXPECT_EQ(secondRun, EStartRefusal::Running);
    EXPECT_FALSE(fs::is_empty(Game() / "Client/pack/incoming"));

    m_patcher->ThrottleTransfers(false);
    const SPatchReport resumed = Drive(EPatchMode::Complete, Nginx());
    ASSERT_EQ(resumed.phase, EPatchPhase::Done) << resumed.message;
    EXPECT_GT(resumed.done, 0u);
    EXPECT_LE(resumed.done, ContentBytes(r1) - doneAtStop);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
    EXPECT_EQ(Refusal(*m_patcher, {EPatchMode::Complete, ""}), EStartRefusal::NoCdn);
}

TEST_F(PatchRun, AStopWhileTheCdnStallsEndsTheRunAtOnce)
{
    // Every answer breaks off halfway and the CDN then says nothing: the stop must not wait for
    // WinHTTP's 30 s receive timeout.
    Install(Release("r1"));
    double stopSeconds = -1;
    const SPatchReport stopped = Drive(EPatchMode::Complete, Faulty("stall"), {}, false, [&](const SPatchReport& r) {
        if (r.phase == EPatchPhase::Transferring && stopSeconds < 0)
        {
            Sleep(1'500); // the answers have stalled
            const auto start = std::chrono::steady_clock::now();
            m_patcher->Stop();
            stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
    });
    EXPECT_EQ(stopped.phase, EPatchPhase::Transferring) << "a stop posts nothing";
    EXPECT_GE(stopSeconds, 0.0);
    EXPECT_LT(stopSeconds, 5.0) << "the stop waited for the silent CDN";
}

TEST_F(PatchRun, RefusesAnIndexThatIsNotTheNamedRelease)
{
    const SRelease r1 = Release("r1");
    SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();
    r2.number = 3;
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), r2),
        "the CDN's index is not the release the service named", r1, state);
    SRelease other = Release("g3");
    other.id = Release("r2").id;
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), other),
        "the CDN's index is not the release the service named", r1, state);
}

TEST_F(PatchRun, RefusesAReleaseNumberRollback)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r2);
    const std::string state = StateText();
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), r1),
        "release 1 is older than release 2, which this launcher has taken", r2, state);
}

TEST_F(PatchRun, RefusesAKeyGenerationRollback)
{
    const SRelease g3 = Release("g3");
    const SRelease g2 = Release("g2");
    InstallComplete(g3);
    const std::string state = StateText();
    EXPECT_EQ(ReadPatchState(StatePath()).generation, 3u);
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), g2),
        "the new index is signed by the key of generation 2, which the root has replaced by generation 3", g3, state);
}

TEST_F(PatchRun, CorruptPiecesTwiceThenGoodAreWrittenThreeTimesStopTheRun)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();

    const SPatchReport refused = Drive(EPatchMode::Update, Faulty("corrupt3"), r2);
    EXPECT_EQ(refused.phase, EPatchPhase::Stopped);
    EXPECT_TRUE(refused.message.ends_with(": the CDN's bytes are not the release's")) << refused.message;
    EXPECT_TRUE(refused.message.starts_with("c/") || refused.message.starts_with("f/")) << refused.message;
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
    EXPECT_EQ(StateText(), state);

    const SPatchReport last = Drive(EPatchMode::Update, Faulty("corrupt2"), r2);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(Differences(Game(), r2, {}, false), std::vector<std::string>{});
}

TEST_F(PatchRun, ACorruptPieceInTheMiddleOfAJobIsFetchedAgainAndTheRestKept)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const Vfs::SIndex index = IndexOf(r1);
    const fs::path container = Game() / "Client/pack" / Vfs::ContainerName(index.containers[0]);
    std::string bytes = ReadText(container);
    for (const std::uint64_t piece : {1, 2, 3})
    {
        bytes[piece * MiB + 5] ^= 0x10; // one job of three pieces
    }
    WriteText(container, bytes);

    // Every answer carries a flipped byte in its middle piece: the other two are kept.
    SPatchReport last = Drive(EPatchMode::Repair, Faulty("corrupt3"), r1);
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_EQ(last.message, "c/" + Vfs::ToHex(index.containers[0].identity) + ".quillmerepack: the CDN's bytes are "
                                                                                "not the release's");
    last = Drive(EPatchMode::Repair, Faulty("ok"), r1);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(last.done, MiB);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});

    // Two bad answers, then a good one: the job is whole after its third attempt.
    WriteText(container, bytes);
    last = Drive(EPatchMode::Repair, Faulty("corrupt2"), r1);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(last.done, 3 * MiB);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
}

TEST_F(PatchRun, RefusesA200ToARangedRequestAndMoreBytesThanAsked)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const Vfs::SIndex index = IndexOf(r1);
    const fs::path container = Game() / "Client/pack" / Vfs::ContainerName(index.containers[0]);
    std::string bytes = ReadText(container);
    bytes[3 * MiB + 7] ^= 0x01;
    WriteText(container, bytes);
    const std::string state = StateText();
    const std::string url = "c/" + Vfs::ToHex(index.containers[0].identity) + ".quillmerepack";

    SPatchReport last = Drive(EPatchMode::Repair, Faulty("range200"), r1);
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_EQ(last.message, url + ": the CDN answered 200 with 1048576 bytes of 1048576");
    EXPECT_EQ(ReadText(container), bytes) << "the damaged file is left for the next run";
    EXPECT_EQ(StateText(), state);

    last = Drive(EPatchMode::Repair, Faulty("more"), r1);
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_EQ(last.message, url + ": stopped");
    EXPECT_EQ(ReadText(container), bytes);
    EXPECT_EQ(StateText(), state);

    last = Drive(EPatchMode::Repair, Faulty("ok"), r1);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(last.done, MiB);
    EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
}

TEST_F(PatchRun, AShortfallOfFreeSpaceIsReportedInBytesBeforeAnythingIsWritten)
{
    const SRelease r1 = Release("r1");
    Install(r1);
    std::uint64_t needed = 67'108'864 + ContentBytes(r1);
    MakePatcher([&](std::string_view) { return std::optional<std::uint64_t>(needed - 1); });
    const SPatchReport last = Drive(EPatchMode::Complete, Nginx());
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_EQ(last.shortfall, 1u);
    EXPECT_EQ(last.message, "");
    EXPECT_FALSE(fs::exists(Game() / "Client/pack/incoming"));

    MakePatcher([&](std::string_view) { return std::optional<std::uint64_t>(needed); });
    const SPatchReport enough = Drive(EPatchMode::Complete, Nginx());
    EXPECT_EQ(enough.phase, EPatchPhase::Done) << enough.message;
}

TEST_F(PatchRun, AnUnreadableInstalledIndexStopsTheRun)
{
    EXPECT_EQ(Drive(EPatchMode::Complete, Nginx()).message, "Client/pack/release.quillmereindex does not read");
    WriteText(Game() / "Client/pack/release.quillmereindex", std::string(200, 'x'));
    const SPatchReport last = Drive(EPatchMode::Repair, Nginx());
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_FALSE(last.message.empty());
    EXPECT_FALSE(m_patcher->Start({EPatchMode::Complete, ""}, {})) << "no CDN, no run";
}

namespace
{
// The launcher's replacement: a stand-in exe plays the new launcher (QM_STANDIN picks what it
// does); the watcher's results are collected as they come.
class HandOver : public PatchRun
{
protected:
    void SetUp() override
    {
        PatchRun::SetUp();
        m_exe = Game() / "Quillmere.exe";
        m_standIn = ReadText(fs::path("Z:" + std::string(std::getenv("QM_BUILD_DIR"))) / "patch/handover_standin.exe");
        ASSERT_GT(m_standIn.size(), 1000u);
    }
    void TearDown() override
    {
        m_patcher->Stop();
        if (const HANDLE pending = m_patcher->PendingLauncher())
        {
            WaitForSingleObject(pending, 10'000); // a stand-in that signalled ends by itself
        }
        m_patcher->ForgetHandOver();
        SetEnvironmentVariableW(L"QM_STANDIN", nullptr);
        PatchRun::TearDown();
    }

    static Vfs::SFile LauncherOf(const SRelease& release)
    {
        for (const Vfs::SFile& file : IndexOf(release).files)
        {
            if ((file.flags & Vfs::kLauncherFlag) != 0)
            {
                return file;
            }
        }
        return {};
    }
    static std::string Bytes(const Vfs::SFile& file) { return ReadText(Cdn() / "f" / Vfs::ToHex(file.hash)); }

    std::expected<void, std::string> HandOverTo(std::string_view downloaded)
    {
        m_result = -1;
        return m_patcher->HandOver(downloaded, [this](bool signalled, std::string error) {
            m_error = std::move(error);
            m_result = signalled ? 1 : 0;
        });
    }

    // The new launcher's process, once the hand-over's thread has started it; null after 10 s.
    HANDLE WaitForPendingLauncher()
    {
        for (int waited = 0; waited < 10'000 && m_patcher->PendingLauncher() == nullptr; waited += 20)
        {
            Sleep(20);
        }
        return m_patcher->PendingLauncher();
    }

    static std::uint64_t MsSince(std::chrono::steady_clock::time_point start)
    {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    }

    // The watcher's result (1 signalled, 0 not), and the milliseconds it took; -1 when nothing
    // came in 40 s.
    std::pair<int, std::uint64_t> WaitForWatcher()
    {
        const auto start = std::chrono::steady_clock::now();
        const auto elapsed = [&] {
            return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count());
        };
        while (elapsed() < 40'000)
        {
            if (const int result = m_result.load(); result >= 0)
            {
                return {result, elapsed()};
            }
            Sleep(20);
        }
        return {-1, elapsed()};
    }

    std::atomic<int> m_result{-1};
    std::string m_error; // written before m_result
    fs::path m_exe;
    std::string m_standIn;
};
}

TEST_F(HandOver, AnUpdateFetchesTheNewLauncherAndASignallingLauncherTakesOver)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    WriteText(m_exe, Bytes(LauncherOf(r1)));
    const std::string state = StateText();

    const SPatchReport ready = Drive(EPatchMode::Update, Nginx(), r2, true);
    ASSERT_EQ(ready.phase, EPatchPhase::LauncherReady) << ready.message;
    EXPECT_EQ(ready.launcher, FilePartPath(LauncherOf(r2).hash));
    EXPECT_EQ(ReadText(Game() / ready.launcher), m_standIn);
    EXPECT_EQ(Differences(Game(), r1, {"Quillmere.exe"}), std::vector<std::string>{}) << "nothing else is patched";
    EXPECT_EQ(StateText(), state);

    SetEnvironmentVariableW(L"QM_STANDIN", L"signal");
    const auto handedOver = HandOverTo(ready.launcher);
    ASSERT_TRUE(handedOver) << handedOver.error();
    EXPECT_EQ(Refusal(*m_patcher, {EPatchMode::Complete, Nginx()}), EStartRefusal::LauncherPending)
        << "no run while a launcher is pending";
    EXPECT_EQ(WaitForWatcher().first, 1);
    EXPECT_EQ(WaitForSingleObject(m_patcher->PendingLauncher(), 10'000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReadText(m_exe) == m_standIn) << "the new launcher took the name from its staged one";
    EXPECT_FALSE(fs::exists(Game() / "Quillmere.exe.new"));
    EXPECT_FALSE(fs::exists(Game() / "Quillmere.exe.old"));
}

TEST_F(HandOver, TheNextRunClearsStagedOldAndBadAndAnEqualLauncherLetsTheUpdateGoOn)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    WriteText(m_exe, m_standIn); // already r2's launcher
    for (const char* left : {"Quillmere.exe.new", "Quillmere.exe.old", "Quillmere.exe.bad"})
    {
        WriteText(Game() / left, left);
    }
    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), r2, true);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(Differences(Game(), r2, {"Quillmere.exe"}, false), std::vector<std::string>{});
    for (const char* left : {"Quillmere.exe.new", "Quillmere.exe.old", "Quillmere.exe.bad"})
    {
        EXPECT_FALSE(fs::exists(Game() / left)) << left;
    }
}

TEST_F(HandOver, AStopEndsTheRetriesOfARunsCleanUp)
{
    // The old launcher's file stays held while that launcher ends; the run deletes it under the
    // file retry rule, and a stop does not wait for that.
    const fs::path old = Game() / "Quillmere.exe.old";
    WriteText(old, "old");
    const UniqueHandle held(CreateFileW(old.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    ASSERT_TRUE(m_patcher->Start({EPatchMode::Complete, Nginx()}, {}));
    Sleep(300);
    const auto start = std::chrono::steady_clock::now();
    m_patcher->Stop();
    EXPECT_LT(MsSince(start), 2'000u) << "the stop waited for the retries";
    EXPECT_TRUE(fs::exists(old));
}

TEST_F(HandOver, ALauncherOver64MiBThatMatchesItsRecordLetsTheUpdateGoOn)
{
    const SRelease r1 = Release("r1");
    const SRelease big = Release("big");
    InstallComplete(r1);
    WriteText(m_exe, std::string(64 * MiB + 4096, '\0')); // the record's launcher
    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), big, true);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << "not replaced on every update: " << last.message;
    EXPECT_EQ(Differences(Game(), big, {"Quillmere.exe"}, false), std::vector<std::string>{});
}

TEST_F(HandOver, ALauncherThatExitsIsUndoneAtOnceAndASilentOneOnStop)
{
    for (const wchar_t* behaviour : {L"exit", L"silent"})
    {
        WriteText(m_exe, "the running launcher");
        WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
        SetEnvironmentVariableW(L"QM_STANDIN", behaviour);
        const auto handedOver = HandOverTo("Client/pack/incoming/new.part");
        ASSERT_TRUE(handedOver) << handedOver.error();
        if (std::wstring(behaviour) == L"silent")
        {
            Sleep(300);
            m_patcher->Stop(); // ends the watcher's wait early
        }
        const auto [signalled, ms] = WaitForWatcher();
        EXPECT_EQ(signalled, 0);
        EXPECT_LT(ms, 20'000u) << "not the 30 s limit";
        EXPECT_EQ(m_error, "the new launcher did not start");
        m_patcher->UndoHandOver(); // at once; a stop waits for the undo to end
        m_patcher->Stop();
        EXPECT_EQ(ReadText(m_exe), "the running launcher");
        EXPECT_EQ(ReadText(Game() / "Quillmere.exe.bad"), m_standIn);
        EXPECT_FALSE(fs::exists(Game() / "Quillmere.exe.new"));
        EXPECT_FALSE(fs::exists(Game() / "Quillmere.exe.old"));
        EXPECT_TRUE(m_patcher->Start({EPatchMode::Complete, Nginx()}, {})) << "the pending launcher is cleared";
        m_patcher->Stop();
    }
}

TEST_F(HandOver, AHeldStagedNameIsPassedOverOffTheCallersThreadAndAStopEndsTheRetries)
{
    WriteText(m_exe, "the running launcher");
    WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
    const auto hold = [&](const char* name) {
        WriteText(Game() / name, "left by another program");
        return UniqueHandle(CreateFileW((Game() / name).wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
            0, nullptr));
    };
    // The first name is retried for about 15.5 s on the hand-over's thread, then the second
    // one is taken.
    const UniqueHandle first = hold("Quillmere.exe.new");
    ASSERT_TRUE(first);
    SetEnvironmentVariableW(L"QM_STANDIN", L"signal");
    auto start = std::chrono::steady_clock::now();
    auto handedOver = HandOverTo("Client/pack/incoming/new.part");
    EXPECT_LT(MsSince(start), 2'000u) << "the caller waited for the move";
    ASSERT_TRUE(handedOver) << handedOver.error();
    EXPECT_EQ(WaitForWatcher().first, 1) << m_error;
    EXPECT_EQ(WaitForSingleObject(m_patcher->PendingLauncher(), 10'000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReadText(m_exe) == m_standIn) << "the launcher from the second name took the name";
    m_patcher->ForgetHandOver();

    // Both held: the hand-over fails, and a stop gives up on the retries at once.
    WriteText(m_exe, "the running launcher");
    WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
    const UniqueHandle second = hold("Quillmere.exe.new.new");
    ASSERT_TRUE(second);
    handedOver = HandOverTo("Client/pack/incoming/new.part");
    ASSERT_TRUE(handedOver) << handedOver.error();
    Sleep(300);
    start = std::chrono::steady_clock::now();
    m_patcher->Stop();
    EXPECT_LT(MsSince(start), 2'000u) << "the stop waited for the move";
    EXPECT_EQ(m_result.load(), 0);
    EXPECT_TRUE(m_error.starts_with("the new launcher could not take its place (Windows error ")) << m_error;
    EXPECT_EQ(ReadText(m_exe), "the running launcher");
    EXPECT_EQ(ReadText(Game() / "Client/pack/incoming/new.part"), m_standIn);
}

TEST_F(HandOver, AnUndoWithNothingPendingMovesNothingAndAnEarlierStopLeavesTheWatcherWaiting)
{
    WriteText(m_exe, "the running launcher");
    m_patcher->UndoHandOver();
    EXPECT_EQ(ReadText(m_exe), "the running launcher");
    EXPECT_FALSE(fs::exists(Game() / "Quillmere.exe.bad"));

    m_patcher->Stop(); // no run: nothing is left to stop the next watcher
    WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
    SetEnvironmentVariableW(L"QM_STANDIN", L"signal");
    const auto handedOver = HandOverTo("Client/pack/incoming/new.part");
    ASSERT_TRUE(handedOver) << handedOver.error();
    EXPECT_EQ(WaitForWatcher().first, 1);
}

TEST_F(HandOver, ASecondHandOverEndsTheFirstsWatcher)
{
    WriteText(m_exe, "the running launcher");
    WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
    SetEnvironmentVariableW(L"QM_STANDIN", L"silent");
    std::atomic<int> first{-1};
    ASSERT_TRUE(m_patcher->HandOver("Client/pack/incoming/new.part",
        [&](bool signalled, const std::string&) { first = signalled; }));
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), WaitForPendingLauncher(), GetCurrentProcess(), &copy, 0,
        FALSE, DUPLICATE_SAME_ACCESS));
    const UniqueHandle silent(copy);

    WriteText(Game() / "Client/pack/incoming/new.part", m_standIn);
    SetEnvironmentVariableW(L"QM_STANDIN", L"signal");
    const auto second = HandOverTo("Client/pack/incoming/new.part");
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(first.load(), 0) << "the first watcher has ended before the second began";
    EXPECT_NE(WaitForPendingLauncher(), nullptr);
    EXPECT_EQ(WaitForWatcher().first, 1);
    TerminateProcess(silent.get(), 1);
    WaitForSingleObject(silent.get(), 5'000);
}

namespace
{
// What a hostile CDN or index can try. Each attack must be refused (or defused) with nothing
// unverified reaching the game folder and the installed release intact.
class Attack : public PatchRun
{
protected:
    // A release made from `base` with `change` applied, signed by the development root and
    // put on the CDN under its identity, beside the releases it borrows its files from.
    static SRelease Variant(const SRelease& base, const std::function<void(QmRelease::SReleaseContent&)>& change)
    {
        const Vfs::SIndex index = IndexOf(base);
        QmRelease::SReleaseContent c;
        c.release = index.ReleaseNumber();
        c.word = index.releaseWord;
        c.name = index.releaseName;
        c.identityUrls = index.identityUrls;
        c.gameHost = index.gameHost;
        c.cdnUrl = index.cdnUrl;
        c.gameKey = index.gameKey;
        c.containers = index.containers;
        c.pieceHashes = index.pieceHashes;
        c.files = index.files;
        c.moves = index.moves;
        c.body = index.body;
        change(c);
        const QmRelease::Bytes bytes = QmRelease::WriteIndex(c, DevelopmentRoot());
        const auto read = Vfs::ReadIndex(bytes, Vfs::TrustRoot());
        EXPECT_TRUE(read) << read.error();
        if (!read)
            return base;
        SRelease variant{base.name + "-variant", read->IdentityHex(), read->ReleaseNumber()};
        WriteText(IndexFile(variant), std::string(bytes.begin(), bytes.end()));
        return variant;
    }

    static const QmRelease::SKeyPair& DevelopmentRoot()
    {
        static const QmRelease::SKeyPair root = [] {
            std::istringstream lines(ReadText(fs::path("Z:" + std::string(std::getenv("QM_SOURCE_DIR"))) /
                                              "vfs/tests/fixtures/dev-root.key"));
            std::string line, seed;
            while (std::getline(lines, line))
            {
                seed = !line.empty() && line[0] != '#' ? line : seed;
            }
            const auto bytes = QmRelease::FromHex(seed).value_or(QmRelease::Bytes(32, 0));
            return QmRelease::KeyFromSeed(std::span<const std::uint8_t, 32>(bytes.data(), 32));
        }();
        return root;
    }

    // The game folder but for the incoming folder.
    std::map<std::string, std::string> Folder() const
    {
        return Snapshot(Game(), false);
    }

    // A folder link as Wine makes one: a Unix symbolic link, which Windows programs see as a
    // reparse point (Wine makes neither junctions nor Windows symbolic links itself).
    static void MakeFolderLink(const fs::path& link, const fs::path& target)
    {
        std::wstring command = L"/bin/ln -s -- " + fs::relative(target, link.parent_path()).generic_wstring() + L" " +
                               link.filename().wstring();
        STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
            link.parent_path().wstring().c_str(), &startup, &process));
        WaitForSingleObject(process.hProcess, 10'000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_NE(GetFileAttributesW(link.wstring().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }

    static std::string Resized(std::string bytes, std::uint64_t size)
    {
        bytes.resize(static_cast<std::size_t>(size), '\0');
        return bytes;
    }
};
}

TEST_F(Attack, EndlessDataOnTheIndexOrOnARangeIsCutOff)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Faulty("endless"), r2), "the new index is past 64 MiB", r1, state);

    // A damaged loose file whose download never ends: refused, the damaged file left as it is.
    WriteText(Game() / "Client/data/readme.txt", "damaged");
    const auto before = Folder();
    const SPatchReport last = Drive(EPatchMode::Repair, Faulty("endless"), r1);
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_TRUE(last.message.starts_with("f/") && last.message.ends_with(": stopped")) << last.message;
    EXPECT_EQ(Folder(), before);
    EXPECT_EQ(StateText(), state);
}

TEST_F(Attack, ACdnThatDripsIsGivenUpAfterItsWindow)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Faulty("drip"), r2), "the CDN: it sends less than 64 KiB in 15 s", r1,
        StateText());
}

TEST_F(Attack, AnIndexForAnotherGameIsRefused)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const SRelease other = Variant(Release("r2"), [](auto& c) { c.gameHost = "other.example.com"; });
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), other),
        "the new index is for the game at other.example.com, not for this launcher's game at play.example.com", r1,
        StateText());
}

TEST_F(Attack, MixedOrSubstitutedContainersAreRefusedPieceByPiece)
{
    // The CDN serves r2's index and files, but for r2's new container the bytes of r1's
    // container: once with r1's header, once under r2's own (valid) header.
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();
    const Vfs::SIndex i1 = IndexOf(r1);
    const Vfs::SIndex i2 = IndexOf(r2);
    const fs::path mix = ReleasesFolder() / ("mix-" + std::to_string(GetCurrentProcessId()));
    for (bool validHeader : {false, true})
    {
        fs::remove_all(mix);
        WriteText(mix / "i" / (r2.id + ".quillmereindex"), ReadText(IndexFile(r2)));
        for (const Vfs::SFile& file : i2.files)
        {
            WriteText(mix / "f" / Vfs::ToHex(file.hash), ReadText(Cdn() / "f" / Vfs::ToHex(file.hash)));
        }
        const std::string old = ReadText(Cdn() / "c" / (Vfs::ToHex(i1.containers[0].identity) + ".quillmerepack"));
        for (const Vfs::SContainer& container : i2.containers)
        {
            const std::string name = Vfs::ToHex(container.identity) + ".quillmerepack";
            std::string bytes = ReadText(Cdn() / "c" / name);
            if (container.identity != i1.containers[0].identity && container.identity != i1.containers[1].identity)
            {
                bytes = validHeader ? bytes.substr(0, 64) + Resized(old.substr(64), container.size - 64)
                                    : Resized(old, container.size);
            }
            WriteText(mix / "c" / name, bytes);
        }
        const SPatchReport last = Drive(EPatchMode::Update, TestServers::CdnBaseUrl() + "/patch/" + mix.filename().string(), r2);
        EXPECT_EQ(last.phase, EPatchPhase::Stopped);
        EXPECT_TRUE(last.message.starts_with("c/") && last.message.ends_with(": the CDN's bytes are not the release's"))
            << last.message;
        EXPECT_EQ(Differences(Game(), r1), std::vector<std::string>{});
        EXPECT_EQ(StateText(), state);
    }
    fs::remove_all(mix);
}

TEST_F(Attack, AMoveRunReachingPastItsSourceIsFetchedInstead)
{
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const std::uint64_t oldSize = IndexOf(r1).containers[0].size;
    const SRelease reaching = Variant(Release("r2"), [&](auto& c) {
        ASSERT_FALSE(c.moves.empty());
        for (Vfs::SMoveRun& run : c.moves)
        {
            run.sourceOffset = (oldSize - 16) / 16 * 16;
        }
    });
    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), reaching);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(Differences(Game(), reaching, {}, false), std::vector<std::string>{});
}

TEST_F(Attack, PartFilesLeftByAnotherReleaseAreVerifiedNotTrusted)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const Vfs::SIndex i2 = IndexOf(r2);
    const std::string old = ReadText(Game() / "Client/pack" / Vfs::ContainerName(IndexOf(r1).containers[0]));
    for (const Vfs::SContainer& container : i2.containers)
    {
        WriteText(Game() / ContainerPartPath(container), Resized(old, container.size));
    }
    for (const Vfs::SFile& file : i2.files)
    {
        WriteText(Game() / FilePartPath(file.hash), std::string(static_cast<std::size_t>(file.size), 'x'));
    }
    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), r2);
    ASSERT_EQ(last.phase, EPatchPhase::Done) << last.message;
    EXPECT_EQ(Differences(Game(), r2, {}, false), std::vector<std::string>{});
}

TEST_F(Attack, ALooseFileClaimingATebibyteIsStreamedAndRefused)
{
    // Held in memory whole, the claim alone would end the process; streamed, the CDN's short
    // answer is refused.
    const SRelease r1 = Release("r1");
    InstallComplete(r1);
    const std::string state = StateText();
    std::string url;
    const SRelease huge = Variant(Release("r2"), [&](auto& c) {
        for (Vfs::SFile& file : c.files)
        {
            if (file.path == "Client/data/new.bin")
            {
                file.size = 1ULL << 40;
                url = "f/" + Vfs::ToHex(file.hash);
            }
        }
    });
    MakePatcher([](std::string_view) { return std::optional<std::uint64_t>(UINT64_MAX); });
    const SPatchReport last = Drive(EPatchMode::Update, Nginx(), huge);
    EXPECT_REFUSED_UNTOUCHED(last, url + ": the CDN answered 206 with 1500000 bytes of 1099511627776", r1, state);
}

TEST_F(Attack, AFolderReplacedByALinkIsNotWrittenThrough)
{
    const SRelease r1 = Release("r1");
    const SRelease r2 = Release("r2");
    InstallComplete(r1);
    const std::string state = StateText();
    const std::string refused = " is a link or junction; nothing is written through it";

    // A game subfolder moved elsewhere and linked back: the update writes and deletes there.
    fs::rename(Game() / "Client/data", m_root / "data");
    MakeFolderLink(Game() / "Client/data", m_root / "data");
    const auto data = Snapshot(m_root / "data");
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Update, Nginx(), r2), "Client/data" + refused, r1, state);

    // A journal left from before the link came: refused before any record is carried out.
    WriteText(Game() / "Client/pack/incoming/a.part", "a");
    const SJournalRecord records[] = {{SJournalRecord::EKind::Move, "Client/pack/incoming/a.part", "Client/bin/a"},
        {SJournalRecord::EKind::Delete, "", "Client/data/old.txt"}};
    WriteText(Game() / "patch.journal", JournalText(records));
    const auto replayed = ReplayAtStartUp();
    ASSERT_FALSE(replayed);
    EXPECT_EQ(replayed.error(), "Client/data" + refused);
    EXPECT_FALSE(fs::exists(Game() / "Client/bin/a"));
    EXPECT_EQ(Snapshot(m_root / "data"), data);

    // The incoming folder linked elsewhere too: a pre-load would clear what is there.
    fs::remove(Game() / "patch.journal");
    fs::remove_all(Game() / "Client/pack/incoming");
    WriteText(m_root / "elsewhere/keep.txt", "keep");
    MakeFolderLink(Game() / "Client/pack/incoming", m_root / "elsewhere");
    EXPECT_REFUSED_UNTOUCHED(Drive(EPatchMode::Preload, Nginx(), r2), "Client/pack/incoming" + refused, r1, state);
    EXPECT_EQ(Snapshot(m_root / "elsewhere"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
}

TEST_F(PatchRun, PathsLongerThanWindowsTakesHereAreRefusedBeforeAnythingIsWritten)
{
    // A game folder of 200 characters leaves too little room for the part files' paths; the
    // test program does not opt in to long paths, and Wine has none to turn on.
    const fs::path deep = m_root / std::wstring(200 - m_root.wstring().size() - 1, L'd');
    WriteText(deep / "Client/pack/release.quillmereindex", ReadText(IndexFile(Release("r1"))));
    ASSERT_TRUE(SetCurrentDirectoryW(deep.wstring().c_str()));
    const SPatchReport last = Drive(EPatchMode::Complete, Nginx());
    EXPECT_EQ(last.phase, EPatchPhase::Stopped);
    EXPECT_TRUE(last.message.starts_with("Client/pack/incoming/")) << last.message;
    EXPECT_NE(last.message.find(" is too long for this Windows: "), std::string::npos) << last.message;
    EXPECT_TRUE(last.message.ends_with(" characters with the game folder, where at most 259 work without long paths"))
        << last.message;
    EXPECT_FALSE(fs::exists(deep / "Client/pack/incoming"));
}
