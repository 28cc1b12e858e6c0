#pragma once

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>

namespace tessaly {

// A program window whose workers must leave before it closes: closing it and Escape ask
// it to end its run (requestEnd), which it does later with endRun, once nothing runs
// that could touch it; only then does it close.
class EndingDialog : public QDialog
{
public:
    using QDialog::QDialog;

    // The run has ended: the window has closed with its result.
    bool finished() const { return m_finished; }

    // Escape.
    void reject() override
    {
        if (m_finished) {
            QDialog::reject();
            return;
        }
        requestEnd();
    }

protected:
    // Starts ending the run; called for every close request, so it must let later
    // calls pass.
    virtual void requestEnd() = 0;
    // Ends the run with result and closes the window.
    void endRun(int result)
    {
        m_finished = true;
        done(result);
    }

    // Ends every dialog open over the window with no (Escape's answer), and an open
    // menu: a dialog's own loop runs inside the window's, so while one is open the
    // window's run cannot end, and a worker waiting for its answer cannot leave.
    void endNestedDialogs()
    {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr || dialog == this || !dialog->isVisible()) {
                continue;
            }
            for (QObject* owner = dialog->parent(); owner != nullptr; owner = owner->parent()) {
                if (owner == this) {
                    dialog->done(QDialog::Rejected);
                    break;
                }
            }
        }
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (m_finished) {
            event->accept();
            return;
        }
        event->ignore();
        requestEnd();
    }

private:
    bool m_finished = false;
};

}  // namespace tessaly
