#include "engine/engine_settings.h"

namespace tessaly {

void applySettings(CopyEngine& engine, const EngineSettings& settings)
{
    engine.setAutoRereads(settings.autoRereads);
    engine.setCreateLog(settings.createLog);
    engine.setDeleteLogIfNoErrors(settings.deleteLogIfNoErrors);
    engine.setFillString(settings.fillString);
    engine.setFillType(settings.fillType);
    engine.setFillValue(settings.fillValue);
    engine.setOptimizeFor(settings.optimizeFor);
    engine.setReservedFolder(settings.reservedFolder);
    engine.setReservedPlacement(settings.reservedPlacement);
    engine.setRereadCount(settings.rereadCount);
    engine.setExistingPolicy(settings.existingPolicy);
    engine.setTrimPass(settings.trimPass);
}

EngineSettings settingsOf(const CopyEngine& engine)
{
    EngineSettings settings;
    settings.autoRereads = engine.autoRereads();
    settings.createLog = engine.createLog();
    settings.deleteLogIfNoErrors = engine.deleteLogIfNoErrors();
    settings.fillString = engine.fillString();
    settings.fillType = engine.fillType();
    settings.fillValue = engine.fillValue();
    settings.optimizeFor = engine.optimizeFor();
    settings.reservedFolder = engine.reservedFolder();
    settings.reservedPlacement = engine.reservedPlacement();
    settings.rereadCount = engine.rereadCount();
    settings.existingPolicy = engine.existingPolicy();
    settings.trimPass = engine.trimPass();
    return settings;
}

}  // namespace tessaly
