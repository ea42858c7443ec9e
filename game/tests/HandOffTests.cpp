// The hand-off's records and the launcher's request loop over scripted pipe ends.
#include "game/HandOff.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using Auth::EOutcome;
using Auth::SLoginOutcome;
using namespace Game;

namespace
{
SLoginOutcome Outcome(EOutcome kind, std::uint8_t codeByte = 0, std::uint32_t retry = 0)
{
    SLoginOutcome outcome(kind, "the message");
    outcome.retrySeconds = retry;
    outcome.code.fill(codeByte);
    outcome.refresh.fill(0xEE);
    return outcome;
}

bool AllZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The client's side of both pipes: its requests arrive in reads of the given sizes (in
// turn), its replies are taken at most 7 bytes per write.
struct SScriptedClient
{
    std::vector<std::uint8_t> requests;
    std::vector<std::size_t> readSizes{kRequestSize};
    std::vector<std::uint8_t> replies;
    std::size_t writesLeft = 1000;
    std::size_t read = 0;
    std::size_t reads = 0;

    ReadFn Reader()
    {
        return [this](std::span<std::uint8_t> into) -> std::size_t {
            const std::size_t size = std::min({into.size(), readSizes[reads++ % readSizes.size()], requests.size() - read});
            std::copy_n(requests.begin() + static_cast<std::ptrdiff_t>(read), size, into.begin());
            read += size;
            return size;
        };
    }
    WriteFn Writer()
    {
        return [this](std::span<const std::uint8_t> bytes) -> std::size_t {
            if (writesLeft == 0)
            {
                return 0;
            }
            --writesLeft;
            const std::size_t size = std::min<std::size_t>(bytes.size(), 7);
            replies.insert(replies.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
            return size;
        };
    }
    [[nodiscard]] std::span<const std::uint8_t> Reply(std::size_t n) const
    {
        return std::span(replies).subspan(n * kReplySize, kReplySize);
    }
};
}

TEST(HandOffReply, FollowsTheOutcomeKind)
{
    const struct
    {
        EOutcome kind;
        std::uint8_t code;
    } table[] = {
        {EOutcome::Unauthorised, 2}, {EOutcome::SignedOut, 2}, {EOutcome::Unreachable, 3}, {EOutcome::LoginRules, 5},
        {EOutcome::Failed, 5},       {EOutcome::Banned, 5},    {EOutcome::Closed, 5},      {EOutcome::Unconfirmed, 5},
    };
    for (const auto& row : table)
    {
        // Only a signed-in outcome's code and only a limited one's seconds may show.
        const HandOffReply reply = ReplyFor(Outcome(row.kind, 0xAB, 30));
        EXPECT_EQ(reply[0], row.code) << static_cast<int>(row.kind);
        EXPECT_TRUE(AllZero(std::span(reply).subspan(1))) << static_cast<int>(row.kind);
    }

    const HandOffReply code = ReplyFor(Outcome(EOutcome::SignedIn, 0xAB, 30));
    EXPECT_EQ(code[0], 1);
    EXPECT_TRUE(AllZero(std::span(code).subspan(1, 7)));
    EXPECT_TRUE(std::all_of(code.begin() + 8, code.end(), [](std::uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(ReplyOneTimeCode(code).data(), code.data() + 8);

    const HandOffReply wait = ReplyFor(Outcome(EOutcome::Limited, 0xAB, 0x01020304));
    const std::uint8_t head[] = {4, 0, 0, 0, 0x04, 0x03, 0x02, 0x01};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), wait.begin()));
    EXPECT_TRUE(AllZero(std::span(wait).subspan(8)));
    EXPECT_EQ(ReplyWaitSeconds(wait), 0x01020304u);
}

TEST(HandOffLoop, ReadsAndWritesInPiecesUntilTheClientCloses)
{
    SScriptedClient client;
    client.requests = {1, 0, 0, 0, 2, 0, 0, 0, 1, 9, 9, 9, 1, 0};
    client.readSizes = {1, 3, 2, 4};
    std::uint8_t next = 0x10;
    ServeRequests(client.Reader(), client.Writer(), [&] { return Outcome(EOutcome::SignedIn, next++); }, {});

    // Three whole replies; an unknown request costs no exchange; half a request none at all.
    ASSERT_EQ(client.replies.size(), 3 * kReplySize);
    EXPECT_EQ(next, 0x12);
    EXPECT_EQ(client.Reply(0)[0], 1);
    EXPECT_EQ(client.Reply(0)[8], 0x10);
    EXPECT_EQ(client.Reply(1)[0], 5);
    EXPECT_TRUE(AllZero(client.Reply(1).subspan(1)));
    EXPECT_EQ(client.Reply(2)[39], 0x11);
}

TEST(HandOffLoop, EndsAtAFailedWriteOrAStop)
{
    const ExchangeFn exchange = [] { return Outcome(EOutcome::SignedIn, 1); };
    SScriptedClient broken;
    broken.requests = {1, 0, 0, 0, 1, 0, 0, 0};
    broken.writesLeft = 2;
    ServeRequests(broken.Reader(), broken.Writer(), exchange, {});
    EXPECT_EQ(broken.read, kRequestSize);

    // A stop asked for during an exchange still lets its reply go out, then no more is read.
    std::stop_source source;
    SScriptedClient stopped;
    stopped.requests = broken.requests;
    ServeRequests(stopped.Reader(), stopped.Writer(), [&] { source.request_stop(); return exchange(); },
                  source.get_token());
    EXPECT_EQ(stopped.read, kRequestSize);
    EXPECT_EQ(stopped.replies.size(), kReplySize);
}

TEST(HandOffCommandLine, IsWrittenAndReadBack)
{
    EXPECT_EQ(ClientCommandLine("C:\\Quillmere\\Client\\QuillmereClient.exe", 0x1a4, 0xb0),
              "\"C:\\Quillmere\\Client\\QuillmereClient.exe\" --launcher 1a4,b0");

    const std::vector<std::string> good{"--launcher", "1a4,FFFFFFFFFFFFFFFF"};
    const auto handles = ParseClientArguments(good);
    ASSERT_TRUE(handles) << handles.error();
    EXPECT_EQ(handles->replyRead, 0x1a4u);
    EXPECT_EQ(handles->requestWrite, 0xFFFFFFFFFFFFFFFFu);

    const std::vector<std::vector<std::string>> refused = {
        {}, {"--launcher"}, {"--launch", "1,2"}, {"--launcher", "1,2", "3"},
    };
    for (const auto& arguments : refused)
    {
        EXPECT_EQ(ParseClientArguments(arguments).error(),
                  "the game is started by the launcher, with \"--launcher\" and two pipe handles");
    }
    for (const char* pair : {"", "1a4", "1a4,", ",b0", "0,b0", "1a4,b0,c", "1a4;b0", "0x1a4,b0", "-1,2", "1 ,2",
                             "10000000000000000,1", "1a4,b0 "})
    {
        const std::vector<std::string> arguments{"--launcher", pair};
        EXPECT_EQ(ParseClientArguments(arguments).error(), fmt::format("\"{}\" is not two pipe handles", pair)) << pair;
    }
}
