#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler is
// shown in an error box and the event loop goes on, as the toolkit's default
// handling would.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows message (null reads as empty) in an error box with the
    // application title as caption and a single OK button.
    static void ShowException(const char* message);
};
