#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// 0 when text has exactly three dots and inet_addr reads it as an address
// other than all ones, else -1 (also for a null text).
int CheckIpText(const char* text);

// The dialog that takes a device's new IP address, mask and gateway. The
// caller fills the caption and the three edits before each showing; the
// dialog closes with OK only when all three texts pass CheckIpText.
class TSetIpForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetIpForm(QWidget* parent = nullptr);

    QLabel* IpLabel;
    QLabel* MaskLabel;
    QLabel* GatewayLabel;
    QLineEdit* IpEdit;
    QLineEdit* MaskEdit;
    QLineEdit* GatewayEdit;
    QPushButton* OkButton;
    QPushButton* CancelButton;

public Q_SLOTS:
    // Checks IP, mask and gateway in that order; reports the first bad one in
    // an error box owned by this dialog and stays open, else accepts.
    void OkButtonClick();
};

// Created hidden once at start-up and reused for every showing.
extern TSetIpForm* SetIpForm;
