// Grid cells that keep their text colour when selected: a selected row shows the colour of its
// state (waiting, running, done, failed) on a light tint of the selection colour, so selecting a
// row never hides how its job went.
#pragma once

#include <QStyledItemDelegate>

namespace edi {

class StateColourDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace edi
