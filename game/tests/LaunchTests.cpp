// Game launches under Wine: the scripted client (game_client_probe) for the pipes' edges and
// the real client (QuillmereClient) for the whole hand-off, with one-time codes from the
// reference identity service, which a ctest fixture starts on loopback.
#include "game/Launch.h"
#include "game/client/ClientWindow.h"

#include "auth/Json.h"
#include "install/tests/TestFiles.h"
#include "base/Handle.h"
#include "base/Text.h"
#include "base/tests/TempFolder.h"
#include "tools/testservers/TestServers.h"
#include "vfs/Index.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>

using Auth::EOutcome;
using Auth::SLoginOutcome;
namespace fs = std::filesystem;

namespace
{
fs::path BesideTest(const wchar_t* name)
{
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / name;
}

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string hex;
    for (const std::uint8_t b : bytes)
    {
        hex += fmt::format("{:02x}", b);
    }
    return hex;
}

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class GameLaunchTest : public ::testing::Test
{
protected:
    GameLaunchTest() : m_folder(L"qm-game") {}
    // A test that fails half-way may leave the real client up, holding the folder.
    ~GameLaunchTest() override
    {
        if (const HWND client = FindWindowW(Game::Client::kWindowClass, nullptr))
        {
            PostMessageW(client, WM_CLOSE, 0, 0);
            WaitForSingleObject(m_ended.get(), 5'000);
        }
    }

    // The launch with this exchange; ready and ended set the test's events.
    Game::CGameLaunch& Launch(Game::ExchangeFn exchange)
    {
        m_launch.reset(); // joins an earlier one first
        m_launch = std::make_unique<Game::CGameLaunch>(Game::SLaunchParams{
            m_folder.path().wstring() + L"\\", std::move(exchange), [this] { SetEvent(m_ready.get()); },
            [this] { SetEvent(m_ended.get()); }});
        ResetEvent(m_ready.get());
        ResetEvent(m_ended.get());
        return *m_launch;
    }

    void Place(const wchar_t* exe)
    {
        fs::create_directories(m_folder.path() / "Client");
        fs::copy_file(BesideTest(exe), m_folder.path() / "Client" / "QuillmereClient.exe",
                      fs::copy_options::overwrite_existing);
    }

    // Starts the probe with a script and waits for it to end; the lines it wrote.
    std::vector<std::string> RunProbe(const char* script, Game::ExchangeFn exchange)
    {
        Place(L"game_client_probe.exe");
        SetEnvironmentVariableA("QM_PROBE", script);
        auto started = Launch(std::move(exchange)).Start();
        EXPECT_TRUE(started) << started.error();
        EXPECT_EQ(WaitForSingleObject(m_ended.get(), 20'000), WAIT_OBJECT_0) << script;
        return ProbeLines();
    }

    std::vector<std::string> ProbeLines() const
    {
        std::ifstream in(m_folder.path() / "probe.out");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
        {
            lines.push_back(line);
        }
        return lines;
    }

    TempFolder m_folder;
    UniqueHandle m_ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle m_ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::unique_ptr<Game::CGameLaunch> m_launch;
};

// With the reference identity service: a signed-in account whose exchanges are real.
class GameLaunchWithService : public GameLaunchTest
{
protected:
    void SetUp() override
    {
        const std::string port = TestServers::ReadPort("identity", "");
        if (port.empty())
        {
            GTEST_SKIP() << "the identity service is not running (start it with the test fixture)";
        }
        m_urls = {"https://localhost:" + port};
        Post("/control/switches", "{}");
        auto signedIn = Auth::Login(m_urls, "Rowan", "correct horse battery staple");
        ASSERT_EQ(signedIn.kind, EOutcome::SignedIn) << signedIn.message;
        m_refresh = signedIn.refresh;
    }
    void TearDown() override
    {
        if (!m_urls.empty())
        {
            Post("/control/switches", "{}");
        }
    }

    // A POST to the service; /control/ paths go to its control port when it has one.
    std::string Post(std::string_view path, std::string_view body)
    {
        const std::string controlPort = TestServers::ReadPort("identity", "control");
        const std::string base = path.starts_with("/control/") && !controlPort.empty()
                                     ? "https://localhost:" + controlPort
                                     : m_urls[0];
        const auto answer = Net::Request(base, "POST", path, Bytes(body), 1 << 16);
        EXPECT_TRUE(answer) << path << ": " << (answer ? "" : answer.error().text);
        return answer ? std::string(answer->body.begin(), answer->body.end()) : std::string();
    }
    // The installed release index, which names the service; false when the build trusts a
    // publisher's own root, which the tests cannot sign for.
    bool InstallIndex()
    {
        const auto root = InstallTests::DevRoot();
        QmRelease::SReleaseContent release;
        release.identityUrls = m_urls;
        release.gameHost = "localhost";
        InstallTests::Write(m_folder.path() / "Client/pack/release.quillmereindex", InstallTests::Signed(release, root));
        return std::ranges::equal(root.publicKey, Vfs::TrustRoot());
    }

    std::string Redeem(std::span<const std::uint8_t> code)
    {
        return Post("/v1/exchange/redeem", R"({"code":")" + Auth::EncodeBase64Url(code) + R"("})");
    }

    // What the identity worker does for a GameExchange: spend the refresh token for a code
    // and keep the new token. The codes handed out are kept for the test.
    Game::ExchangeFn Exchange()
    {
        return [this] {
            SLoginOutcome outcome = Auth::NewExchange(m_urls, m_refresh);
            const std::lock_guard lock(m_mutex);
            if (outcome.kind == EOutcome::SignedIn)
            {
                m_refresh = outcome.refresh;
                m_codes.push_back(outcome.code);
            }
            return outcome;
        };
    }
    std::vector<std::array<std::uint8_t, 32>> Codes()
    {
        const std::lock_guard lock(m_mutex);
        return m_codes;
    }

    std::vector<std::string> m_urls;
    std::array<std::uint8_t, 32> m_refresh{};
    std::mutex m_mutex;
    std::vector<std::array<std::uint8_t, 32>> m_codes;
};

const std::string kZeros(78, '0');
}

TEST_F(GameLaunchWithService, AnswersEachRequestAsItsOwnExchange)
{
    const auto lines = RunProbe("ask reply other reply split reply close", Exchange());
    const auto codes = Codes();
    ASSERT_EQ(lines.size(), 3u);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(lines[0], "0100000000000000" + Hex(codes[0]));
    EXPECT_EQ(lines[1], "05" + kZeros);
    EXPECT_EQ(lines[2], "0100000000000000" + Hex(codes[1]));
    EXPECT_NE(codes[0], codes[1]);
}

TEST_F(GameLaunchWithService, RepliesTellWhyThereIsNoCode)
{
    Post("/control/switches", R"({"limited":30,"paths":["/v1/exchange/new"]})");
    EXPECT_EQ(RunProbe("ask reply", Exchange()), std::vector<std::string>{"040000001e000000" + std::string(64, '0')});
    Post("/control/switches", "{}");

    m_refresh.fill(7); // a token the service never issued
    EXPECT_EQ(RunProbe("ask reply", Exchange()), std::vector<std::string>{"02" + kZeros});
    // What the identity worker answers while it shuts down.
    EXPECT_EQ(RunProbe("ask reply", [] { return SLoginOutcome(EOutcome::Failed); }),
              std::vector<std::string>{"05" + kZeros});
}

TEST_F(GameLaunchTest, TheClientInheritsOnlyThePipeEnds)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const UniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    SetEnvironmentVariableA("QM_PROBE_HANDLE", fmt::format("{:x}", reinterpret_cast<std::uintptr_t>(event.get())).c_str());

    RunProbe("signal", {});
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT) << "the client could signal the launcher's event";

    // The same probe started with every inheritable handle does reach it.
    std::wstring commandLine = L"probe --launcher 1,2";
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    const std::wstring probe = BesideTest(L"game_client_probe.exe").wstring();
    ASSERT_TRUE(CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               m_folder.path().c_str(), &startup, &process));
    WaitForSingleObject(SUniqueProcess::Adopt(process).process.get(), 20'000);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    SetEnvironmentVariableA("QM_PROBE_HANDLE", nullptr);
}

TEST_F(GameLaunchTest, AMissingClientDoesNotStart)
{
    fs::create_directories(m_folder.path() / "Client");
    const auto started = Launch({}).Start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), "Client/QuillmereClient.exe did not start (error 2)");
}

TEST_F(GameLaunchTest, AClientThatClosesItsPipesEarlyStillEnds)
{
    // "ended" comes when the process ends, not when the pipes close: by then the line its
    // last step writes after a second is there.
    EXPECT_EQ(RunProbe("close sleep reply", {}), std::vector<std::string>{"closed"});
}

TEST_F(GameLaunchTest, StoppingABlockedPipeThreadIsQuickAndQuiet)
{
    Place(L"game_client_probe.exe");
    SetEnvironmentVariableA("QM_PROBE", "reply");
    auto& launch = Launch({});
    ASSERT_TRUE(launch.Start());
    Sleep(500); // the pipe thread is in ReadFile by now

    const auto before = std::chrono::steady_clock::now();
    launch.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    // The launcher's ends are closed, so the client sees the hand-off end; no "ended" comes.
    for (int i = 0; i < 100 && ProbeLines().empty(); ++i)
    {
        Sleep(50);
    }
    EXPECT_EQ(ProbeLines(), std::vector<std::string>{"closed"});
    EXPECT_EQ(WaitForSingleObject(m_ended.get(), 1'000), WAIT_TIMEOUT);
}

TEST_F(GameLaunchWithService, TheGameClientPlaysAsTheLaunchersAccount)
{
    if (!InstallIndex())
    {
        GTEST_SKIP() << "built with a publisher's own trust root";
    }
    Place(L"QuillmereClient.exe");
    auto started = Launch(Exchange()).Start();
    ASSERT_TRUE(started) << started.error();
    ASSERT_EQ(WaitForSingleObject(m_ready.get(), 20'000), WAIT_OBJECT_0);
    HWND window = nullptr;
    for (int i = 0; i < 200 && window == nullptr; ++i, Sleep(50))
    {
        window = FindWindowW(Game::Client::kWindowClass, nullptr);
    }
    ASSERT_NE(window, nullptr);

    const auto line = [window](int id) {
        wchar_t text[256]{};
        GetDlgItemTextW(window, id, text, 256);
        return Text::WideToUtf8(text);
    };
    const auto waitForCodes = [&](std::size_t count) {
        for (int i = 0; i < 400 && (Codes().size() < count || line(Game::Client::kPlayerLine).empty()); ++i)
        {
            Sleep(50);
        }
    };
    waitForCodes(1);
    ASSERT_EQ(Codes().size(), 1u);
    EXPECT_EQ(line(Game::Client::kPlayerLine), "Playing as Rowan");
    EXPECT_EQ(line(Game::Client::kReplyLine), "Reply 1: one-time code " + Hex(std::span(Codes()[0]).first(4)) + "...");
    EXPECT_EQ(Redeem(Codes()[0]), R"({"error":"unauthorised"})"); // the client has used it up

    // The button asks again; the next code is a new one.
    SetDlgItemTextW(window, Game::Client::kPlayerLine, L"");
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(Game::Client::kAskButton, BN_CLICKED), 0);
    waitForCodes(2);
    ASSERT_EQ(Codes().size(), 2u);
    EXPECT_EQ(line(Game::Client::kPlayerLine), "Playing as Rowan");
    EXPECT_EQ(line(Game::Client::kReplyLine), "Reply 1: one-time code " + Hex(std::span(Codes()[1]).first(4)) + "...");

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(m_ended.get(), 20'000), WAIT_OBJECT_0);
}
