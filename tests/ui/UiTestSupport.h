#pragma once

#include "Main.h"
#include "Passwordformimp.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "UiHost.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

// Stands in for the desktop: records every message box, URL and dialog
// showing. Boxes are answered from a queue (OK when it is empty); each dialog
// showing runs the next scripted step, which works the dialog's own buttons,
// and ends with Cancel when no step is left.
class FakeHost : public IUiHost {
public:
    struct Box {
        QWidget* owner;
        QString text;
        QString caption;
        UiIcon icon;
        UiButtons buttons;
    };

    int MessageBox(QWidget* owner, const QString& text, const QString& caption, UiIcon icon,
                   UiButtons buttons) override
    {
        boxes.push_back({owner, text, caption, icon, buttons});
        if (answers.empty())
            return kModalOk;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    void OpenUrl(const QString& url) override { urls.push_back(url); }

    int ExecDialog(QDialog* dialog) override
    {
        shown.push_back(dialog);
        captions.push_back(dialog->windowTitle());
        if (steps.empty())
            return kModalCancel;
        auto step = steps.front();
        steps.pop_front();
        dialog->setResult(QDialog::Rejected);
        step(dialog);
        return dialog->result() == QDialog::Accepted ? kModalOk : kModalCancel;
    }

    std::vector<Box> boxes;
    std::deque<int> answers;
    std::vector<QString> urls;
    std::vector<QDialog*> shown;
    std::vector<QString> captions;
    std::deque<std::function<void(QDialog*)>> steps;
};

// Makes the main window and its three dialogs once per test process, as the
// tool does, with both timers stopped so that the tests drive every tick.
inline void CreateMainWindowOnce()
{
    if (Form1)
        return;
    Form1 = new TForm1;
    SetIpForm = new TSetIpForm(Form1);
    SetMacForm = new TSetMacForm(Form1);
    PasswordForm = new TPasswordForm(Form1);
    Form1->peTimer->stop();
    Form1->onvifTimer->stop();
}
