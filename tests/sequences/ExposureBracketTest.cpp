// Exposure bracket plans against the settings panel's own lists: which setting steps in which
// mode, the codes and order of the frames, the body's limits refused with the reason before
// any frame, steps typed on the command line, and the texts stamped into the pictures.
#include "mainview/ValueLists.h"
#include "sequences/ExposureBracket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sequences;

namespace {

std::vector<ListEntry> Entries(panel::ValueList list)
{
    std::vector<ListEntry> out;
    for (const panel::ValueEntry& e : list)
        out.push_back({e.label, e.code});
    return out;
}

ExposureSituation Body(uint16_t mode, uint16_t tv, uint16_t compensation, bool fine = true)
{
    ExposureSituation s;
    s.mode = mode;
    s.tv = tv;
    s.compensation = compensation;
    s.tvList = Entries(fine ? panel::TvFine() : panel::TvCoarse());
    s.compensationList = Entries(fine ? panel::CompensationFine() : panel::CompensationCoarse());
    return s;
}

BracketRequest Request(int frames, int stepSixths, BracketOrder order = BracketOrder::ZeroMinusPlus)
{
    BracketRequest r;
    r.frames = frames;
    r.stepSixths = stepSixths;
    r.order = order;
    return r;
}

std::vector<std::string> Labels(const BracketPlan& p)
{
    std::vector<std::string> out;
    for (const BracketFrame& f : p.frames)
        out.push_back(f.label);
    return out;
}

std::vector<int> Offsets(const BracketPlan& p)
{
    std::vector<int> out;
    for (const BracketFrame& f : p.frames)
        out.push_back(f.offsetSixths);
    return out;
}

const std::string kMinus = "\u2212";

TEST(ExposureBracket, OffsetsFollowTheOrderWithAnEvenCountsExtraFrameOnTheDarkSide)
{
    EXPECT_EQ(BracketOffsets(5, BracketOrder::ZeroMinusPlus), (std::vector<int>{0, -2, -1, 1, 2}));
    EXPECT_EQ(BracketOffsets(5, BracketOrder::MinusZeroPlus), (std::vector<int>{-2, -1, 0, 1, 2}));
    EXPECT_EQ(BracketOffsets(4, BracketOrder::ZeroMinusPlus), (std::vector<int>{0, -2, -1, 1}));
    EXPECT_EQ(BracketOffsets(2, BracketOrder::MinusZeroPlus), (std::vector<int>{-1, 0}));
    EXPECT_EQ(BracketOffsets(15, BracketOrder::MinusZeroPlus).front(), -7);
}

TEST(ExposureBracket, ManualModeStepsTheShutterSpeedThroughTheBodysList)
{
    const BracketPlan p = PlanBracket(Body(4, 0x70, 0x18), Request(5, 4));  // 1/125, 2/3 EV
    ASSERT_TRUE(p.Ok()) << p.refusal;
    EXPECT_EQ(p.setting, ExposureSetting::ShutterSpeed);
    EXPECT_EQ(p.userCode, 0x70);
    EXPECT_EQ(p.userLabel, "1/125");
    EXPECT_EQ(Labels(p), (std::vector<std::string>{"1/125", "1/320", "1/200", "1/80", "1/50"}));
    EXPECT_EQ(Offsets(p), (std::vector<int>{0, -8, -4, 4, 8}));
    EXPECT_FALSE(p.modeUnknown);
    // Half-stop lists: a bracket in halves from a half-stop value.
    const BracketPlan coarse = PlanBracket(Body(4, 0x74, 0x18, false), Request(3, 3, BracketOrder::MinusZeroPlus));
    ASSERT_TRUE(coarse.Ok()) << coarse.refusal;
    EXPECT_EQ(Labels(coarse), (std::vector<std::string>{"1/250", "1/180", "1/125"}));
}

TEST(ExposureBracket, AutomaticModesStepTheCompensationAroundTheUsersOwn)
{
    for (uint16_t mode : {1, 2, 3, 5}) {
        const BracketPlan p = PlanBracket(Body(mode, 0xFFFF, 0x15), Request(3, 6));  // +1/3, 1 EV
        ASSERT_TRUE(p.Ok()) << mode << ": " << p.refusal;
        EXPECT_EQ(p.setting, ExposureSetting::Compensation);
        EXPECT_EQ(p.userLabel, "+1/3 EV");
        ASSERT_EQ(p.frames.size(), 3u);
        EXPECT_EQ(p.frames[0].code, 0x15);
        EXPECT_EQ(p.frames[1].code, 0x1D);  // -2/3
        EXPECT_EQ(p.frames[2].code, 0x0D);  // +1 1/3
    }
}

TEST(ExposureBracket, WhatTheBodyCannotReachIsRefusedWithTheReason)
{
    const std::string remedy =
        " Choose fewer frames or a smaller step, or start from a value nearer the middle of the range.";
    EXPECT_EQ(PlanBracket(Body(4, 0x90, 0x18), Request(3, 12)).refusal,  // 1/2000, 2 EV
              "The bracket needs a shutter speed 1 EV shorter than 1/4000, the camera's shortest." + remedy);
    EXPECT_EQ(PlanBracket(Body(4, 0x18, 0x18), Request(5, 6)).refusal,  // 15", 1 EV
              "The bracket needs a shutter speed 1 EV longer than 30\", the camera's longest." + remedy);
    EXPECT_EQ(PlanBracket(Body(3, 0xFFFF, 0x0D), Request(3, 8)).refusal,  // +1 1/3, 1 1/3 EV
              "The bracket needs an exposure compensation of +2 2/3 EV; the camera goes up to +2 EV." + remedy);
    EXPECT_EQ(PlanBracket(Body(3, 0xFFFF, 0x18, false), Request(7, 6)).refusal,
              "The bracket needs an exposure compensation of " + kMinus + "3 EV; the camera goes down to " + kMinus +
                  "2 EV." + remedy);
    // A third stop on a body set to half stops.
    EXPECT_EQ(PlanBracket(Body(4, 0x70, 0x18, false), Request(3, 4)).refusal,
              "The camera's shutter speed list has no value 2/3 EV away from 1/125. Choose a step of 1/2, 1, "
              "1 1/2, 2, 2 1/2 or 3 EV.");
    // A list with gaps (a body that leaves out some thirds): only the steps it has every frame for.
    {
        ExposureSituation gaps = Body(4, 0x70, 0x18);  // 1/125
        std::erase_if(gaps.tvList, [](const ListEntry& e) { return e.code == 0x73 || e.code == 0x6D; });
        EXPECT_EQ(PlanBracket(gaps, Request(3, 2)).refusal,
                  "The camera's shutter speed list has no value 1/3 EV away from 1/125. Choose a step of 2/3, 1, "
                  "1 1/3, 1 2/3, 2, 2 1/3, 2 2/3 or 3 EV.");
    }
    // Exactly to the limits is fine.
    EXPECT_TRUE(PlanBracket(Body(4, 0x88, 0x18), Request(3, 12)).Ok());  // 1/1000 .. 1/4000
}

TEST(ExposureBracket, ModesAndValuesThatTakeNoBracketAreRefused)
{
    EXPECT_EQ(PlanBracket(Body(7, 0x04, 0x18), Request(3, 6)).refusal,
              "The camera is in bulb mode. Turn the mode dial to M, Av, Tv or P to bracket.");
    EXPECT_EQ(PlanBracket(Body(102, 0xFFFF, 0x18), Request(3, 6)).refusal,
              "The camera sets the whole exposure itself in this mode (Landscape). Turn the mode dial to M, Av, Tv or "
              "P to bracket.");
    EXPECT_EQ(PlanBracket(Body(4, 0x04, 0x18), Request(3, 6)).refusal,
              "The shutter speed is set to bulb. Choose a time in the Tv list to bracket.");
    EXPECT_EQ(PlanBracket(Body(3, 0xFFFF, 0xFFFF), Request(3, 6)).refusal,
              "The camera sets the exposure compensation itself. Choose a value in the Exposure compensation list to "
              "bracket.");
    ExposureSituation unreadable = Body(4, 0x70, 0x18);
    unreadable.tv.reset();
    EXPECT_EQ(PlanBracket(unreadable, Request(3, 6)).refusal, "The camera's shutter speed cannot be read.");
    EXPECT_EQ(PlanBracket(Body(4, 0x70, 0x18), Request(1, 6)).refusal, "A bracket has 2 to 15 frames.");
    EXPECT_EQ(PlanBracket(Body(4, 0x70, 0x18), Request(16, 6)).refusal, "A bracket has 2 to 15 frames.");
    EXPECT_FALSE(PlanBracket(Body(4, 0x70, 0x18), Request(3, 1)).Ok());
}

TEST(ExposureBracket, WithoutAModeTheShutterSpeedStepsWhenTheBodyHasOneElseTheCompensation)
{
    ExposureSituation s = Body(4, 0x6D, 0x18);
    s.mode.reset();
    BracketPlan p = PlanBracket(s, Request(3, 6));
    ASSERT_TRUE(p.Ok()) << p.refusal;
    EXPECT_TRUE(p.modeUnknown);
    EXPECT_EQ(p.setting, ExposureSetting::ShutterSpeed);
    EXPECT_EQ(Labels(p), (std::vector<std::string>{"1/100", "1/200", "1/50"}));
    s.tv = 0xFFFF;
    p = PlanBracket(s, Request(3, 6));
    ASSERT_TRUE(p.Ok()) << p.refusal;
    EXPECT_EQ(p.setting, ExposureSetting::Compensation);
    s.compensation.reset();
    EXPECT_FALSE(PlanBracket(s, Request(3, 6)).Ok());
}

TEST(ExposureBracket, StepChoicesFollowTheListsFractions)
{
    EXPECT_EQ(StepChoices(Entries(panel::TvFine())), (std::vector<int>{2, 4, 6, 8, 10, 12, 14, 16, 18}));
    EXPECT_EQ(StepChoices(Entries(panel::CompensationCoarse())), (std::vector<int>{3, 6, 9, 12, 15, 18}));
    EXPECT_EQ(StepChoices({}).size(), 12u);  // nothing known: thirds and halves
    EXPECT_EQ(StepText(9), "1 1/2 EV");
}

TEST(ExposureBracket, StepsTypedAsFractionsOrDecimalsLandOnThirdsAndHalves)
{
    const std::vector<std::pair<const char*, int>> good = {
        {"1/3", 2}, {"2/3", 4}, {"0.7", 4}, {"0.33", 2}, {"1", 6}, {"1 1/3", 8}, {"4/3", 8},
        {"1.5", 9}, {"1/2", 3}, {"2.7", 16}, {"3", 18}, {" 2/3 ", 4}};
    for (const auto& [text, sixths] : good)
        EXPECT_EQ(ParseStepEv(text), std::optional<int>(sixths)) << text;
    for (const char* bad : {"", "0", "1/6", "5/6", "0.25", "3.5", "4", "x", "2/0", "-1", "1..5", ".5", "1 1.5", "1/3/3"})
        EXPECT_FALSE(ParseStepEv(bad).has_value()) << bad;
}

TEST(ExposureBracket, TextsNameTheOffsetWithATypographicMinus)
{
    EXPECT_EQ(EvText(0), "0 EV");
    EXPECT_EQ(EvText(-4), kMinus + "2/3 EV");
    EXPECT_EQ(EvText(8), "+1 1/3 EV");
    EXPECT_EQ(EvText(-18), kMinus + "3 EV");
    EXPECT_EQ(BracketComment(12, 3, 5, -4), "Bracket 12, 3/5, " + kMinus + "2/3 EV");
    EXPECT_EQ(CommentWithPiece("Studio B", "Bracket 1, 1/3, 0 EV"), "Studio B; Bracket 1, 1/3, 0 EV");
    EXPECT_EQ(CommentWithPiece("", "Bracket 1, 1/3, 0 EV"), "Bracket 1, 1/3, 0 EV");
    EXPECT_EQ(CommentWithPiece("Studio B", ""), "Studio B");
    EXPECT_EQ(CodeSixths(0x6D), std::optional<int>(13 * 6 + 4));
    EXPECT_FALSE(CodeSixths(0x71).has_value());
}

}  // namespace
