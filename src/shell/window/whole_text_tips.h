#pragma once

#include <QObject>

class QAbstractItemView;
class QLineEdit;

namespace vs {

// Log lines, queue items, job rows and folder paths are often wider than their place in the
// window: hovering one that does not show whole shows it whole in a tooltip. Texts that fit
// show no tooltip, so that the window stays quiet under the mouse.
class WholeTextTips final : public QObject {
  public:
    explicit WholeTextTips(QObject* parent) : QObject(parent) {}

    void watch(QAbstractItemView* view);
    // Password fields are never watched: their text must not show.
    void watch(QLineEdit* edit);

    // The whole text when the item or field under pos does not show it whole; empty otherwise.
    static QString hiddenText(QAbstractItemView* view, const QPoint& pos);
    static QString hiddenText(const QLineEdit* edit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vs
