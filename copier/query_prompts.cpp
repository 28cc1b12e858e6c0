#include "copier/query_prompts.h"

#include <QFile>

#include "run/failure_message.h"
#include "texts/text_ids.h"
#include "ui/path_text.h"

namespace tessaly {
namespace {

// A question with the two answer buttons and, when flag is given, the check box bound
// to it. True for the first button.
bool ask(const QString& message, int caption, ModalPrompts::Icon icon, std::int32_t* flag,
         ModalPrompts& prompts, QWidget* owner, const std::function<QString(int)>& text)
{
    ModalPrompts::Prompt prompt;
    prompt.message = message;
    prompt.caption = text(caption);
    prompt.icon = icon;
    prompt.firstButton = text(text::kYes);
    prompt.secondButton = text(text::kNo);
    prompt.checkLabel = text(text::kDontShowAgain);
    prompt.offerCheck = flag != nullptr;
    const ModalPrompts::PromptAnswer answer = prompts.prompt(owner, prompt);
    if (flag != nullptr) {
        *flag = answer.checked ? 1 : 0;
    }
    return answer.button == 1;
}

bool askForCopy(EngineQuery& query, EngineStatus status, WindowSettings& flags,
                ModalPrompts& prompts, QWidget* owner, const std::function<QString(int)>& text,
                const std::atomic<bool>& closing)
{
    const bool additional = query.kind == QueryKind::AddReserved;
    if (additional && flags.dontAskForAddReserveds != 0) {
        return false;
    }
    RunMessage question = otherCopyQuestion(status, query.path);
    question.name = pathText(question.name).toStdString();
    const QString message = QString::fromStdString(
        composeRunMessage(question, [&](int id) { return text(id).toStdString(); }));
    const ModalPrompts::Icon icon = status == EngineStatus::CopyOpenFailed
                                        ? ModalPrompts::Icon::Error
                                        : ModalPrompts::Icon::Question;
    if (!ask(message, text::kReservedCopyCaption, icon,
             additional ? &flags.dontAskForAddReserveds : nullptr, prompts, owner, text) ||
        closing.load()) {
        return false;
    }
    const QString chosen = prompts.openFile(owner, QString(), QString(),
                                            QStringLiteral("All Files (*)"), QString());
    if (chosen.isEmpty()) {
        return false;
    }
    query.path = pathBytes(chosen);
    return true;
}

}  // namespace

bool askEngineQuery(EngineQuery& query, EngineStatus status, WindowSettings& flags,
                    ModalPrompts& prompts, QWidget* owner, const std::function<QString(int)>& text,
                    const std::atomic<bool>& closing)
{
    switch (query.kind) {
        case QueryKind::AddReserved:
        case QueryKind::AskReserved:
            return askForCopy(query, status, flags, prompts, owner, text, closing);
        case QueryKind::NoLog:
            return flags.dontAskForLog != 0 ||
                   (ask(text(text::kLogMissing), text::kConfirmationCaption,
                        ModalPrompts::Icon::Question, &flags.dontAskForLog, prompts, owner, text) &&
                    !closing.load());
        case QueryKind::Existing:
            return flags.dontAskConfirmForExistings != 0 ||
                   (ask(text(text::kDestinationExists), text::kConfirmationCaption,
                        ModalPrompts::Icon::Question, &flags.dontAskConfirmForExistings, prompts,
                        owner, text) &&
                    !closing.load());
    }
    return true;
}

}  // namespace tessaly
