#include "patch/Journal.h"

#include <gtest/gtest.h>

using namespace Patch;
using EKind = SJournalRecord::EKind;

TEST(JournalText, RoundTripsAndSkipsWhatItDoesNotKnow)
{
    const std::vector<SJournalRecord> records{
        {EKind::Move, "Client/pack/incoming/a.part", "Client/pack/a b.quillmerepack"},
        {EKind::Move, "Client/pack/incoming/i.part", "Client/pack/release.quillmereindex"},
        {EKind::Delete, {}, "Client/old\tname.dat"},
    };
    const std::string text = JournalText(records);
    EXPECT_EQ(text, "quillmere patch journal 1\n"
                    "move\tClient/pack/incoming/a.part\tClient/pack/a b.quillmerepack\n"
                    "move\tClient/pack/incoming/i.part\tClient/pack/release.quillmereindex\n"
                    "delete\tClient/old\tname.dat\n");
    const auto back = ParseJournal(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ((*back)[0].destination, "Client/pack/a b.quillmerepack");
    EXPECT_EQ((*back)[2].destination, "Client/old\tname.dat"); // a delete takes all after its tab

    const auto mixed = ParseJournal("quillmere patch journal 1\n"
                                    "copy\ta\tb\n"      // unknown keyword
                                    "move\tonly-one\n"  // move without a second tab
                                    "no tab at all\n"
                                    "move\ta\tb\tc\n"   // the destination keeps its tab
                                    "delete\tx");       // last line without a line feed
    ASSERT_TRUE(mixed);
    ASSERT_EQ(mixed->size(), 2u);
    EXPECT_EQ((*mixed)[0].source, "a");
    EXPECT_EQ((*mixed)[0].destination, "b\tc");
    EXPECT_EQ((*mixed)[1].kind, EKind::Delete);
}

TEST(JournalText, RefusesForeignHeaders)
{
    EXPECT_FALSE(ParseJournal(""));
    EXPECT_FALSE(ParseJournal("quillmere patch journal 2\nmove\ta\tb\n"));
    EXPECT_FALSE(ParseJournal("quillmere patch journal 1 \n"));
    EXPECT_FALSE(ParseJournal("\nquillmere patch journal 1\n"));
    EXPECT_TRUE(ParseJournal("quillmere patch journal 1"));
}

TEST(PatchStateText, RoundTripsInMapOrder)
{
    SPatchState state;
    state.release = 18446744073709551615ull;
    state.generation = 4294967295u;
    state.files["b/x"] = {12, 34};
    state.files["a/with space\tand tab"] = {0, 132514560000000000ull};
    const std::string text = PatchStateText(state);
    EXPECT_EQ(text, "quillmere patch state 1\nrelease\t18446744073709551615\ngeneration\t4294967295\n"
                    "0\t132514560000000000\ta/with space\tand tab\n12\t34\tb/x\n");
    const SPatchState back = ParsePatchState(text);
    EXPECT_EQ(back.release, state.release);
    EXPECT_EQ(back.generation, state.generation);
    EXPECT_EQ(back.files, state.files);
}

TEST(PatchStateText, KeepsDefaultsOnBadNumbersAndLastLineWins)
{
    const SPatchState state = ParsePatchState("quillmere patch state 1\n"
                                              "release\t18446744073709551616\n" // too large: stays 0
                                              "generation\t4294967296\n"        // too large: stays 0
                                              "12\t34\tsome path\n"
                                              "x\ty\tbad numbers\n"
                                              "1\t2\tsome path\n"  // later line wins
                                              "only\tone tab\n");
    EXPECT_EQ(state.release, 0u);
    EXPECT_EQ(state.generation, 0u);
    ASSERT_EQ(state.files.size(), 2u);
    EXPECT_EQ(state.files.at("some path"), (SStamp{1, 2}));
    EXPECT_EQ(state.files.at("bad numbers"), (SStamp{0, 0}));

    const SPatchState kept = ParsePatchState("quillmere patch state 1\nrelease\t7\nrelease\tx\ngeneration\t3\n");
    EXPECT_EQ(kept.release, 7u); // a line without digits leaves the earlier value
    EXPECT_EQ(kept.generation, 3u);

    EXPECT_EQ(ParsePatchState("quillmere patch state 2\nrelease\t7\n").release, 0u);
}

TEST(FileRetryRule, SleepsDoublingToOneSecondForFifteenSeconds)
{
    std::vector<std::uint32_t> sleeps;
    int tries = 0;
    const bool done = RetryFileOperation([&] { ++tries; return false; }, [] { return 32u; },
                                         [&](std::uint32_t ms) { sleeps.push_back(ms); });
    EXPECT_FALSE(done);
    std::uint32_t total = 0;
    for (auto ms : sleeps)
    {
        total += ms;
    }
    ASSERT_GE(sleeps.size(), 6u);
    EXPECT_EQ((std::vector<std::uint32_t>(sleeps.begin(), sleeps.begin() + 6)),
              (std::vector<std::uint32_t>{50, 100, 200, 400, 800, 1000}));
    EXPECT_EQ(total, 15'550u); // tried until 15 s had been slept
    EXPECT_EQ(tries, static_cast<int>(sleeps.size()) + 1);

    // Other errors are not retried; a later success ends the rule.
    sleeps.clear();
    EXPECT_FALSE(RetryFileOperation([] { return false; }, [] { return 2u; }, [&](std::uint32_t ms) { sleeps.push_back(ms); }));
    EXPECT_TRUE(sleeps.empty());
    tries = 0;
    EXPECT_TRUE(RetryFileOperation([&] { return ++tries == 3; }, [] { return 5u; }, [](std::uint32_t) {}));
}
