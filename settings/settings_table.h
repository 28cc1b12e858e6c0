#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>

#include "engine/engine_settings.h"
#include "settings/profile_settings.h"
#include "settings/window_settings.h"

namespace tessaly {

// Every key of the profile, once: its name and stored type, its default and the values
// it accepts. The names, types and defaults are shared with older installations and
// with the companion tool; they never change. Each default is also the value of the
// field it loads into in a fresh EngineSettings or WindowSettings, but EasyFirst's.
namespace profile_key {

// The engine's settings.
inline constexpr IntKey kAutoSectorRereads{"GetAutoSectorRereads", 1};
// A count below 1 is one the settings page refuses; a negative one would become an
// endless number of attempts per sector.
inline constexpr IntKey kSectorRereadsCount{"SectorRereadsCount", 1, 1};
inline constexpr IntKey kCreateLog{"CreateLog", 1};
inline constexpr IntKey kDeleteLogIfNoErrs{"DeleteLogIfNoErrs", 1};
// An unknown fill would make every unreadable sector end the copy as a write failure.
inline constexpr IntKey kNrrType = enumKey("NRRType", FillType::Zeros, kLastFillType);
inline constexpr IntKey kNrrValue{"NRRValue", 255};  // kept as stored; the engine takes a byte
inline constexpr TextKey kNrrString{"NRRString", "?"};
inline constexpr FloatKey kTime{"Time", 0.0f, 0.0f, 1.0f};
inline constexpr TextKey kRpFolder{"RPFolder", "A:\\Copy\\"};
inline constexpr IntKey kRpType =
    enumKey("RPType", ReservedPlacement::BesideSource, kLastReservedPlacement);
inline constexpr IntKey kEfpType = enumKey("EFPType", ExistingPolicy::Resume, kLastExistingPolicy);
inline constexpr IntKey kTrimFilled{"TrimFilled", 1, 0, 1};
inline constexpr IntKey kRetryPasses{"RetryPasses", 2, 0,
                                     static_cast<std::int32_t>(kMaxRetryPasses)};
// On in a profile without it; a fresh EngineSettings keeps the order of older installations.
inline constexpr IntKey kEasyFirst{"EasyFirst", 1, 0, 1};

// The copier window's settings.
inline constexpr TextKey kLanguage{"Language", "english.lng"};
inline constexpr TextKey kPath{"Path", ""};  // empty: the program folder
inline constexpr IntKey kAutoStartCopying{"AutoStartCopying", 1};
inline constexpr IntKey kDontAskForAddReserveds{"DontAskForAddReserveds", 0};
inline constexpr IntKey kDontAskForLog{"DontAskForLog", 0};
inline constexpr IntKey kDontAskConfirmForExistings{"DontAskConfirmForExistings", 1};
inline constexpr IntKey kReuseOutFolder{"ReuseOutFolder", 1};
inline constexpr TextKey kOutFolder{"OutFolder", ""};
inline constexpr IntKey kShowDetails{"ShowDetails", 0};
// A file whose medium goes away is waited for; 0 ends the run there.
inline constexpr IntKey kWaitForMedium{"WaitForMedium", 0};
// Any other value would leave the start without the action the Miscellaneous dialog
// shows for it.
inline constexpr IntKey kQuickStart = enumKey("QuickStart", QuickStart::AddFiles, kLastQuickStart);

}  // namespace profile_key

// A key and the field of Owner that it loads into and is stored from.
template <class Key, class Owner, class Field>
struct BoundKey
{
    Key key;
    Field Owner::*field;
};

template <class Key, class Owner, class Field>
constexpr BoundKey<Key, Owner, Field> bind(const Key& key, Field Owner::*field)
{
    return {key, field};
}

// The engine's settings, each with its key.
inline constexpr auto kEngineKeys = std::tuple{
    bind(profile_key::kAutoSectorRereads, &EngineSettings::autoRereads),
    bind(profile_key::kSectorRereadsCount, &EngineSettings::rereadCount),
    bind(profile_key::kCreateLog, &EngineSettings::createLog),
    bind(profile_key::kDeleteLogIfNoErrs, &EngineSettings::deleteLogIfNoErrors),
    bind(profile_key::kNrrType, &EngineSettings::fillType),
    bind(profile_key::kNrrValue, &EngineSettings::fillValue),
    bind(profile_key::kNrrString, &EngineSettings::fillString),
    bind(profile_key::kTime, &EngineSettings::optimizeFor),
    bind(profile_key::kRpFolder, &EngineSettings::reservedFolder),
    bind(profile_key::kRpType, &EngineSettings::reservedPlacement),
    bind(profile_key::kEfpType, &EngineSettings::existingPolicy),
    bind(profile_key::kTrimFilled, &EngineSettings::trimPass),
    bind(profile_key::kRetryPasses, &EngineSettings::retryPasses),
    bind(profile_key::kEasyFirst, &EngineSettings::easyFirst),
};

// The window's settings that load and save as they stand. Language and Path have rules
// of their own (see loadSettings), and OutFolder is saved empty while ReuseOutFolder is 0.
inline constexpr auto kWindowKeys = std::tuple{
    bind(profile_key::kAutoStartCopying, &WindowSettings::autoStartCopying),
    bind(profile_key::kDontAskForAddReserveds, &WindowSettings::dontAskForAddReserveds),
    bind(profile_key::kDontAskForLog, &WindowSettings::dontAskForLog),
    bind(profile_key::kDontAskConfirmForExistings, &WindowSettings::dontAskConfirmForExistings),
    bind(profile_key::kReuseOutFolder, &WindowSettings::reuseOutFolder),
    bind(profile_key::kOutFolder, &WindowSettings::outputFolder),
    bind(profile_key::kShowDetails, &WindowSettings::showDetails),
    bind(profile_key::kWaitForMedium, &WindowSettings::waitForMedium),
    bind(profile_key::kQuickStart, &WindowSettings::quickStart),
};

namespace profile_value {

// A field's value from what its key stores: flags are "not 0", enums their number,
// the fill value the low byte of what is stored.
template <class Field, class Stored>
Field fromStored(const Stored& stored)
{
    if constexpr (std::is_same_v<Field, bool>) {
        return stored != 0;
    } else if constexpr (std::is_same_v<Field, std::uint8_t>) {
        return static_cast<std::uint8_t>(stored & 0xFF);
    } else {
        return static_cast<Field>(stored);
    }
}

// What a key stores for a field's value.
template <class Field>
auto toStored(const Field& value)
{
    if constexpr (std::is_same_v<Field, bool>) {
        return std::int32_t{value ? 1 : 0};
    } else if constexpr (std::is_enum_v<Field> || std::is_integral_v<Field>) {
        return static_cast<std::int32_t>(value);
    } else {
        return value;
    }
}

}  // namespace profile_value

// Reads every key of table into its field of owner.
template <class Owner, class... Keys>
void loadKeys(const ProfileSettings& profile, Owner& owner, const std::tuple<Keys...>& table)
{
    std::apply(
        [&](const auto&... row) {
            ((owner.*row.field =
                  profile_value::fromStored<std::remove_cvref_t<decltype(owner.*row.field)>>(
                      profile.get(row.key))),
             ...);
        },
        table);
}

// Writes every field of owner under its key of table.
template <class Owner, class... Keys>
void storeKeys(ProfileSettings& profile, const Owner& owner, const std::tuple<Keys...>& table)
{
    std::apply(
        [&](const auto&... row) {
            (profile.set(row.key, profile_value::toStored(owner.*row.field)), ...);
        },
        table);
}

}  // namespace tessaly
