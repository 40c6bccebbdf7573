// SPDX-License-Identifier: MIT
// The reader's building blocks: the report and confirmation formats, and
// the text tools (trimming, bounded copy, tokens, numbers).
#include <array>
#include <climits>
#include <cstring>
#include <string>

#include "rc_fixture.h"

using namespace qo3964;

namespace qotest {
namespace {

using RcReport = RcFixture;

TEST_F(RcReport, ErrorReportFormat)
{
    line_number = 7;
    int result = 0;
    out = captured([&] { result = rc_error("FOO 1\n", "message", "word", "value"); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "  ERROR line    7: FOO 1\n  ERROR >>>>>>> message word value\n\n");

    out = captured([&] { result = rc_error("FOO 1\n", "message", nullptr, nullptr); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "  ERROR line    7: FOO 1\n  ERROR >>>>>>> message illegal value \n\n");

    line_number = -12;
    out = captured([&] { rc_error("X\n", "m", "w", nullptr); });
    EXPECT_EQ(out, "  ERROR line  -12: X\n  ERROR >>>>>>> m w \n\n");
}

TEST_F(RcReport, ErrorReportEndsALineThatLacksItsLineEnd)
{
    out = captured([] { rc_error("BAUD 300", "BAUD", nullptr, "300"); });
    EXPECT_EQ(out, "  ERROR line    0: BAUD 300\n  ERROR >>>>>>> BAUD illegal value 300\n\n");
    out = captured([] { rc_error("", "m", nullptr, nullptr); });
    EXPECT_EQ(out, "  ERROR line    0: \n  ERROR >>>>>>> m illegal value \n\n");
}

TEST_F(RcReport, ConfirmationOnlyAboveLevelZero)
{
    int result = -1;
    for (int level : {0, -5}) {
        link_settings.debug_level = level;
        out = captured([&] { result = rc_set("Baudrate", nullptr, "9600"); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(out, "");
    }
    link_settings.debug_level = 1;
    out = captured([&] { result = rc_set("Baudrate", nullptr, "9600"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "   Baudrate set to 9600\n");
    out = captured([] { rc_set("ZVZ set to ", "10", "ms"); });
    EXPECT_EQ(out, "   ZVZ set to  10 ms\n");
    out = captured([] { rc_set("label", nullptr, nullptr); });
    EXPECT_EQ(out, "   label set to \n");
}

TEST(TrimTrailing, RemovesEveryTrailingCopyOnly)
{
    char text[] = "  a b   ";
    EXPECT_EQ(trim_trailing(text, ' '), text);
    EXPECT_STREQ(text, "  a b");

    char all[] = "\n\n\n";
    EXPECT_STREQ(trim_trailing(all, '\n'), "");

    char empty[] = "";
    EXPECT_STREQ(trim_trailing(empty, ' '), "");

    char other[] = "line\r\n";
    EXPECT_STREQ(trim_trailing(other, '\r'), "line\r\n");
    EXPECT_STREQ(trim_trailing(other, '\n'), "line\r");
}

TEST(CopyBounded, CutsAndTerminates)
{
    std::array<char, 6> target{};
    target.fill('#');
    copy_bounded(target.data(), "abc", target.size());
    EXPECT_STREQ(target.data(), "abc");

    target.fill('#');
    copy_bounded(target.data(), "abcdefgh", target.size());
    EXPECT_STREQ(target.data(), "abcde");

    target.fill('#');
    copy_bounded(target.data(), "abcde", target.size());
    EXPECT_STREQ(target.data(), "abcde");

    target.fill('#');
    copy_bounded(target.data(), "abc", 1);
    EXPECT_EQ(target[0], '\0');
    EXPECT_EQ(target[1], '#');

    // Size 0 writes nothing at all.
    target.fill('#');
    copy_bounded(target.data(), "abc", 0);
    EXPECT_EQ(target[0], '#');
}

TEST(SplitTokens, RunsOfSeparatorsCountAsOne)
{
    char slots[4][8];
    std::memset(slots, '#', sizeof slots);
    EXPECT_EQ(split_tokens(",, BAUD ;;\t9600,", " \t\n,;", &slots[0][0], 4, 8), 2);
    EXPECT_STREQ(slots[0], "BAUD");
    EXPECT_STREQ(slots[1], "9600");
    EXPECT_EQ(slots[2][0], '#');
}

TEST(SplitTokens, EmptyTextOrNoTokens)
{
    char slots[2][8];
    std::memset(slots, '#', sizeof slots);
    EXPECT_EQ(split_tokens("", " ", &slots[0][0], 2, 8), 0);
    EXPECT_EQ(split_tokens("   ", " ", &slots[0][0], 2, 8), 0);
    EXPECT_EQ(slots[0][0], '#');
}

TEST(SplitTokens, StopsAtTheGreatestNumber)
{
    char slots[3][8];
    std::memset(slots, '#', sizeof slots);
    EXPECT_EQ(split_tokens("a b c d e", " ", &slots[0][0], 2, 8), 2);
    EXPECT_STREQ(slots[0], "a");
    EXPECT_STREQ(slots[1], "b");
    EXPECT_EQ(slots[2][0], '#');
}

TEST(SplitTokens, CutsTokensToTheSlotSize)
{
    char slots[3][4];
    std::memset(slots, '#', sizeof slots);
    EXPECT_EQ(split_tokens("abcdefg hi jklm", " ", &slots[0][0], 3, 4), 3);
    EXPECT_STREQ(slots[0], "abc");
    EXPECT_STREQ(slots[1], "hi");
    EXPECT_STREQ(slots[2], "jkl");
}

TEST(SplitTokens, LooksOnlyAtTheFirst255Characters)
{
    const std::string text = std::string(250, 'a') + " bcdef ghi";
    char slots[3][RC_TOKEN_BUFFER];
    EXPECT_EQ(split_tokens(text.c_str(), " ", &slots[0][0], 3, RC_TOKEN_BUFFER), 2);
    EXPECT_EQ(std::string(slots[0]), std::string(250, 'a'));
    EXPECT_STREQ(slots[1], "bcde");
}

TEST(RcNumber, DigitsUpToTheFirstOtherCharacter)
{
    EXPECT_EQ(rc_number("9600"), 9600);
    EXPECT_EQ(rc_number("9600baud"), 9600);
    EXPECT_EQ(rc_number("10ms"), 10);
    EXPECT_EQ(rc_number("+5"), 5);
    EXPECT_EQ(rc_number("-1"), -1);
    EXPECT_EQ(rc_number("007"), 7);
    EXPECT_EQ(rc_number("1 2"), 1);
    EXPECT_EQ(rc_number("abc"), 0);
    EXPECT_EQ(rc_number(""), 0);
    EXPECT_EQ(rc_number("-"), 0);
    EXPECT_EQ(rc_number("+-5"), 0);
    EXPECT_EQ(rc_number(" 5"), 0);
}

TEST(RcNumber, ClampsToTheSigned32BitRange)
{
    EXPECT_EQ(rc_number("2147483647"), INT32_MAX);
    EXPECT_EQ(rc_number("2147483648"), INT32_MAX);
    EXPECT_EQ(rc_number("-2147483648"), INT32_MIN);
    EXPECT_EQ(rc_number("-2147483649"), INT32_MIN);
    EXPECT_EQ(rc_number("99999999999999999999999999999999999999x"), INT32_MAX);
    EXPECT_EQ(rc_number("-99999999999999999999999999999999999999"), INT32_MIN);
    EXPECT_EQ(rc_number("4294967297"), INT32_MAX);
}

}  // namespace
}  // namespace qotest
