// The stored sign-in in the Credential Manager and the identity worker over HTTPS against the
// reference identity service, driven through qmid --remember as separate processes, so that
// each "start" of the launcher reads what the last one left; and the worker's reports posted
// to a window.
#include "auth/Identity.h"
#include "auth/StoredSignIn.h"
#include "auth/tests/IdentityService.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincred.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace
{
using IdentityService::Count;
using IdentityService::Switch;

std::string Qmid(const std::string& arguments, const std::string& password = {})
{
    const char* build = std::getenv("QM_BUILD_DIR");
    std::string exe = std::string("Z:") + (build != nullptr ? build : "") + "/auth/qmid.exe";
    std::replace(exe.begin(), exe.end(), '/', '\\');
    const std::string input = exe + ".stdin";
    std::ofstream(input, std::ios::binary | std::ios::trunc) << password << "\n";
    FILE* pipe = _popen((exe + " " + arguments + " < " + input + " 2>nul").c_str(), "r");
    if (pipe == nullptr)
    {
        return "(qmid does not start)";
    }
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    {
        output += buffer;
    }
    const int status = _pclose(pipe);
    std::remove(input.c_str());
    return status == 0 ? output : output + "(exit " + std::to_string(status) + ")";
}

// The output without its timings: "STEP KIND: MESSAGE" or with the extras.
std::string Steps(std::string output)
{
    std::string result;
    std::size_t from = 0;
    while (from < output.size())
    {
        auto end = output.find('\n', from);
        end = end == std::string::npos ? output.size() : end;
        std::string line = output.substr(from, end - from);
        const auto ms = line.find(" ms");
        if (ms != std::string::npos)
        {
            const auto space = line.rfind(' ', ms - 1);
            line.erase(space, ms + 3 - space);
        }
        result += line + "\n";
        from = end + 1;
    }
    return result;
}

class StoredIdentity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_base = IdentityService::BaseUrl();
        if (m_base.empty())
        {
            GTEST_SKIP() << "the identity service is not running (start it with the test fixture)";
        }
        Switch("{}");
        (void)Run("signout"); // nobody signed in, whatever an earlier run left
    }
    void TearDown() override
    {
        if (!m_base.empty())
        {
            Switch("{}");
            (void)Run("signout");
        }
    }
    std::string Run(const std::string& steps, const std::string& password = {})
    {
        return Steps(Qmid("--remember " + m_base + " Rowan " + steps, password));
    }

    std::string m_base;
};
}

TEST_F(StoredIdentity, SignInIsRememberedAcrossStartsWithoutThePassword)
{
    EXPECT_EQ(Run("login", "correct horse battery staple"), "login SignedIn login=Rowan: \n");
    EXPECT_EQ(Run("resume exchange"), "resume SignedIn login=Rowan: \nexchange SignedIn login=Rowan code=yes: \n");

    // Refusals that say nothing about the sign-in keep it.
    Switch(R"({"limited":30,"paths":["/v1/refresh"]})");
    EXPECT_EQ(Run("resume"), "resume Limited retry=30: \n");
    Switch(R"({"drop":true,"paths":["/v1/refresh"]})");
    const auto dropped = Run("resume");
    EXPECT_EQ(dropped.rfind("resume Unreachable: " + m_base + ": no answer (WinHTTP error ", 0), 0u) << dropped;
    Switch("{}");
    EXPECT_EQ(Run("refresh"), "refresh SignedIn login=Rowan: \n");

    // A refused token ends it: the next start sends nothing.
    Switch(R"({"fail":{"status":401,"error":"unauthorised"},"paths":["/v1/refresh"]})");
    EXPECT_EQ(Run("resume"), "resume Unauthorised: \n");
    Switch("{}");
    const auto refreshes = Count("/v1/refresh");
    const auto exchanges = Count("/v1/exchange/new");
    EXPECT_EQ(Run("resume exchange"), "resume SignedOut: \nexchange SignedOut: \n");
    EXPECT_EQ(Count("/v1/refresh"), refreshes);
    EXPECT_EQ(Count("/v1/exchange/new"), exchanges);

    // Signing out ends it at the service and here.
    EXPECT_EQ(Run("login", "correct horse battery staple"), "login SignedIn login=Rowan: \n");
    const auto signouts = Count("/v1/signout");
    EXPECT_EQ(Run("signout resume"), "signout SignedOut: \nresume SignedOut: \n");
    EXPECT_EQ(Count("/v1/signout"), signouts + 1);
}

TEST_F(StoredIdentity, AWrongPasswordForgetsTheEarlierSignIn)
{
    EXPECT_EQ(Run("login", "correct horse battery staple"), "login SignedIn login=Rowan: \n");
    EXPECT_EQ(Run("login", "not the password"), "login Unauthorised: \n");
    EXPECT_EQ(Run("resume"), "resume SignedOut: \n");
}

TEST_F(StoredIdentity, StatusFailsOverAndReadsTheDocument)
{
    const std::string release(64, 'a');
    Switch(R"({"fail":{"status":503},"paths":["/v1/status"]})");
    EXPECT_EQ(Steps(Qmid("--remember https://localhost:1," + m_base + " Rowan status:" + release)),
              "status Unknown old=0 current= number=0 next= next_number=0: \n");
    Switch("{}");
    EXPECT_EQ(Steps(Qmid("https://localhost:1 Rowan status")).rfind("status Unreachable old=0", 0), 0u);
    const auto up = Steps(Qmid(m_base + " Rowan status:" + release));
    EXPECT_EQ(up.rfind("status Up old=1 current=", 0), 0u) << up;
}

TEST(CredentialManager, EntriesOfAnotherShapeAreIgnoredAndKept)
{
    const auto store = Auth::MakeCredentialManager();
    Auth::CStoredSignIn stored(*store);
    stored.SetTarget(Auth::CredentialTarget("https://shape.test:" + std::to_string(GetCurrentProcessId())));
    const std::wstring target(stored.Target().begin(), stored.Target().end());

    const auto write = [&](std::vector<std::uint8_t> blob, const wchar_t* user) {
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(target.c_str());
        credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
        credential.CredentialBlob = blob.data();
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        credential.UserName = const_cast<wchar_t*>(user);
        ASSERT_TRUE(CredWriteW(&credential, 0));
    };
    const auto present = [&] {
        PCREDENTIALW found = nullptr;
        const bool read = CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found);
        CredFree(found);
        return read;
    };

    for (const std::size_t size : {31u, 33u})
    {
        write(std::vector<std::uint8_t>(size, 5), L"Rowan");
        EXPECT_FALSE(stored.ReadStoredSignIn()) << size;
        EXPECT_TRUE(present());
    }
    (void)CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0); // Wine keeps the user name of an overwritten entry
    write(std::vector<std::uint8_t>(32, 5), nullptr);
    EXPECT_FALSE(stored.ReadStoredSignIn());
    EXPECT_TRUE(present());

    Auth::SLoginOutcome signedIn(Auth::EOutcome::SignedIn);
    signedIn.refresh.fill(9);
    signedIn.login = "R\xC3\xB6wan";
    stored.ApplyOutcome(signedIn);
    stored.Drop();
    ASSERT_TRUE(stored.ReadStoredSignIn());
    EXPECT_EQ(stored.CurrentLogin(), "R\xC3\xB6wan");
    EXPECT_EQ(stored.Token()[31], 9);

    stored.ForgetStoredSignIn();
    EXPECT_FALSE(present());
}
