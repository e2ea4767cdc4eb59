#include "Application.h"
#include "Main.h"
#include "Passwordformimp.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "XException.h"

#include <QIcon>
#include <QScreen>

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    try {
        QApplication::setApplicationName(QStringLiteral("Netvane"));
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/netvane.png")));
        // Lets the desktop shell match the window to its desktop entry (the id
        // comes from cmake/Packaging.cmake).
        QGuiApplication::setDesktopFileName(QStringLiteral(NETVANE_APP_ID));
        ApplyNetvaneLook(app);

        Form1 = new TForm1;
        SetIpForm = new TSetIpForm(Form1);
        SetMacForm = new TSetMacForm(Form1);
        PasswordForm = new TPasswordForm(Form1);
        if (const QScreen* screen = QApplication::primaryScreen())
            Form1->move(screen->availableGeometry().center() - Form1->rect().center());
        Form1->show();
        app.exec();
    } catch (const XException& e) {
        TApplication::ShowException(e.GetMessage());
    } catch (...) {
        TApplication::ShowException(nullptr);
    }
    // The dialogs are children of the main window and go with it.
    delete Form1;
    Form1 = nullptr;
    return 0;
}
