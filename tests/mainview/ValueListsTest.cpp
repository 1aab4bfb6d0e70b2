// The panel's value lists and text rules, without widgets.
#include "mainview/ValueLists.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using namespace panel;

namespace {

CustomFunctionReader Functions(std::map<int, uint16_t> values)
{
    return [values](int n) {
        auto it = values.find(n);
        return it == values.end() ? uint16_t{0} : it->second;
    };
}

// Shared shape of the exposure lists: codes rise strictly up to the "Auto" end marker,
// and every code lies on the eighth-stop scale (whole, third or half stops).
void ExpectExposureScale(ValueList list, bool hasBulb)
{
    ASSERT_FALSE(list.empty());
    EXPECT_STREQ(list.back().label, "Auto");
    EXPECT_EQ(list.back().code, kAutoCode);
    size_t first = 0;
    if (hasBulb) {
        EXPECT_STREQ(list.front().label, "bulb");
        EXPECT_EQ(list.front().code, kBulbCode);
        first = 1;
    }
    for (size_t i = first; i + 1 < list.size(); ++i) {
        const uint32_t frac = list[i].code & 7;
        EXPECT_TRUE(frac == 0 || frac == 3 || frac == 4 || frac == 5) << list[i].label;
        if (i + 2 < list.size()) {
            EXPECT_LT(list[i].code, list[i + 1].code) << list[i].label;
        }
    }
}

}  // namespace

TEST(ValueLists, ShutterSpeedsHaveTheirSizesScaleAndInchSigns)
{
    ASSERT_EQ(TvFine().size(), 54u);
    ASSERT_EQ(TvCoarse().size(), 37u);
    ExpectExposureScale(TvFine(), true);
    ExpectExposureScale(TvCoarse(), true);
    // Anchors of the scale: 30 s, 1 s, 1/4000 s.
    EXPECT_STREQ(TvFine()[1].label, "30\"");
    EXPECT_EQ(TvFine()[1].code, 0x10u);
    EXPECT_EQ(TvFine()[IndexOfCode(TvFine(), 0x38)].label, std::string("1\""));
    EXPECT_STREQ(TvFine()[52].label, "1/4000");
    EXPECT_EQ(TvFine()[52].code, 0x98u);
    // Times of 0.3 s and longer carry the inch sign, shorter ones are fractions.
    for (ValueList list : {TvFine(), TvCoarse()}) {
        for (size_t i = 1; i + 1 < list.size(); ++i) {
            const std::string label = list[i].label;
            if (list[i].code <= 0x45) {
                EXPECT_EQ(label.back(), '"') << label;
            } else {
                EXPECT_EQ(label.rfind("1/", 0), 0u) << label;
            }
        }
    }
    EXPECT_STREQ(TvCoarse()[14].label, "0.3\"");
    EXPECT_EQ(TvCoarse()[14].code, 0x44u);
    EXPECT_STREQ(TvCoarse()[IndexOfCode(TvCoarse(), 0x64)].label, "1/45");
}

TEST(ValueLists, AperturesAndCompensation)
{
    ASSERT_EQ(AvFine().size(), 41u);
    ASSERT_EQ(AvCoarse().size(), 28u);
    ExpectExposureScale(AvFine(), false);
    ExpectExposureScale(AvCoarse(), false);
    EXPECT_STREQ(AvFine()[0].label, "1.0");
    EXPECT_EQ(AvFine()[0].code, 0x08u);
    EXPECT_STREQ(AvFine()[IndexOfCode(AvFine(), 0x20)].label, "2.8");
    EXPECT_STREQ(AvFine()[39].label, "91");
    EXPECT_STREQ(AvCoarse()[IndexOfCode(AvCoarse(), 0x34)].label, "6.7");

    ASSERT_EQ(CompensationFine().size(), 13u);
    ASSERT_EQ(CompensationCoarse().size(), 9u);
    for (ValueList list : {CompensationFine(), CompensationCoarse()}) {
        EXPECT_STREQ(list.front().label, "+2");
        EXPECT_EQ(list.front().code, 0x08u);
        EXPECT_STREQ(list.back().label, "-2");
        EXPECT_EQ(list.back().code, 0x28u);
        EXPECT_STREQ(list[static_cast<size_t>(IndexOfCode(list, 0x18))].label, "None");
        EXPECT_EQ(IndexOfCode(list, 0x18), static_cast<int>(list.size() / 2));
    }
    EXPECT_STREQ(CompensationFine()[1].label, "+1 2/3");
    EXPECT_STREQ(CompensationCoarse()[7].label, "-1 1/2");
}

TEST(ValueLists, FixedListsInTheirOrder)
{
    ASSERT_EQ(SizeQuality().size(), 7u);
    EXPECT_STREQ(SizeQuality()[0].label, "Raw");
    EXPECT_EQ(SizeQuality()[0].code, 0x4u);
    EXPECT_STREQ(SizeQuality()[3].label, "Medium/fine");
    EXPECT_EQ(SizeQuality()[3].code, 0x10003u);
    EXPECT_EQ(SizeQuality()[6].code, 0x20002u);

    ASSERT_EQ(WhiteBalance8().size(), 8u);
    ASSERT_EQ(WhiteBalance9().size(), 9u);
    const uint32_t wb[] = {0, 1, 8, 2, 3, 4, 5, 6, 9};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(WhiteBalance9()[i].code, wb[i]);
    EXPECT_STREQ(WhiteBalance9()[2].label, "Shade");
    EXPECT_STREQ(WhiteBalance9()[8].label, "Kelvin");
    EXPECT_EQ(IndexOfCode(WhiteBalance8(), 9), -1);

    EXPECT_STREQ(Metering()[2].label, "Center-weighted");
    EXPECT_EQ(Metering()[2].code, 5u);
    EXPECT_STREQ(Drive()[2].label, "Self-timer");
    EXPECT_EQ(Drive()[2].code, 0x10u);
    EXPECT_STREQ(AfMode()[3].label, "Manual Focus");
    EXPECT_EQ(AfMode()[3].code, 3u);

    EXPECT_EQ(Iso3200().size(), 6u);
    EXPECT_EQ(Iso1600().size(), 5u);
    EXPECT_STREQ(Iso1600().back().label, "1600");
    EXPECT_EQ(Iso1000().back().code, 0x63u);
    EXPECT_STREQ(Iso1000().back().label, "1000");
}

TEST(ValueLists, ListsByModel)
{
    EXPECT_EQ(ModelFromFlags(true, false, false, false), Model::Eos10D);
    EXPECT_EQ(ModelFromFlags(false, true, false, false), Model::Eos300D);
    EXPECT_EQ(ModelFromFlags(false, false, true, false), Model::D30);
    EXPECT_EQ(ModelFromFlags(false, false, false, true), Model::D60);
    EXPECT_EQ(ModelFromFlags(false, false, false, false), Model::Other);

    EXPECT_EQ(WhiteBalanceListFor(Model::Eos10D).size(), 9u);
    EXPECT_EQ(WhiteBalanceListFor(Model::Other).size(), 9u);
    for (Model m : {Model::Eos300D, Model::D30, Model::D60})
        EXPECT_EQ(WhiteBalanceListFor(m).size(), 8u);

    EXPECT_EQ(IsoListFor(Model::Eos10D).back().code, 0x70u);
    EXPECT_EQ(IsoListFor(Model::Other).back().code, 0x70u);
    EXPECT_EQ(IsoListFor(Model::Eos300D).back().code, 0x68u);
    EXPECT_EQ(IsoListFor(Model::D30).back().code, 0x68u);
    EXPECT_EQ(IsoListFor(Model::D60).back().code, 0x63u);
}

TEST(ValueLists, FineOrCoarseByCustomFunction)
{
    EXPECT_TRUE(UsesFineLists(Model::Eos300D, Functions({})));
    EXPECT_TRUE(UsesFineLists(Model::Other, Functions({})));
    EXPECT_FALSE(UsesFineLists(Model::Eos10D, Functions({{4, 1}})));
    EXPECT_TRUE(UsesFineLists(Model::Eos10D, Functions({{6, 1}})));
    EXPECT_FALSE(UsesFineLists(Model::D30, Functions({{6, 1}})));
    EXPECT_TRUE(UsesFineLists(Model::D30, Functions({{4, 2}})));
    EXPECT_TRUE(UsesFineLists(Model::D60, Functions({{4, 1}})));
}

TEST(ValueLists, FocusPointsAndTheirWrites)
{
    std::set<uint16_t> codes;
    for (const auto& b : FocusPointButtons())
        codes.insert(b.code);
    EXPECT_EQ(codes, (std::set<uint16_t>{2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(FocusPointCode(1020), 7);  // top
    EXPECT_EQ(FocusPointCode(1021), 3);  // centre
    EXPECT_EQ(FocusPointCode(1022), 8);  // bottom
    EXPECT_EQ(FocusPointCode(1024), 6);  // far left
    EXPECT_EQ(FocusPointCode(1026), 5);  // far right
    EXPECT_EQ(FocusPointCode(1027), 0);
    EXPECT_EQ(FocusPointCode(999), 0);

    EXPECT_EQ(FocusPointWriteValue(3, Model::Eos10D), 0x7003);
    EXPECT_EQ(FocusPointWriteValue(kSelectAllCode, Model::Eos300D), 0x7001);
    EXPECT_EQ(FocusPointWriteValue(4, Model::D30), 0x3004);
    EXPECT_EQ(FocusPointWriteValue(kSelectAllCode, Model::D60), 0x3001);

    // Automatic selection checks every button; otherwise only the matching one.
    for (const auto& b : FocusPointButtons()) {
        EXPECT_TRUE(FocusPointChecked(0x7001, b.code));
        EXPECT_EQ(FocusPointChecked(0x7003, b.code), b.code == 3);
        EXPECT_EQ(FocusPointChecked(0x3008, b.code), b.code == 8);  // only the low 4 bits count
    }
    EXPECT_TRUE(FocusPointShown(1020, Model::Eos10D));
    for (int id : {1020, 1022, 1024, 1026})
        EXPECT_FALSE(FocusPointShown(id, Model::D30)) << id;
    for (int id : {1021, 1023, 1025})
        EXPECT_TRUE(FocusPointShown(id, Model::D60)) << id;
}

TEST(ValueLists, SizeQualityCodes)
{
    EXPECT_EQ(SizeQualityCode(3, 1), 0x10003u);
    EXPECT_EQ(SizeQualityCode(4, 0), 0x4u);
    EXPECT_EQ(SizeQualityCode(0x1202, 0x0302), 0x20002u);  // only the low byte of each counts
    EXPECT_EQ(QualityOf(0x20003), 3);
    EXPECT_EQ(SizeOf(0x20003), 2);
    for (const auto& e : SizeQuality())
        EXPECT_EQ(SizeQualityCode(QualityOf(e.code), SizeOf(e.code)), e.code) << e.label;
}

TEST(PanelTexts, ButtonFunctionAndMirrorLockupLines)
{
    ButtonLines l = ButtonFunctionLines(Model::Eos10D, Functions({{4, 0}}));
    EXPECT_EQ(l.shutter, "Shutter release: AF");
    EXPECT_EQ(l.aeLock, "AE lock button: AE lock");
    l = ButtonFunctionLines(Model::Eos10D, Functions({{4, 1}}));
    EXPECT_EQ(l.shutter, "Shutter release: AE lock");
    EXPECT_EQ(l.aeLock, "AE lock button: AF");
    l = ButtonFunctionLines(Model::Other, Functions({{4, 2}}));
    EXPECT_EQ(l.aeLock, "AE lock button: AF lock, no AE lock");
    // The D30 and D60 keep the function under number 2.
    l = ButtonFunctionLines(Model::D30, Functions({{2, 3}, {4, 1}}));
    EXPECT_EQ(l.shutter, "Shutter release: AE");
    EXPECT_EQ(l.aeLock, "AE lock button: AF, no AE lock");
    l = ButtonFunctionLines(Model::Eos10D, Functions({{4, 4}}));
    EXPECT_TRUE(l.shutter.empty() && l.aeLock.empty());
    l = ButtonFunctionLines(Model::Eos300D, Functions({{4, 1}, {2, 1}}));
    EXPECT_TRUE(l.shutter.empty() && l.aeLock.empty());

    EXPECT_EQ(MirrorLockupLine(Model::Eos10D, Functions({{12, 1}})), "Mirror lockup: ENABLED");
    EXPECT_EQ(MirrorLockupLine(Model::Eos10D, Functions({{3, 1}})), "");
    EXPECT_EQ(MirrorLockupLine(Model::D60, Functions({{3, 1}})), "Mirror lockup: ENABLED");
    EXPECT_EQ(MirrorLockupLine(Model::D30, Functions({{12, 1}})), "");
    EXPECT_EQ(MirrorLockupLine(Model::Eos300D, Functions({{12, 1}, {3, 1}})), "");
}

TEST(PanelTexts, ModeLine)
{
    EXPECT_EQ(ModeLine(0), "Mode: Auto");
    EXPECT_EQ(ModeLine(1), "Mode: Program");
    EXPECT_EQ(ModeLine(7), "Mode: BULB");
    EXPECT_EQ(ModeLine(102), "Mode: Landscape");
    EXPECT_EQ(ModeLine(109), "Mode: Sport");
    EXPECT_EQ(ModeLine(114), "Mode: Neutral");
    EXPECT_EQ(ModeLine(0xFFFF), "Mode: Unknown");
    EXPECT_EQ(ModeLine(200), "Mode: 0x00c8");
    EXPECT_EQ(ModeLine(8), "Mode: 0x0008");
    EXPECT_EQ(ModeLine(0xFFFE), "Mode: 0xfffe");
    for (uint16_t m : {1, 2, 3, 4, 5, 7})
        EXPECT_TRUE(IsCreativeMode(m)) << m;
    for (uint16_t m : {0, 6, 101, 102, 0xFFFF})
        EXPECT_FALSE(IsCreativeMode(m)) << m;
}

TEST(PanelTexts, ParameterSetAndLensLines)
{
    EXPECT_EQ(ParameterSetLine(Model::Eos10D, 0), "Parameter Set: Standard, sRGB");
    EXPECT_EQ(ParameterSetLine(Model::Eos300D, 0), "Parameter Set: Parameter 1, sRGB");
    EXPECT_EQ(ParameterSetLine(Model::Eos10D, 2), "Parameter Set: Set 2, sRGB");
    EXPECT_EQ(ParameterSetLine(Model::Eos300D, 4), "Parameter Set: Adobe RGB");
    EXPECT_EQ(ParameterSetLine(Model::Eos10D, 5), "Parameter Set: Undefined (5)");
    EXPECT_EQ(ParameterSetLine(Model::Eos300D, 5), "Parameter Set: Parameter 2, sRGB");
    EXPECT_EQ(ParameterSetLine(Model::Other, 6), "Parameter Set: Undefined");
    EXPECT_EQ(ParameterSetLine(Model::D30, 1), "");

    EXPECT_EQ(LensLine(10, 500, 280, 1350), "Lens: 135-28 @ 50mm");
    EXPECT_EQ(LensLine(10, 500, 500, 500), "Lens: 50mm");
    EXPECT_EQ(LensLine(1, 85, 85, 85), "Lens: 85mm");
    EXPECT_EQ(LensLine(3, 100, 50, 200), "Lens: 66-16 @ 33mm");  // integer division
    EXPECT_EQ(LensLine(0, 500, 280, 1350), "Lens: ");
    EXPECT_EQ(LensLine(0xFFFF, 500, 280, 1350), "Lens: ");
}

TEST(PanelTexts, ColourTemperatureClampAndRounding)
{
    EXPECT_EQ(ColourTemperatureFromText("5350"), 5400);
    EXPECT_EQ(ColourTemperatureFromText("5300"), 5400);  // halfway rounds up
    EXPECT_EQ(ColourTemperatureFromText("5299"), 5200);
    EXPECT_EQ(ColourTemperatureFromText("2000"), 2800);
    EXPECT_EQ(ColourTemperatureFromText("12000"), 10000);
    EXPECT_EQ(ColourTemperatureFromText("9999"), 10000);
    EXPECT_EQ(ColourTemperatureFromText("abc"), 2800);
    EXPECT_EQ(ColourTemperatureFromText(""), 2800);
    EXPECT_EQ(ColourTemperatureFromText("  6500  "), 6600);
    EXPECT_EQ(ColourTemperatureFromText("4000K"), 4000);
    // Values beyond 16 bits and negative ones land on the nearer limit, not wrapped around.
    EXPECT_EQ(ColourTemperatureFromText("70000"), 10000);
    EXPECT_EQ(ColourTemperatureFromText("65537"), 10000);
    EXPECT_EQ(ColourTemperatureFromText("99999999999999999999999"), 10000);
    EXPECT_EQ(ColourTemperatureFromText("-5000"), 2800);
    EXPECT_EQ(ColourTemperatureFromText("+3000"), 3000);
}
