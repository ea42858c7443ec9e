// Crash safety: qmpatch is killed at random moments during patch runs and during the journal
// replays of its start-up recovery, started again (recovery, then the run) until a run
// finishes, and the game folder must then hold the target release byte for byte with every
// file outside the release untouched.
//
// QM_PATCH_CRASH_TRIALS sets the number of trials (default 10; 200 or more for the long
// mode), QM_PATCH_CRASH_SEED the random seed (printed, to replay a failure).
#include "patch/tests/Releases.h"
#include "patch/tests/Trials.h"
#include "patch/Journal.h"
#include "tools/testservers/TestServers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <random>

using namespace PatchTests;

namespace
{
struct SCommand
{
    int mode = 0;
    std::string release; // a name from make-releases, empty for modes 0 and 2
};

struct SScenario
{
    const char* name;
    std::string from;   // the release installed first
    bool startComplete; // `from` installed and complete, else only its index
    bool damage;        // a damaged container piece, a damaged and a missing loose file
    std::vector<SCommand> commands;
    std::string target;
};

constexpr int kReplayPauseMs = 40;

const std::vector<SScenario> kScenarios = {
    {"install", "r1", false, false, {{0, ""}}, "r1"},
    {"update", "r1", true, false, {{1, "r2"}}, "r2"},
    {"repair", "r1", true, true, {{2, ""}}, "r1"},
    {"pre-load, then update", "r1", true, false, {{3, "r2"}, {1, "r2"}}, "r2"},
    {"update by groups", "s1", true, false, {{1, "s2"}}, "s2"}, // scattered edits fetched by 16 KiB groups
};

// Files of the player's that no run may touch.
const std::map<std::string, std::string> kPlanted = {
    {"Client/config/user.ini", "volume=7\n"},
    {"screenshots/first.png", std::string(3000, '\x89')},
    {"Client/pack/notes.txt", "not a container\n"},
};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class CrashSafety : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Release("r2").id.empty()) << "no releases in " << ReleasesFolder().string();
        const char* build = std::getenv("QM_BUILD_DIR");
        ASSERT_NE(build, nullptr);
        m_qmpatch = fs::path("Z:" + std::string(build)) / "patch/qmpatch.exe";
        ASSERT_TRUE(fs::exists(m_qmpatch));
        wchar_t temp[MAX_PATH]{};
        GetTempPathW(MAX_PATH, temp);
        m_root = fs::path(temp) / ("qm-crash-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_null = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        SetHandleInformation(m_null, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    void TearDown() override
    {
        CloseHandle(m_null);
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    // Starts qmpatch for the command; kills it after `killAfterMs` unless that is negative.
    // With `inReplay`, replays pause before each record and the kill comes `killAfterMs`
    // after a journal appeared. The exit status, or -1 when it was killed.
    int RunQmpatch(const fs::path& game, const fs::path& state, const SCommand& command, int killAfterMs,
        bool inReplay = false)
    {
        std::string line = "\"" + m_qmpatch.string() + "\" \"" + game.string() + "\" " + std::to_string(command.mode) +
                           " " + TestServers::CdnBaseUrl() + "/patch/cdn";
        if (!command.release.empty())
        {
            const SRelease release = Release(command.release);
            line += " " + release.id + " " + std::to_string(release.number);
        }
        line += " --recover --state \"" + state.string() + "\"";
        if (inReplay)
        {
            line += " --replay-pause " + std::to_string(kReplayPauseMs);
        }
        std::wstring wide = Wide(line);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = m_null;
        startup.hStdOutput = m_null;
        startup.hStdError = m_null;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        {
            return -2;
        }
        CloseHandle(process.hThread);
        int status = -1;
        if (inReplay)
        {
            // Wait for a journal (or the end), then let the replay go on for a while.
            while (WaitForSingleObject(process.hProcess, 2) == WAIT_TIMEOUT && !fs::exists(game / "patch.journal"))
            {
            }
        }
        if (killAfterMs >= 0 && WaitForSingleObject(process.hProcess, static_cast<DWORD>(killAfterMs)) == WAIT_TIMEOUT)
        {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        else
        {
            WaitForSingleObject(process.hProcess, 120'000);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            status = killAfterMs >= 0 ? static_cast<int>(code) : static_cast<int>(code);
        }
        CloseHandle(process.hProcess);
        return status;
    }

    // The starting folder of a scenario, copied from a prepared template.
    void Prepare(const SScenario& scenario, const fs::path& game, const fs::path& state)
    {
        const fs::path complete = m_root / ("template-" + scenario.from);
        if (scenario.startComplete && !fs::exists(complete / "game"))
        {
            WriteText(complete / "game/Client/pack/release.quillmereindex", ReadText(IndexFile(Release(scenario.from))));
            ASSERT_EQ(RunQmpatch(complete / "game", complete / "patch.state", {0, ""}, -1), 0);
        }
        fs::create_directories(game.parent_path());
        if (scenario.startComplete)
        {
            fs::copy(complete / "game", game, fs::copy_options::recursive);
            fs::copy_file(complete / "patch.state", state);
        }
        else
        {
            WriteText(game / "Client/pack/release.quillmereindex", ReadText(IndexFile(Release(scenario.from))));
        }
        for (const auto& [path, bytes] : kPlanted)
        {
            WriteText(game / path, bytes);
        }
        if (scenario.damage)
        {
            const Vfs::SIndex index = IndexOf(Release("r1"));
            const fs::path container = game / "Client/pack" / Vfs::ContainerName(index.containers[0]);
            std::string bytes = ReadText(container);
            bytes[1'048'576 + 999] ^= 0x11;
            WriteText(container, bytes);
            WriteText(game / "Client/bin/game.dll", "broken");
            fs::remove(game / "Client/data/readme.txt");
        }
    }

    fs::path m_qmpatch;
    fs::path m_root;
    HANDLE m_null = INVALID_HANDLE_VALUE;
};
}

TEST_F(CrashSafety, KilledRunsAndReplaysEndInTheTargetReleaseAndTouchNothingElse)
{
    const auto [trials, seed] = TrialsFromEnvironment("QM_PATCH_CRASH_TRIALS", 10, "QM_PATCH_CRASH_SEED");
    std::mt19937 random(seed);

    // How long each command runs uninterrupted (killing later than that kills nothing).
    std::vector<std::vector<int>> spans(kScenarios.size());
    for (std::size_t s = 0; s < kScenarios.size(); ++s)
    {
        const fs::path folder = m_root / ("calibrate-" + std::to_string(s));
        Prepare(kScenarios[s], folder / "game", folder / "patch.state");
        for (const SCommand& command : kScenarios[s].commands)
        {
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(RunQmpatch(folder / "game", folder / "patch.state", command, -1), 0) << kScenarios[s].name;
            spans[s].push_back(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count()));
        }
        fs::remove_all(folder);
    }

    int kills = 0;
    int journalKills = 0;
    int failures = 0;
    for (int trial = 0; trial < trials; ++trial)
    {
        const std::size_t s = static_cast<std::size_t>(trial) % kScenarios.size();
        const SScenario& scenario = kScenarios[s];
        const fs::path folder = m_root / ("trial-" + std::to_string(trial));
        const fs::path game = folder / "game";
        const fs::path state = folder / "patch.state";
        Prepare(scenario, game, state);
        for (std::size_t c = 0; c < scenario.commands.size(); ++c)
        {
            const SCommand& command = scenario.commands[c];
            const int killsHere = std::uniform_int_distribution<int>(0, 3)(random);
            for (int k = 0; k < killsHere; ++k)
            {
                // Half the kills fall anywhere in the run, half inside a journal's replay.
                const bool inReplay = std::uniform_int_distribution<int>(0, 1)(random) == 1;
                const int at = inReplay ? std::uniform_int_distribution<int>(0, 6 * kReplayPauseMs)(random)
                                        : std::uniform_int_distribution<int>(0, spans[s][c] + 100)(random);
                if (RunQmpatch(game, state, command, at, inReplay) == -1)
                {
                    ++kills;
                    // Killed between the journal's writing and the end of its replay.
                    journalKills += fs::exists(game / "patch.journal") ? 1 : 0;
                }
            }
            int status = -1;
            for (int attempt = 0; attempt < 3 && status != 0; ++attempt)
            {
                status = RunQmpatch(game, state, command, -1);
            }
            EXPECT_EQ(status, 0) << "trial " << trial << " (" << scenario.name << "), command " << c;
        }
        const SRelease target = Release(scenario.target);
        std::set<std::string> planted;
        for (const auto& [path, bytes] : kPlanted)
        {
            planted.insert(path);
            EXPECT_EQ(ReadText(game / path), bytes) << "trial " << trial << ": " << path << " was touched";
        }
        const auto wrong = Differences(game, target, planted);
        EXPECT_EQ(wrong, std::vector<std::string>{}) << "trial " << trial << " (" << scenario.name << ")";
        EXPECT_FALSE(fs::exists(game / "patch.journal")) << "trial " << trial;
        EXPECT_EQ(Patch::ReadPatchState(state.string()).release, target.number) << "trial " << trial;
        if (!wrong.empty() || HasFailure())
        {
            ++failures;
            std::printf("trial %d (%s) failed; folder kept at %s\n", trial, scenario.name, folder.string().c_str());
            break;
        }
        fs::remove_all(folder);
    }
    std::printf("crash trials %d, processes killed %d (%d with a journal on disk), failed trials %d\n", trials, kills,
        journalKills, failures);
}
