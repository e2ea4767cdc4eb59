#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class XStream;

// Decodes hexadecimal digit pairs of text into stream, which it empties
// first. Returns the number of characters read (an odd last digit adds no
// byte), or -1 for a null text or at the first character that is not 0-9,
// a-f or A-F (the stream then holds the bytes decoded before it).
int ParseHexText(const char* text, XStream& stream);

// The dialog that takes a device's new MAC address as 12 hexadecimal digits.
// The caller fills the caption and MacEdit before each showing; the dialog
// closes with OK only after OkButtonClick has stored a valid NewMac.
class TSetMacForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetMacForm(QWidget* parent = nullptr);

    // The edit's characters without the mask's separators and blanks.
    QString MacText() const;
    // Puts 12 characters into the edit, which shows them in pairs.
    void SetMacText(const QString& text);

    QLabel* Label1;
    QLineEdit* MacEdit;
    QLabel* Label2;
    QPushButton* OkButton;
    QPushButton* CancelButton;
    // The accepted new MAC, first octet first; rewritten by every OK.
    std::uint8_t NewMac[6] = {};

public Q_SLOTS:
    // Accepts when the edit holds exactly 12 hexadecimal digits, storing them
    // in NewMac; otherwise reports "MAC填写有误。" and stays open.
    void OkButtonClick();
};

// Created hidden once at start-up and reused for every showing.
extern TSetMacForm* SetMacForm;
