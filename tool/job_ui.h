#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tessaly {

// A message of a transfer job: a text alone, or a text, a file name and a second
// text. Texts are language-file ids; the front end looks them up when it shows them.
struct JobMessage
{
    int firstText = 0;
    std::string name;     // empty for a text alone
    int secondText = -1;  // -1 for a text alone

    bool hasName() const { return secondText >= 0; }
    bool operator==(const JobMessage&) const = default;
};

// Looks a text up by id; the front ends pass their language table's lookup.
using TextLookup = std::function<std::string(int)>;

// The message as every front end shows it: "first name\nsecond", or the first text
// alone. Every box of the tool carries text::kCaption as its caption.
std::string composeMessage(const JobMessage& message, const TextLookup& text);

// What a transfer job needs of whoever shows it. The jobs run on the worker
// thread and call these from there; a window implementation forwards them to its
// own thread (queued, and blocking-queued for locateFile, which needs an answer).
class JobUi
{
public:
    virtual ~JobUi() = default;

    // The "Data from" and "Data to" value fields: a file name without its folder.
    virtual void setDataFrom(const std::string& name) = 0;
    virtual void setDataTo(const std::string& name) = 0;
    // The State field, by text id.
    virtual void setState(int textId) = 0;
    // The progress bar, 0 to 100.
    virtual void setProgress(int percent) = 0;
    // An error box (stop icon) and a notice box (information icon); both return once
    // the user has seen them.
    virtual void showError(const JobMessage& message) = 0;
    virtual void showNotice(const JobMessage& message) = 0;
    // Lets the user pick one existing file of any type, in a dialog titled with
    // text titleText that starts in folder. The chosen file's full path, or nullopt
    // when the user cancelled.
    virtual std::optional<std::string> locateFile(int titleText, const std::string& folder) = 0;
};

}  // namespace tessaly
