// QuillmereClient.exe, the game client in its smallest form. The launcher starts it with
// "--launcher" and its two pipe ends; it asks for a one-time code when it starts and again on
// its button, shows what the launcher replied, and redeems a code at the game's server (the
// identity service's redeem endpoint, found through the installed release index), which
// names the account the code was issued to. It never sees a password or a refresh token.
#include "game/client/ClientWindow.h"

#include "auth/Json.h"
#include "net/Http.h"
#include "game/HandOff.h"
#include "game/Launch.h"
#include "base/File.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "vfs/Index.h"

#include <windows.h>
#include <shellapi.h>

#include <fmt/format.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace Game;
using namespace Game::Client;

constexpr UINT kMsgAnswered = WM_APP + 1; // lParam: an SAnswer that the window takes over

struct SAnswer
{
    std::string reply;
    std::string player;
    bool handOffOpen = true;
};

struct SClient
{
    UniqueHandle replies;  // read end of the reply pipe
    UniqueHandle requests; // write end of the request pipe
    std::string handOffError;
    std::vector<std::string> servers;
    std::string serversError;
    HWND window = nullptr;
    HFONT font = nullptr;
    HFONT titleFont = nullptr;
    std::jthread asking;
};

std::vector<std::string> Arguments()
{
    int count = 0;
    std::vector<std::string> arguments;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
        {
            arguments.push_back(Text::WideToUtf8(argv[i]));
        }
        LocalFree(argv);
    }
    return arguments;
}

std::string TakeHandOff(SClient& client)
{
    const std::vector<std::string> arguments = Arguments();
    const auto handles = ParseClientArguments(arguments);
    if (!handles)
    {
        return handles.error();
    }
    const auto replies = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handles->replyRead));
    const auto requests = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handles->requestWrite));
    if (GetFileType(replies) != FILE_TYPE_PIPE || GetFileType(requests) != FILE_TYPE_PIPE)
    {
        return fmt::format("\"{}\" does not name the launcher's pipes", arguments[1]);
    }
    // They came inheritable; nothing this client starts gets them.
    SetHandleInformation(replies, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(requests, HANDLE_FLAG_INHERIT, 0);
    client.replies.reset(replies);
    client.requests.reset(requests);
    return {};
}

// The game server's addresses: those of the identity service in the installed release index,
// "pack/release.quillmereindex" beside this executable.
std::expected<std::vector<std::string>, std::string> GameServers()
{
    const auto file = File::ReadWhole(File::RunningExecutableFolder() + "pack\\release.quillmereindex", 64 << 20);
    if (!file)
    {
        return std::unexpected(Text::WithWindowsError("the release index does not read", file.error()));
    }
    auto read = Vfs::ReadIndex(*file, Vfs::TrustRoot());
    if (!read)
    {
        return std::unexpected("the release index: " + read.error());
    }
    Vfs::SIndex& index = *read;
    if (index.identityUrls.empty())
    {
        return std::unexpected(std::string("the release names no identity service"));
    }
    return std::move(index.identityUrls);
}

std::string DescribeReply(const HandOffReply& reply)
{
    switch (static_cast<EReply>(ReplyCode(reply)))
    {
    case EReply::Code:
    {
        const auto code = ReplyOneTimeCode(reply);
        return fmt::format("Reply 1: one-time code {:02x}{:02x}{:02x}{:02x}...", code[0], code[1], code[2], code[3]);
    }
    case EReply::NoSignIn:
        return "Reply 2: nobody is signed in to the launcher";
    case EReply::Unreachable:
        return "Reply 3: the identity service cannot be reached";
    case EReply::Wait:
        return fmt::format("Reply 4: ask again in {} seconds", ReplyWaitSeconds(reply));
    case EReply::Refused:
        return "Reply 5: the launcher has no code to give";
    }
    return fmt::format("Reply {}: not a reply this game knows", ReplyCode(reply));
}

// Hands the code to the game server, which takes it once; the text for the player line.
std::string Redeem(const SClient& client, std::span<const std::uint8_t, 32> code)
{
    if (client.servers.empty())
    {
        return "No game server is known: " + client.serversError;
    }
    std::string encoded = Auth::EncodeBase64Url(code);
    std::string body;
    body.reserve(64); // one buffer, so that no copy of the code is left behind unwiped
    body.append("{\"code\":\"").append(encoded).append("\"}");
    Secure::Wipe(encoded);
    std::string result;
    for (const std::string& server : client.servers)
    {
        auto answer = Net::Request(server, "POST", "/v1/exchange/redeem",
            std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), 16384);
        if (!answer)
        {
            result = "The game server cannot be reached: " + answer.error().text;
            continue;
        }
        const std::span text(reinterpret_cast<const char*>(answer->body.data()), answer->body.size());
        const auto login = Auth::Json::FindValue(text, "login");
        if (answer->status == 200 && login && Auth::IsWellFormedLogin(login.text))
        {
            result = fmt::format("Playing as {}", login.text);
        }
        else
        {
            result = fmt::format("The game server refused the code (HTTP {} {})", answer->status,
                                 Auth::Json::FindValue(text, "error").text);
        }
        Secure::Wipe(answer->body);
        break;
    }
    Secure::Wipe(body);
    return result;
}

SAnswer Ask(const SClient& client)
{
    const WriteFn write = [&client](std::span<const std::uint8_t> bytes) -> std::size_t {
        DWORD put = 0;
        return WriteFile(client.requests.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) ? put : 0;
    };
    const ReadFn read = [&client](std::span<std::uint8_t> into) -> std::size_t {
        DWORD got = 0;
        return ReadFile(client.replies.get(), into.data(), static_cast<DWORD>(into.size()), &got, nullptr) ? got : 0;
    };
    const std::array<std::uint8_t, kRequestSize> request{kCodeRequest, 0, 0, 0};
    HandOffReply reply{};
    SAnswer answer;
    if (!WriteExactly(write, request) || !ReadExactly(read, reply))
    {
        answer.reply = "The launcher has closed the hand-off";
        answer.handOffOpen = false;
    }
    else
    {
        answer.reply = DescribeReply(reply);
        if (ReplyCode(reply) == static_cast<std::uint8_t>(EReply::Code))
        {
            answer.player = Redeem(client, ReplyOneTimeCode(reply));
        }
    }
    Secure::Wipe(reply);
    return answer;
}

void SetLine(const SClient& client, int id, std::string_view text)
{
    SetDlgItemTextW(client.window, id, Text::Utf8ToWide(text).c_str());
}

void StartAsking(SClient& client)
{
    EnableWindow(GetDlgItem(client.window, kAskButton), FALSE);
    SetLine(client, kReplyLine, "Asking the launcher for a one-time code...");
    client.asking = std::jthread([&client] {
        auto answer = std::make_unique<SAnswer>(Ask(client));
        if (PostMessageW(client.window, kMsgAnswered, 0, reinterpret_cast<LPARAM>(answer.get())))
        {
            answer.release();
        }
    });
}

void MakeControls(SClient& client)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    client.font = CreateFontIndirectW(&metrics.lfMessageFont);
    LOGFONTW title = metrics.lfMessageFont;
    title.lfHeight *= 2;
    title.lfWeight = FW_BOLD;
    client.titleFont = CreateFontIndirectW(&title);

    struct SControl
    {
        const wchar_t* kind;
        const wchar_t* text;
        DWORD style;
        int id, x, y, width, height;
    };
    const SControl controls[] = {
        {L"STATIC", L"Quillmere", SS_LEFT, 100, 24, 16, 472, 40},
        {L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kReplyLine, 24, 68, 472, 22},
        {L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kPlayerLine, 24, 94, 472, 22},
        {L"BUTTON", L"Ask for a new code", BS_PUSHBUTTON | WS_TABSTOP, kAskButton, 24, 132, 180, 30},
    };
    for (const SControl& c : controls)
    {
        const HWND control = CreateWindowExW(0, c.kind, c.text, WS_CHILD | WS_VISIBLE | c.style, c.x, c.y, c.width,
            c.height, client.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(c.id == 100 ? client.titleFont : client.font), FALSE);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        auto* client = static_cast<SClient*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        client->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(client));
    }
    auto* client = reinterpret_cast<SClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (client == nullptr)
    {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message)
    {
    case WM_CREATE:
        MakeControls(*client);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAskButton && HIWORD(wParam) == BN_CLICKED)
        {
            StartAsking(*client);
        }
        return 0;
    case kMsgAnswered:
    {
        const std::unique_ptr<SAnswer> answer(reinterpret_cast<SAnswer*>(lParam));
        SetLine(*client, kReplyLine, answer->reply);
        SetLine(*client, kPlayerLine, answer->player);
        EnableWindow(GetDlgItem(window, kAskButton), answer->handOffOpen);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    SClient client;
    client.handOffError = TakeHandOff(client);
    if (auto servers = GameServers())
    {
        client.servers = std::move(*servers);
    }
    else
    {
        client.serversError = servers.error();
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    RECT frame{0, 0, 520, 184};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    if (CreateWindowExW(0, kWindowClass, L"Quillmere", style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, instance, &client) == nullptr)
    {
        return 1;
    }
    ShowWindow(client.window, show);
    UpdateWindow(client.window);
    if (client.handOffError.empty())
    {
        StartAsking(client);
    }
    else
    {
        EnableWindow(GetDlgItem(client.window, kAskButton), FALSE);
        SetLine(client, kReplyLine, "Start the game from the launcher");
        SetLine(client, kPlayerLine, client.handOffError);
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (!IsDialogMessageW(client.window, &message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    StopBlockedThread(client.asking);
    DeleteObject(client.font);
    DeleteObject(client.titleFont);
    return 0;
}
