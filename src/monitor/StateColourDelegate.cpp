#include "monitor/StateColourDelegate.h"

namespace edi {

void StateColourDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!(option->state & QStyle::State_Selected)) return;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    const QColor text =
        foreground.isValid() ? foreground.value<QBrush>().color() : option->palette.color(QPalette::Text);
    const QColor highlight = option->palette.color(QPalette::Highlight);
    const QColor base = option->palette.color(QPalette::Base);
    const QColor tint((highlight.red() + 3 * base.red()) / 4, (highlight.green() + 3 * base.green()) / 4,
                      (highlight.blue() + 3 * base.blue()) / 4);
    option->palette.setColor(QPalette::Highlight, tint);
    option->palette.setColor(QPalette::HighlightedText, text);
}

}  // namespace edi
