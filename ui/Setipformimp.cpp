#include "Setipformimp.h"

#include "UiHost.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <arpa/inet.h>

#include <cstring>

TSetIpForm* SetIpForm = nullptr;

int CheckIpText(const char* text)
{
    if (!text)
        return -1;
    int dots = 0;
    for (const char* p = text; *p; ++p)
        dots += *p == '.';
    if (dots != 3)
        return -1;
    return inet_addr(text) == INADDR_NONE ? -1 : 0;
}

namespace {

QPushButton* MakeButton(QWidget* parent, const char* text, int x, int y)
{
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(x, y, 75, 25);
    // No button of the dialog answers Enter on its own.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLineEdit* MakeAddressEdit(QWidget* parent, int x, int y)
{
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(x, y, 121, 24);
    QFont font = edit->font();
    font.setPixelSize(12);
    edit->setFont(font);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

TSetIpForm::TSetIpForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SetIpForm"));
    setFixedSize(252, 206);
    setModal(true);
    IpLabel = MakeLabel(this, "IP地址", 32, 32);
    MaskLabel = MakeLabel(this, "子网掩码", 32, 64);
    GatewayLabel = MakeLabel(this, "网关", 32, 96);
    IpEdit = MakeAddressEdit(this, 96, 32);
    MaskEdit = MakeAddressEdit(this, 96, 64);
    GatewayEdit = MakeAddressEdit(this, 96, 96);
    OkButton = MakeButton(this, "确定", 48, 152);
    CancelButton = MakeButton(this, "取消", 128, 152);
    connect(OkButton, &QPushButton::clicked, this, &TSetIpForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(OkButton, CancelButton);
    setTabOrder(CancelButton, IpEdit);
    setTabOrder(IpEdit, MaskEdit);
    setTabOrder(MaskEdit, GatewayEdit);
}

void TSetIpForm::OkButtonClick()
{
    static const struct {
        QLineEdit* TSetIpForm::*edit;
        const char* message;
    } kChecks[] = {
        {&TSetIpForm::IpEdit, "IP地址格式错误"},
        {&TSetIpForm::MaskEdit, "子网掩码格式错误"},
        {&TSetIpForm::GatewayEdit, "网关格式错误"},
    };
    for (const auto& check : kChecks) {
        if (CheckIpText((this->*check.edit)->text().toLocal8Bit().constData()) != 0) {
            UiHost().MessageBox(this, QString::fromUtf8(check.message), QString::fromUtf8("提示"), UiIcon::Error,
                                UiButtons::Ok);
            return;
        }
    }
    accept();
}
