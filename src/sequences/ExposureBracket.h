// ExposureBracket: the plan of an exposure bracket, without any window or camera call. From
// the body's exposure mode, its current values and its own lists of values it decides which
// setting steps (the shutter speed in manual mode, the exposure compensation in the
// automatic modes that take one) and the code of every frame in shooting order, or says in
// words why the body cannot take the bracket. Also the texts a bracket writes (EV offsets,
// the Comment piece of each frame) and the reading of a step typed on the command line.
//
// Exposure counts in sixths of a stop here, so that third stops (2) and half stops (3) are
// both exact. The camera's codes are on its eighth-stop scale (whole stops 8 apart, thirds
// at 3 and 5, halves at 4); a larger Tv code is a shorter time, a larger compensation code
// a darker picture, so a frame "n sixths darker" has a code n sixths higher for both.
//
// Pure functions: any thread, never blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sequences {

constexpr int kSixthsPerStop = 6;
constexpr int kMinBracketFrames = 2;
constexpr int kMaxBracketFrames = 15;
constexpr int kMinStepSixths = 2;   // 1/3 EV
constexpr int kMaxStepSixths = 18;  // 3 EV

// The shooting order of a bracket: the metered frame first, or from darkest to brightest.
enum class BracketOrder { ZeroMinusPlus = 0, MinusZeroPlus = 1 };
// The setting a bracket steps.
enum class ExposureSetting { ShutterSpeed, Compensation };

struct ListEntry {
    std::string label;
    uint32_t code = 0;
};

// What the body says about its exposure, and the lists of values it offers (as the settings
// panel shows them: "bulb" and "Auto" entries may be among them and are never chosen).
struct ExposureSituation {
    std::optional<uint16_t> mode;          // shooting mode; none when the body does not say
    std::optional<uint16_t> tv;            // current codes; none when they cannot be read
    std::optional<uint16_t> compensation;
    std::vector<ListEntry> tvList;
    std::vector<ListEntry> compensationList;
};

struct BracketRequest {
    int frames = 3;
    int stepSixths = 4;  // 2/3 EV
    BracketOrder order = BracketOrder::ZeroMinusPlus;
};

struct BracketFrame {
    uint16_t code = 0;
    std::string label;      // the list's label of the code
    int offsetSixths = 0;   // exposure against the user's setting; negative is darker
};

struct BracketPlan {
    ExposureSetting setting = ExposureSetting::ShutterSpeed;
    uint16_t userCode = 0;        // the setting the user had: put back after the set
    std::string userLabel;        // as the user reads it: the Tv list's label, or the compensation in EV
    std::vector<BracketFrame> frames;  // in shooting order
    // Without a known mode the body's answers are the only guide: every code of the plan is
    // tried (written and read back) before the first frame.
    bool modeUnknown = false;
    std::string refusal;          // why the body cannot take the bracket; empty when it can
    bool Ok() const { return refusal.empty(); }
};

// The offsets of the frames in steps, in shooting order: symmetric around the metered
// frame, an even count having its extra frame on the dark side (4 frames: -2, -1, 0, +1).
std::vector<int> BracketOffsets(int frames, BracketOrder order);

BracketPlan PlanBracket(const ExposureSituation& situation, const BracketRequest& request);

// The setting a bracket steps: by the mode (M: shutter speed; P, Tv, Av, A-DEP: exposure
// compensation); without a known mode the shutter speed when the body reports one it can
// step, else the exposure compensation. None in a mode that takes no bracket.
std::optional<ExposureSetting> BracketSettingFor(const ExposureSituation& situation);

// Sixths of a stop of a code on the camera's scale; none for a code off the scale
// (fractions other than 0, thirds and halves).
std::optional<int> CodeSixths(uint32_t code);

// The steps a list's values allow, in sixths, smallest first: thirds for a list in third
// stops, halves for one in half stops, both when it holds both (or holds no usable value);
// from 1/3 (or 1/2) to 3 EV.
std::vector<int> StepChoices(const std::vector<ListEntry>& list);

// "0 EV", "+1 EV", "\u22122/3 EV", "+1 1/3 EV" (the minus is the typographic minus sign).
std::string EvText(int sixths);
// A step as the dialog names it: "1/3 EV", "1 1/2 EV".
std::string StepText(int sixths);
// The piece of the Comment that names the set and the frame: "Bracket 12, 3/5, \u22122/3 EV".
std::string BracketComment(int set, int frame, int frames, int offsetSixths);
// The user's comment followed by the sequence's piece ("; " between them when both are there).
std::string CommentWithPiece(const std::string& userComment, const std::string& piece);

// A step in EV as typed: "2/3", "1 1/3", "0.7", "1", "1.5". Only thirds and halves of a stop
// from 1/3 to 3 EV; decimals are taken to the nearest third or half within 0.05 EV.
std::optional<int> ParseStepEv(std::string_view text);

}  // namespace sequences
