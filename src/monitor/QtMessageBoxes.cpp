#include "monitor/QtMessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace edi {

MessageAnswer QtMessageBoxes::Show(const MessageRequest& request) {
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromStdString(request.caption));
    box.setText(QString::fromStdString(request.text));
    switch (request.icon) {
        case MessageIcon::kExclamation: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::kCritical: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::kQuestion: box.setIcon(QMessageBox::Question); break;
        case MessageIcon::kInformation: box.setIcon(QMessageBox::Information); break;
        case MessageIcon::kNone: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (request.buttons == MessageButtons::kYesNo) {
        QPushButton* yes = box.addButton(QString::fromUtf8("はい(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QString::fromUtf8("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? MessageAnswer::kYes : MessageAnswer::kNo;
    }
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
    return MessageAnswer::kOk;
}

}  // namespace edi
