#include "engine/engine_settings.h"

#include <algorithm>

#include "engine/destination.h"

namespace tessaly {

EngineSettings normalisedSettings(EngineSettings wanted, const EngineSettings& current)
{
    wanted.reservedFolder = withSeparator(wanted.reservedFolder);
    if (!(wanted.optimizeFor >= 0.0f && wanted.optimizeFor <= 1.0f)) {
        wanted.optimizeFor = current.optimizeFor;
    }
    wanted.retryPasses = std::min(wanted.retryPasses, kMaxRetryPasses);
    return wanted;
}

}  // namespace tessaly
