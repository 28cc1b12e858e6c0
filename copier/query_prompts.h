#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/copy_engine.h"
#include "settings/window_settings.h"
#include "ui/modal_prompts.h"

class QWidget;

namespace tessaly {

// Puts one of the engine's questions to the user, on the window's thread: one more copy
// of the file (asked again with the engine's status, status, after a copy that was
// refused), going on without a log, or going on with an existing copy. A ticked "Don't
// show again" sets its flag among the window's settings (dontAskForAddReserveds,
// dontAskForLog, dontAskConfirmForExistings; nonzero: do not ask). True lets the engine go on; for the copies, query.path then
// holds the chosen file. Once closing is raised (while a question was open), nothing
// more is asked and the answer is no.
bool askEngineQuery(EngineQuery& query, EngineStatus status, WindowSettings& flags,
                    ModalPrompts& prompts, QWidget* owner, const std::function<QString(int)>& text,
                    const std::atomic<bool>& closing);

}  // namespace tessaly
