#pragma once

#include <QString>

class QDialog;
class QWidget;

// Results of a modal dialog or message box, as the handlers compare them.
constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;

enum class UiIcon { Error, Question };
enum class UiButtons { Ok, OkCancel };

// The few blocking or desktop-facing operations of the window layer. The
// handlers reach them only through UiHost(), so a test can put its own host in
// place and answer them without an event loop or a browser.
class IUiHost {
public:
    virtual ~IUiHost() = default;
    // Shows a modal message box owned by owner; returns kModalOk or kModalCancel.
    virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, UiIcon icon,
                           UiButtons buttons) = 0;
    // Hands url to the desktop's default handler without waiting for it.
    virtual void OpenUrl(const QString& url) = 0;
    // Shows dialog modally; returns kModalOk when it was accepted, else kModalCancel.
    virtual int ExecDialog(QDialog* dialog) = 0;
};

// The host in use: the desktop host unless SetUiHost installed another.
IUiHost& UiHost();
// Installs host (not owned; must outlive its use), or the desktop host for null.
// Returns the host that was installed before.
IUiHost* SetUiHost(IUiHost* host);
