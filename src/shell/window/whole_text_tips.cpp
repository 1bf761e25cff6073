#include "shell/window/whole_text_tips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>

namespace vs {

void WholeTextTips::watch(QAbstractItemView* view) {
    // A view's items are hovered on its viewport, which is where the tooltip event goes.
    view->viewport()->installEventFilter(this);
}

void WholeTextTips::watch(QLineEdit* edit) {
    if (edit->echoMode() == QLineEdit::Normal) edit->installEventFilter(this);
}

QString WholeTextTips::hiddenText(QAbstractItemView* view, const QPoint& pos) {
    const QModelIndex index = view->indexAt(pos);
    if (!index.isValid()) return QString();
    const QRect item = view->visualRect(index);
    const int needed = view->sizeHintForIndex(index).width();
    const bool whole = item.left() >= 0 && item.left() + needed <= view->viewport()->width();
    return whole ? QString() : index.data(Qt::DisplayRole).toString();
}

QString WholeTextTips::hiddenText(const QLineEdit* edit) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    const QRect room = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(edit->textMargins());
    const QString text = edit->text();
    // The few pixels the field keeps free beside its text.
    constexpr int kSideRoom = 4;
    const bool whole = edit->fontMetrics().horizontalAdvance(text) + kSideRoom <= room.width();
    return whole ? QString() : text;
}

bool WholeTextTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip) return false;
    auto* help = static_cast<QHelpEvent*>(event);
    QString text;
    QWidget* widget = qobject_cast<QWidget*>(watched);
    if (auto* edit = qobject_cast<QLineEdit*>(watched))
        text = hiddenText(edit);
    else if (auto* view =
                 qobject_cast<QAbstractItemView*>(widget ? widget->parentWidget() : nullptr))
        text = hiddenText(view, help->pos());
    else
        return false;
    // Always as escaped rich text: a server's file name must not be taken for markup, and a
    // rich tooltip wraps a line wider than the screen.
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), QStringLiteral("<qt>") + text.toHtmlEscaped(),
                           widget);
    return true;
}

}  // namespace vs
