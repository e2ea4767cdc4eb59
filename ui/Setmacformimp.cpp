#include "Setmacformimp.h"

#include "UiHost.h"
#include "XStream.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

TSetMacForm* SetMacForm = nullptr;

namespace {

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

int ParseHexText(const char* text, XStream& stream)
{
    if (!text)
        return -1;
    stream.SetSize(0);
    int high = 0;
    int count = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p, ++count) {
        const int value = HexValue(*p);
        if (value < 0)
            return -1;
        if (count % 2 == 0)
            high = value;
        else
            stream.WriteByte(static_cast<unsigned char>(high * 16 + value));
    }
    return count;
}

TSetMacForm::TSetMacForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SetMacForm"));
    setFixedSize(262, 215);
    setModal(true);

    Label1 = new QLabel(QStringLiteral("MAC"), this);
    Label1->move(32, 32);
    Label1->adjustSize();

    MacEdit = new QLineEdit(this);
    MacEdit->setGeometry(32, 56, 201, 32);
    // Six pairs of letters or digits; the separators are display only.
    MacEdit->setInputMask(QStringLiteral("NN NN NN NN NN NN;_"));
    QFont font = MacEdit->font(); // the application's Arial, larger
    font.setPixelSize(21);
    MacEdit->setFont(font);

    Label2 = new QLabel(QString::fromUtf8("说明:\n    共6字节, 用16进制表示(0-9, a-f, A-F)\n    例 \"00 1A 6B 38 D1 55\""),
                        this);
    // Sized to its text: with the CJK fallback face the three lines need a
    // little more than the 205 x 45 that Arial alone would take.
    Label2->move(32, 104);
    Label2->adjustSize();

    OkButton = new QPushButton(QString::fromUtf8("确定"), this);
    OkButton->setGeometry(56, 168, 75, 25);
    CancelButton = new QPushButton(QString::fromUtf8("取消"), this);
    CancelButton->setGeometry(136, 168, 75, 25);
    for (QPushButton* button : {OkButton, CancelButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(OkButton, &QPushButton::clicked, this, &TSetMacForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

QString TSetMacForm::MacText() const
{
    // text() drops the blank character "_" but keeps the separators.
    QString text = MacEdit->text();
    text.remove(QLatin1Char(' '));
    return text;
}

void TSetMacForm::SetMacText(const QString& text)
{
    MacEdit->setText(text);
}

void TSetMacForm::OkButtonClick()
{
    const QByteArray text = MacText().toLocal8Bit();
    XStream stream;
    if (ParseHexText(text.constData(), stream) == 12) {
        std::memcpy(NewMac, stream.GetData(), sizeof NewMac);
        accept();
        return;
    }
    UiHost().MessageBox(this, QString::fromUtf8("MAC填写有误。"), QString::fromUtf8("提示"), UiIcon::Error,
                        UiButtons::Ok);
}
