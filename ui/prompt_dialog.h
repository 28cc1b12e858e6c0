#pragma once

#include <QDialog>

#include "ui/modal_prompts.h"

class QCheckBox;

namespace tessaly {

// The program's own message box: an icon, the message, two buttons (the first is the
// default) and a "Don't show again" check box when the prompt offers one. Its size is
// 190 x 81 dialog units of its font, or what the message needs.
class PromptDialog : public QDialog
{
    Q_OBJECT
public:
    PromptDialog(const ModalPrompts::Prompt& prompt, QWidget* owner = nullptr);

    // Runs the dialog: the button that closed it (a close counts as the second) and the
    // check box's state at that moment.
    ModalPrompts::PromptAnswer ask();

private:
    QCheckBox* m_check = nullptr;
    bool m_offerCheck = false;
};

}  // namespace tessaly
