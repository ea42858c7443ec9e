// Power-cut safety: the game folder and the per-user data folder lie on qmcutfs (the file
// system that drops what was not flushed, tools/cutfs), an update with a self-update and a file
// that becomes a folder is cut at a random moment, every process of the launcher ends at that
// instant, the crash state is laid down, and the launcher starts again. It must reach the
// release byte for byte, or refuse with a message and reach it after a repair; it must never
// report success over a wrong file nor stop at every start.
//
// QM_POWERCUT_TRIALS sets the number of cuts (default 8; 200 or more for the long run),
// QM_POWERCUT_SEED the seed of the cut moments. Each cut's moment and outcome is one line of
// powercut/outcomes.txt in the build folder; powercut/cuts.log holds what each crash state kept.
#include "patch/tests/Releases.h"
#include "patch/tests/Trials.h"
#include "patch/Journal.h"
#include "tools/testservers/TestServers.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <random>

using namespace PatchTests;

namespace
{
using Clock = std::chrono::steady_clock;

const std::map<std::string, std::string> kPlanted = {
    {"Client/config/user.ini", "volume=7\n"},
    {"screenshots/first.png", std::string(3000, '\x89')},
};

enum class EOutcome
{
    Whole,    // the restarted launcher reached the release
    Repaired, // it refused with a message, and a repair brought the release
    Failed,   // anything else
};

std::string LauncherBytes(const SRelease& release)
{
    for (const Vfs::SFile& file : IndexOf(release).files)
    {
        if ((file.flags & Vfs::kLauncherFlag) != 0)
        {
            return ReadText(Cdn() / "f" / Vfs::ToHex(file.hash));
        }
    }
    return {};
}

// Ends every process of the launcher's file (the new launcher a hand-over started, under the
// launcher's name or its staged one).
void EndLaunchers()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    {
        if (_wcsicmp(entry.szExeFile, L"Quillmere.exe") == 0 || _wcsicmp(entry.szExeFile, L"Quillmere.exe.new") == 0)
        {
            const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 5'000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

class PowerCut : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Release("cut").id.empty()) << "no releases in " << ReleasesFolder().string();
        const std::string build = std::getenv("QM_BUILD_DIR");
        m_qmpatch = fs::path("Z:" + build) / "patch/qmpatch.exe";
        m_mount = fs::path("Z:" + build) / "powercut/mount";
        ASSERT_TRUE(Control(".qmcut-sync")) << m_mount.string() << " is not a qmcutfs mount";
        wchar_t temp[MAX_PATH]{};
        GetTempPathW(MAX_PATH, temp);
        m_template = fs::path(temp) / ("qm-powercut-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(m_template);
        WriteText(m_template / "game/Client/pack/release.quillmereindex", ReadText(IndexFile(Release("r1"))));
        ASSERT_EQ(Run(m_template / "game", m_template / "patch.state", "0", ""), 0);
        WriteText(m_template / "game/Quillmere.exe", LauncherBytes(Release("r1")));
        for (const auto& [path, bytes] : kPlanted)
        {
            WriteText(m_template / "game" / path, bytes);
        }
        m_null = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        SetHandleInformation(m_null, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    void TearDown() override
    {
        CloseHandle(m_null);
        std::error_code ignored;
        fs::remove_all(m_template, ignored);
    }

    // A control of qmcutfs: its answer to a look-up of the name.
    bool Control(const char* name) const
    {
        return GetFileAttributesW((m_mount / name).wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    fs::path Game() const { return m_mount / "game"; }
    fs::path State() const { return m_mount / "data/patch.state"; }

    // Starts qmpatch in the folder: mode 1 (the update to "cut") as the launcher does it at
    // every start (recovery, self-update, hand-over), or another mode.
    HANDLE Start(const fs::path& game, const fs::path& state, const std::string& mode, const std::string& release)
    {
        std::string line = "\"" + m_qmpatch.string() + "\" \"" + game.string() + "\" " + mode + " " +
                           TestServers::CdnBaseUrl() + "/patch/cdn";
        if (!release.empty())
        {
            const SRelease named = Release(release);
            line += " " + named.id + " " + std::to_string(named.number) + " --self-update --hand-over --launcher \"" +
                    (game / "Quillmere.exe").string() + "\"";
        }
        line += " --recover --state \"" + state.string() + "\"";
        std::wstring wide(line.begin(), line.end());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = m_null;
        // What it prints goes to a file outside the mount, for the refusals' messages.
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        const HANDLE output = CreateFileW((m_template / "output.txt").wstring().c_str(), GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
        startup.hStdOutput = output;
        startup.hStdError = m_null;
        PROCESS_INFORMATION process{};
        const BOOL started =
            CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        CloseHandle(output);
        if (!started)
        {
            return nullptr;
        }
        CloseHandle(process.hThread);
        return process.hProcess;
    }

    int Run(const fs::path& game, const fs::path& state, const std::string& mode, const std::string& release)
    {
        const HANDLE process = Start(game, state, mode, release);
        if (process == nullptr)
        {
            return -2;
        }
        WaitForSingleObject(process, 120'000);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        return static_cast<int>(code);
    }

    // The update from the template, as the launcher runs it: until a run finishes (a run that
    // hands over ends with 4 and the new launcher runs next). With a cut moment, the file system
    // is cut then and the running qmpatch and launcher end with it; true when it was cut.
    bool Update(std::optional<int> cutAtMs, std::string& notes)
    {
        const auto start = Clock::now();
        for (int run = 0; run < 4; ++run)
        {
            const HANDLE process = Start(Game(), State(), "1", "cut");
            for (;;)
            {
                const int left = cutAtMs ? *cutAtMs - static_cast<int>(std::chrono::duration_cast<
                    std::chrono::milliseconds>(Clock::now() - start).count()) : 120'000;
                if (WaitForSingleObject(process, static_cast<DWORD>(std::max(left, 0))) != WAIT_TIMEOUT)
                {
                    break;
                }
                if (cutAtMs)
                {
                    Control(".qmcut-cut");
                    TerminateProcess(process, 99);
                    WaitForSingleObject(process, INFINITE);
                    EndLaunchers();
                    CloseHandle(process);
                    return true;
                }
            }
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            CloseHandle(process);
            notes += " run " + std::to_string(code) + ";";
            if (code != 4)
            {
                break;
            }
        }
        if (cutAtMs)
        {
            Control(".qmcut-cut"); // later than the update: what it left must have been flushed
            EndLaunchers();
        }
        return false;
    }

    // What differs from the release, the launcher's file and the planted files included.
    std::vector<std::string> Wrong() const
    {
        std::set<std::string> allowed{"Quillmere.exe"};
        for (const auto& [path, bytes] : kPlanted)
        {
            allowed.insert(path);
        }
        auto wrong = Differences(Game(), Release("cut"), allowed);
        if (ReadText(Game() / "Quillmere.exe") != LauncherBytes(Release("cut")))
        {
            wrong.push_back("differs: Quillmere.exe");
        }
        for (const auto& [path, bytes] : kPlanted)
        {
            if (ReadText(Game() / path) != bytes)
            {
                wrong.push_back("touched: " + path);
            }
        }
        return wrong;
    }

    // The launcher started again after the cut: the update until it finishes, a repair after
    // a refusal. Any run that reports success must leave the release whole.
    EOutcome Restart(std::string& notes)
    {
        bool repaired = false;
        const fs::path exe = Game() / "Quillmere.exe";
        const std::string launcher = ReadText(exe);
        if (launcher != LauncherBytes(Release("r1")) && launcher != LauncherBytes(Release("cut")))
        {
            notes += " no whole launcher under its name;"; // nothing would start
            return EOutcome::Failed;
        }
        for (int start = 0; start < 6; ++start)
        {
            int status = Run(Game(), State(), "1", "cut");
            notes += " run " + std::to_string(status) + ";";
            if (status == 1)
            {
                const std::string output = ReadText(m_template / "output.txt");
                const std::size_t last = output.rfind('\n', output.size() - 1 - (output.ends_with('\n') ? 1 : 0));
                notes += " (" + output.substr(last == std::string::npos ? 0 : last + 1) + ")";
                std::erase(notes, '\n');
            }
            if (status == 4)
            {
                EndLaunchers();
                continue;
            }
            if (status == 1 && !repaired)
            {
                notes += " refused;";
                repaired = true;
                status = Run(Game(), State(), "2", "");
                notes += status == 0 ? " repaired;" : " repair " + std::to_string(status) + ";";
                continue;
            }
            if (status != 0)
            {
                notes += " start " + std::to_string(start) + " ended " + std::to_string(status) + ";";
                continue;
            }
            const auto wrong = Wrong();
            for (const std::string& file : wrong)
            {
                notes += " success over " + file + ";";
            }
            const bool journal = fs::exists(Game() / "patch.journal");
            const bool state = Patch::ReadPatchState(State().string()).release == Release("cut").number;
            notes += journal ? " journal left;" : "";
            notes += state ? "" : " state not taken;";
            if (!wrong.empty() || journal || !state)
            {
                return EOutcome::Failed;
            }
            return repaired ? EOutcome::Repaired : EOutcome::Whole;
        }
        notes += " never finished;";
        return EOutcome::Failed;
    }

    void Lay()
    {
        EndLaunchers(); // the new launcher of the last update still runs from the folder
        for (const auto& entry : fs::directory_iterator(m_mount))
        {
            fs::remove_all(entry.path());
        }
        fs::copy(m_template / "game", Game(), fs::copy_options::recursive);
        fs::create_directories(State().parent_path());
        fs::copy_file(m_template / "patch.state", State());
        ASSERT_TRUE(Control(".qmcut-sync"));
    }

    fs::path m_qmpatch;
    fs::path m_mount;
    fs::path m_template;
    HANDLE m_null = INVALID_HANDLE_VALUE;
};
}

TEST_F(PowerCut, AnUpdateCutAtAnyMomentEndsWholeOrRepairedAndNeverWrong)
{
    const auto [trials, seed] = TrialsFromEnvironment("QM_POWERCUT_TRIALS", 8, "QM_POWERCUT_SEED");
    std::mt19937 random(seed);

    // The update uncut, twice: the qmcutfs mount works, and how long the update takes once
    // Wine and the caches are warm (the second time).
    int span = 0;
    for (int i = 0; i < 2; ++i)
    {
        Lay();
        const auto start = Clock::now();
        std::string notes;
        (void)Update(std::nullopt, notes);
        span = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        ASSERT_EQ(Wrong(), std::vector<std::string>{}) << "the uncut update:" << notes;
    }
    const std::string outcomesPath = "Z:" + std::string(std::getenv("QM_BUILD_DIR")) + "/powercut/outcomes.txt";
    std::FILE* outcomes = std::fopen(outcomesPath.c_str(), "w");
    std::fprintf(outcomes, "power cuts %d, seed %u, the update takes %d ms\n", trials, seed, span);
    std::printf("power cuts %d, seed %u, the update takes %d ms\n", trials, seed, span);

    std::map<EOutcome, int> counts;
    for (int trial = 0; trial < trials; ++trial)
    {
        const auto begun = Clock::now();
        Lay();
        const std::string layMs = std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count());
        const int at = std::uniform_int_distribution<int>(0, span + 200)(random);
        std::string notes;
        const auto laid = Clock::now();
        const bool during = Update(at, notes);
        const auto cut = Clock::now();
        ASSERT_TRUE(Control(".qmcut-restore")) << "trial " << trial << ": no crash state";
        notes += " restart:";
        const EOutcome outcome = Restart(notes);
        const auto ms = [](auto span) {
            return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
        };
        notes += " (" + layMs + " ms to lay, " + ms(cut - laid) + " ms to the cut, " + ms(Clock::now() - cut) + " ms to the end)";
        ++counts[outcome];
        const char* names[] = {"whole", "repaired", "FAILED"};
        std::fprintf(outcomes, "cut %d at %d ms (%s): %s;%s\n", trial, at, during ? "during the update" : "after it",
            names[static_cast<int>(outcome)], notes.c_str());
        std::printf("cut %d at %d ms: %s;%s\n", trial, at, names[static_cast<int>(outcome)], notes.c_str());
        std::fflush(outcomes);
        std::fflush(stdout);
        EXPECT_NE(outcome, EOutcome::Failed) << "cut " << trial << " at " << at << " ms:" << notes;
    }
    const std::string total = "cuts " + std::to_string(trials) + ": whole " + std::to_string(counts[EOutcome::Whole]) +
        ", needed a repair " + std::to_string(counts[EOutcome::Repaired]) + ", failed " +
        std::to_string(counts[EOutcome::Failed]) + "\n";
    std::fputs(total.c_str(), outcomes);
    std::fputs(total.c_str(), stdout);
    std::fclose(outcomes);
}
