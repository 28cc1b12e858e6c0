#pragma once

#include <cstdint>
#include <string>

#include "engine/fill_type.h"

namespace tessaly {

// Where the reserved copies of a file are looked for; stored by number in the profile.
enum class ReservedPlacement : std::int32_t
{
    InFolder = 0,
    BesideSource = 1,
    Ask = 2
};
inline constexpr ReservedPlacement kLastReservedPlacement = ReservedPlacement::Ask;

// What happens to a destination that exists; stored by number in the profile.
enum class ExistingPolicy : std::int32_t
{
    Replace = 0,
    Append = 1,
    Resume = 2,
    Skip = 3
};
inline constexpr ExistingPolicy kLastExistingPolicy = ExistingPolicy::Skip;

// The most retry passes a copy gets.
inline constexpr std::uint32_t kMaxRetryPasses = 9;

// Every setting of a CopyEngine, with the defaults of an empty profile.
struct EngineSettings
{
    bool autoRereads = true;
    bool createLog = true;
    bool deleteLogIfNoErrors = true;
    std::string fillString = "?";
    FillType fillType = FillType::Zeros;  // a value outside FillType fails every fill
    std::uint8_t fillValue = 255;
    float optimizeFor = 0.0f;  // 0 = data .. 1 = speed; the fill factor is 1 + optimizeFor
    std::string reservedFolder = "A:\\Copy\\";  // with a trailing separator unless empty
    ReservedPlacement reservedPlacement = ReservedPlacement::BesideSource;
    std::uint32_t rereadCount = 1;  // attempts per sector while autoRereads is off
    ExistingPolicy existingPolicy = ExistingPolicy::Resume;
    bool trimPass = true;  // retry the edges of the filled regions at the end of a file
    // Passes over the small filled regions after the trim (0 to kMaxRetryPasses); they
    // run only with the trim pass.
    std::uint32_t retryPasses = 2;
    // Read the easy data of a file first: chunks only, skipping ahead past failures,
    // before the main pass goes over what was skipped (see easy_pass.cpp).
    bool easyFirst = false;
    // A source of no more bytes is read in order all the same: skipping within it saves
    // next to nothing, and the phases' logs cost syncs (a small file's copy would take
    // twice as long). Not in the profile; the tests lower it to try the phases on small
    // files.
    std::uint64_t easyFirstAbove = 16 * 102400;

    bool operator==(const EngineSettings&) const = default;
};

// The settings as an engine keeps them when wanted replaces current: the reserved
// folder gets a trailing separator (an empty one stays empty), and an optimizeFor
// outside [0, 1] (NaN too) keeps current's; more retry passes than kMaxRetryPasses
// count as that many.
EngineSettings normalisedSettings(EngineSettings wanted, const EngineSettings& current);

}  // namespace tessaly
