#pragma once

#include "engine/copy_engine.h"

namespace tessaly {

// Changes one setting of engine and keeps the others.
template <class T, class V>
void setSetting(CopyEngine& engine, T EngineSettings::*field, V value)
{
    EngineSettings settings = engine.settings();
    settings.*field = static_cast<T>(value);
    engine.setSettings(settings);
}

}  // namespace tessaly
