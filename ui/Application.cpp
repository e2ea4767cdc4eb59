#include "Application.h"

#include "UiHost.h"
#include "XException.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const XException& e) {
        ShowException(e.GetMessage());
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(nullptr);
    }
    return false;
}

void TApplication::ShowException(const char* message)
{
    UiHost().MessageBox(nullptr, QString::fromLocal8Bit(message ? message : ""), applicationName(), UiIcon::Error,
                        UiButtons::Ok);
}
