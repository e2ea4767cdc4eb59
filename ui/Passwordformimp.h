#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the password that guards the MAC change. It only collects the
// text: OK accepts, Cancel rejects, and the caller checks what was typed.
class TPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordForm(QWidget* parent = nullptr);

    QLabel* PasswordLabel;
    QLineEdit* PasswordEdit;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

// Created hidden once at start-up and reused for every showing.
extern TPasswordForm* PasswordForm;
