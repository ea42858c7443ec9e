// A game client that plays a script, for the tests of the hand-off's edges. Started as the
// real client is ("--launcher" and two handles), it runs the steps of QM_PROBE in order and
// writes one line per step that reads into "probe.out" in its current folder:
//   ask     request 01 00 00 00 in one write      other   request 02 00 00 00
//   split   request 01 00 00 00 as 1 byte, a pause, then 3 bytes
//   reply   read a 40-byte reply; its hex, or "closed" when the pipe closes first
//   close   close both pipe ends                  sleep   wait a second
//   signal  SetEvent on the handle value in QM_PROBE_HANDLE (set by a launcher that holds one)
#include "game/HandOff.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <sstream>
#include <string>

namespace
{
HANDLE Handle(std::uint64_t value)
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

bool Send(HANDLE pipe, const std::string& bytes)
{
    DWORD put = 0;
    return WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
}

std::string ReadReply(HANDLE pipe)
{
    const Game::ReadFn read = [pipe](std::span<std::uint8_t> into) -> std::size_t {
        DWORD got = 0;
        return ReadFile(pipe, into.data(), static_cast<DWORD>(into.size()), &got, nullptr) ? got : 0;
    };
    Game::HandOffReply reply{};
    if (!Game::ReadExactly(read, reply))
    {
        return "closed";
    }
    std::string hex;
    for (const std::uint8_t byte : reply)
    {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || std::wcscmp(argv[1], L"--launcher") != 0)
    {
        return 2;
    }
    std::vector<std::string> arguments{"--launcher", std::string(argv[2], argv[2] + std::wcslen(argv[2]))};
    const auto handles = Game::ParseClientArguments(arguments);
    if (!handles)
    {
        return 2;
    }
    const HANDLE replies = Handle(handles->replyRead);
    const HANDLE requests = Handle(handles->requestWrite);
    FILE* out = std::fopen("probe.out", "w");
    const char* script = std::getenv("QM_PROBE");
    std::istringstream steps(script != nullptr ? script : "");
    const std::string ask("\x01\0\0\0", 4);
    for (std::string step; steps >> step;)
    {
        if (step == "ask" || step == "other")
        {
            Send(requests, step == "ask" ? ask : std::string("\x02\0\0\0", 4));
        }
        else if (step == "split")
        {
            Send(requests, ask.substr(0, 1));
            Sleep(200);
            Send(requests, ask.substr(1));
        }
        else if (step == "reply")
        {
            std::fprintf(out, "%s\n", ReadReply(replies).c_str());
        }
        else if (step == "close")
        {
            CloseHandle(replies);
            CloseHandle(requests);
        }
        else if (step == "sleep")
        {
            Sleep(1000);
        }
        else if (step == "signal")
        {
            const char* value = std::getenv("QM_PROBE_HANDLE");
            SetEvent(Handle(value != nullptr ? std::strtoull(value, nullptr, 16) : 0));
        }
        std::fflush(out);
    }
    std::fclose(out);
    return 0;
}
