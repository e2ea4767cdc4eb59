#include "Passwordformimp.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>

TPasswordForm* PasswordForm = nullptr;

namespace {

// Shows every character of a password edit as "X".
class PasswordCharStyle : public QProxyStyle {
public:
    PasswordCharStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return 'X';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TPasswordForm::TPasswordForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("PasswordForm"));
    setFixedSize(274, 141);
    setModal(true);
    setWindowTitle(QString::fromUtf8("密码验证"));

    PasswordLabel = new QLabel(QString::fromUtf8("请输入密码"), this);
    PasswordLabel->move(32, 24);
    PasswordLabel->adjustSize();

    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setGeometry(32, 48, 217, 26);
    auto* style = new PasswordCharStyle;
    style->setParent(PasswordEdit);
    PasswordEdit->setStyle(style);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    QFont font = PasswordEdit->font(); // the application's Arial, larger
    font.setPixelSize(16);
    PasswordEdit->setFont(font);

    OkButton = new QPushButton(QString::fromUtf8("确定"), this);
    OkButton->setGeometry(64, 96, 75, 25);
    CancelButton = new QPushButton(QString::fromUtf8("取消"), this);
    CancelButton->setGeometry(144, 96, 75, 25);
    for (QPushButton* button : {OkButton, CancelButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(PasswordEdit, OkButton);
    setTabOrder(OkButton, CancelButton);
}
