#include "tool/job_ui.h"

namespace tessaly {

std::string composeMessage(const JobMessage& message, const TextLookup& text)
{
    const std::string first = text ? text(message.firstText) : std::string();
    if (!message.hasName()) return first;
    return first + " " + message.name + "\n" + (text ? text(message.secondText) : std::string());
}

}  // namespace tessaly
