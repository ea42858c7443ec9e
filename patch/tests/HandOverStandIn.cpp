// A stand-in for a new launcher started by the hand-over: "--handover HEX" names the pipe's
// write end. QM_STANDIN picks what it does: "signal" writes the byte 1, closes the pipe, takes
// the launcher's name as a new launcher does when started under a staged name ("<exe>.new")
// (a replacing move, tried again while the old file is in use) and stays up for two seconds;
// "exit" ends at once with status 5; "silent" says nothing and waits a minute.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || std::wcscmp(argv[1], L"--handover") != 0)
    {
        return 2;
    }
    const auto pipe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(argv[2], nullptr, 16)));
    const char* behaviour = std::getenv("QM_STANDIN");
    const std::string what = behaviour != nullptr ? behaviour : "signal";
    if (what == "exit")
    {
        return 5;
    }
    if (what == "silent")
    {
        Sleep(60'000);
        return 0;
    }
    const BYTE one = 1;
    DWORD written = 0;
    WriteFile(pipe, &one, 1, &written, nullptr);
    CloseHandle(pipe);

    wchar_t self[MAX_PATH]{};
    const std::wstring running(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring name = running;
    while (name.size() > 4 && name.ends_with(L".new"))
    {
        name.resize(name.size() - 4);
    }
    if (name != running)
    {
        for (int tries = 0; tries < 150; ++tries)
        {
            if (MoveFileExW(running.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            {
                break;
            }
            Sleep(100);
        }
    }
    Sleep(2'000);
    return written == 1 ? 0 : 3;
}
