#pragma once

#include <cstdint>
#include <string>

#include "engine/copy_engine.h"

namespace tessaly {

// Every setting of a CopyEngine, with the defaults of an empty profile.
struct EngineSettings
{
    bool autoRereads = true;
    bool createLog = true;
    bool deleteLogIfNoErrors = true;
    std::string fillString = "?";
    FillType fillType = FillType::Zeros;
    std::uint8_t fillValue = 255;
    float optimizeFor = 0.0f;  // 0 = data .. 1 = speed
    std::string reservedFolder = "A:\\Copy\\";
    ReservedPlacement reservedPlacement = ReservedPlacement::BesideSource;
    std::uint32_t rereadCount = 1;
    ExistingPolicy existingPolicy = ExistingPolicy::Resume;
    bool trimPass = true;  // retry the edges of the filled regions at the end of a file

    bool operator==(const EngineSettings&) const = default;
};

// Hands each setting to the engine's setter, in the order the copier loads them.
void applySettings(CopyEngine& engine, const EngineSettings& settings);

// The engine's current settings, as its getters return them.
EngineSettings settingsOf(const CopyEngine& engine);

}  // namespace tessaly
