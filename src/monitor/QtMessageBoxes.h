// Message boxes drawn with Qt for the window program.
#pragma once

#include "startup/MessageBox.h"

class QWidget;

namespace edi {

class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    MessageAnswer Show(const MessageRequest& request) override;

private:
    QWidget* parent_;
};

}  // namespace edi
