// qmpatch: one patch run from the console, on the launcher's own patcher.
//
//   qmpatch FOLDER MODE CDN [RELEASE NUMBER] [options]
//     FOLDER   the launcher's folder (the game folder); the run works relative to it
//     MODE     0 complete, 1 update, 2 repair, 3 pre-load
//     CDN      the CDN base URL
//     RELEASE NUMBER  the named release (64 hex digits) and its number, modes 1 and 3
//   options:
//     --recover            first replay an interrupted patch journal, as the launcher does
//     --state PATH         the patch state file (default: the per-user one)
//     --free-space BYTES   pretend the disk has this much free space
//     --throttle           hold transfers to the limit used while the game runs
//     --self-update        let an update replace the launcher (with --launcher)
//     --launcher PATH      the launcher exe whose hash is compared (default: qmpatch.exe)
//     --hand-over          when a new launcher is ready, hand over to it as the window does:
//                          swap the files, start it and wait for its signal (undone without)
//     --replay-pause MS    sleep before each journal record (the crash tests)
//     --stats              print the run's time, its transfer phase's time, the peak working set and
//                          Windows' count of bytes read (zero under Wine) at the end
//
// Prints every report as one line and then the outcome; exits 0 when the run finished,
// 1 when it stopped with a message or a shortfall (or a hand-over failed), 4 when a new
// launcher is ready (with --hand-over: is up), 3 when it ended without a report, 2 on a usage
// error.
#include "patch/Driver.h"
#include "base/Text.h"

#include <fmt/format.h>

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace
{
int Usage()
{
    std::fputs("usage: qmpatch FOLDER MODE CDN [RELEASE NUMBER] [--recover] [--state PATH] [--free-space BYTES] "
               "[--throttle] [--self-update] [--hand-over] [--launcher PATH] [--replay-pause MS] [--stats]\n",
        stderr);
    return 2;
}

void Print(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Describe(const Patch::SPatchReport& r)
{
    const int mode = std::to_underlying(r.mode);
    switch (r.phase)
    {
    case Patch::EPatchPhase::Checking:
    case Patch::EPatchPhase::Transferring:
        return fmt::format("report mode {} phase {} done {} total {} installing {}", mode, std::to_underlying(r.phase),
            r.done, r.total, r.installing ? 1 : 0);
    case Patch::EPatchPhase::Done:
        return fmt::format("finished mode {} done {} repaired {} installing {}", mode, r.done, r.repaired ? 1 : 0,
            r.installing ? 1 : 0);
    case Patch::EPatchPhase::Stopped:
        return fmt::format("stopped mode {} shortfall {} message {}", mode, r.shortfall, r.message);
    case Patch::EPatchPhase::LauncherReady:
        break;
    }
    return fmt::format("launcher mode {} path {}", mode, r.launcher);
}

// The window's part of a self-update: the new launcher takes over, or the old one is put back.
int HandOver(Patch::CPatcher& patcher, const std::string& downloaded)
{
    std::promise<std::string> result; // empty when the new launcher signalled
    const auto answer = [&](bool signalled, std::string error) {
        result.set_value(signalled ? std::string() : error.empty() ? "the new launcher did not start" : std::move(error));
    };
    if (auto started = patcher.HandOver(downloaded, answer); !started)
    {
        Print(fmt::format("hand-over failed: {}", started.error()));
        return 1;
    }
    if (const std::string error = result.get_future().get(); !error.empty())
    {
        patcher.UndoHandOver();
        Print(fmt::format("hand-over failed: {}", error));
        return 1;
    }
    patcher.ForgetHandOver();
    Print("handed over");
    return 4;
}
}

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> positional;
    bool recover = false;
    bool throttle = false;
    bool selfUpdate = false;
    bool stats = false;
    bool handOver = false;
    Patch::SPatcherParams params;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = Text::WideToUtf8(argv[i]);
        const auto value = [&]() -> std::string { return i + 1 < argc ? Text::WideToUtf8(argv[++i]) : std::string(); };
        if (arg == "--recover")
        {
            recover = true;
        }
        else if (arg == "--throttle")
        {
            throttle = true;
        }
        else if (arg == "--stats")
        {
            stats = true;
        }
        else if (arg == "--hand-over")
        {
            handOver = true;
        }
        else if (arg == "--self-update")
        {
            selfUpdate = true;
        }
        else if (arg == "--state")
        {
            params.statePath = value();
        }
        else if (arg == "--launcher")
        {
            params.launcherPath = value();
        }
        else if (arg == "--replay-pause")
        {
            const auto ms = Text::ParseLeadingDecimal(value(), 60'000);
            if (!ms)
            {
                return Usage();
            }
            params.replayPauseMs = static_cast<std::uint32_t>(*ms);
        }
        else if (arg == "--free-space")
        {
            const auto bytes = Text::ParseLeadingDecimal(value(), UINT64_MAX);
            if (!bytes)
            {
                return Usage();
            }
            params.freeSpace = [free = *bytes](std::string_view) { return std::optional<std::uint64_t>(free); };
        }
        else if (arg.starts_with("--"))
        {
            return Usage();
        }
        else
        {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 3 && positional.size() != 5)
    {
        return Usage();
    }
    const auto mode = Text::ParseLeadingDecimal(positional[1], 3);
    const auto number = positional.size() == 5 ? Text::ParseLeadingDecimal(positional[4], UINT64_MAX) : 0;
    if (!mode || !number || positional[1].size() != 1)
    {
        return Usage();
    }
    if (!SetCurrentDirectoryW(Text::Utf8ToWide(positional[0]).c_str()))
    {
        Print(fmt::format("qmpatch: {} is not a folder", positional[0]));
        return 2;
    }
    if (recover)
    {
        const auto replayed = Patch::ReplayAtStartUp(params.replayPauseMs);
        Print(replayed ? std::string("recovered") : fmt::format("recovery failed: {}", replayed.error()));
    }
    Patch::CPatcher patcher(std::move(params));
    patcher.ThrottleTransfers(throttle);
    const std::string release = positional.size() == 5 ? positional[3] : std::string();
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> transferStart;
    std::optional<std::chrono::steady_clock::time_point> transferEnd;
    const auto driven = Patch::DriveRun(patcher,
        {static_cast<Patch::EPatchMode>(*mode), positional[2], release, *number, selfUpdate},
        [&](const Patch::SPatchReport& report) {
            // The transfer phase: from its first report to the first that counts every byte.
            const auto now = std::chrono::steady_clock::now();
            if (report.phase == Patch::EPatchPhase::Transferring && !transferStart)
            {
                transferStart = now;
            }
            if (report.phase == Patch::EPatchPhase::Transferring && report.done == report.total && !transferEnd)
            {
                transferEnd = now;
            }
            Print(Describe(report));
        });
    if (stats)
    {
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof(memory);
        IO_COUNTERS io{};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
        GetProcessIoCounters(GetCurrentProcess(), &io);
        const auto ms = [](auto duration) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
        };
        Print(fmt::format("stats elapsed_ms {} transfer_ms {} peak_working_set {} read_bytes {} read_calls {}",
            ms(std::chrono::steady_clock::now() - start),
            transferStart && transferEnd ? ms(*transferEnd - *transferStart) : 0, memory.PeakWorkingSetSize,
            io.ReadTransferCount, io.ReadOperationCount));
    }
    if (!driven.started)
    {
        Print("not started");
        return 3;
    }
    if (!driven.last || driven.last->phase < Patch::EPatchPhase::Done)
    {
        Print("ended without a report");
        return 3;
    }
    switch (driven.last->phase)
    {
    case Patch::EPatchPhase::Done:
        return 0;
    case Patch::EPatchPhase::Stopped:
        return 1;
    default:
        return handOver ? HandOver(patcher, driven.last->launcher) : 4;
    }
}
