#include "monitor/ProgressWindow.h"

#include <QListWidget>
#include <QVBoxLayout>

#include "startup/MessageBox.h"

namespace edi {

ProgressWindow::ProgressWindow(QWidget* parent) : QWidget(parent, Qt::Window), list_(new QListWidget(this)) {
    setObjectName(QString::fromUtf8(kProgressFormName));
    setWindowTitle(QString::fromUtf8(kProgramTitle));
    list_->setObjectName(QString::fromUtf8(kProgressListName));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    resize(420, 220);
}

void ProgressWindow::Clear() { list_->clear(); }

void ProgressWindow::Show() {
    show();
    raise();
    repaint();
}

void ProgressWindow::AddLine(const std::string& line) {
    list_->addItem(QString::fromStdString(line));
    list_->scrollToBottom();
    // The transfer runs inside the event that started it: draw each line as it comes.
    list_->viewport()->repaint();
}

void ProgressWindow::Close() { hide(); }

}  // namespace edi
