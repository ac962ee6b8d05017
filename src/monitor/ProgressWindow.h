// The list window G7001001: one line per step of a mail transfer.
#pragma once

#include <QWidget>

#include "transfer/ProgressView.h"

class QListWidget;

namespace edi {

class ProgressWindow final : public QWidget, public ProgressView {
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    void Clear() override;
    void Show() override;
    void AddLine(const std::string& line) override;
    void Close() override;

    QListWidget* List() const { return list_; }

private:
    QListWidget* list_;
};

}  // namespace edi
