#include "UiHost.h"

#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

class DesktopHost : public IUiHost {
public:
    int MessageBox(QWidget* owner, const QString& text, const QString& caption, UiIcon icon,
                   UiButtons buttons) override
    {
        QMessageBox box(icon == UiIcon::Error ? QMessageBox::Critical : QMessageBox::Question, caption, text,
                        buttons == UiButtons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel, owner);
        return box.exec() == QMessageBox::Ok ? kModalOk : kModalCancel;
    }

    void OpenUrl(const QString& url) override { QDesktopServices::openUrl(QUrl(url)); }

    int ExecDialog(QDialog* dialog) override { return dialog->exec() == QDialog::Accepted ? kModalOk : kModalCancel; }
};

DesktopHost g_desktopHost;
IUiHost* g_host = &g_desktopHost;

} // namespace

IUiHost& UiHost()
{
    return *g_host;
}

IUiHost* SetUiHost(IUiHost* host)
{
    IUiHost* old = g_host;
    g_host = host ? host : &g_desktopHost;
    return old;
}
