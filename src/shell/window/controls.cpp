#include "shell/window/controls.h"

#include <QSignalBlocker>

namespace vs {

namespace {
// One height for every field, so that the whole window fits its starting client area.
constexpr int kFieldHeight = 20;
}  // namespace

QLineEdit* makeTextBox(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setFixedHeight(kFieldHeight);
    return e;
}

QComboBox* makeComboBox(QWidget* parent, const char* name, const QStringList& items,
                        const char* designText) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);  // typed texts never join the item list
    c->addItems(items);
    c->setEditText(QString::fromLatin1(designText));
    c->setFixedHeight(kFieldHeight);
    return c;
}

QString controlText(const QWidget* control) {
    if (const auto* e = qobject_cast<const QLineEdit*>(control)) return e->text();
    if (const auto* c = qobject_cast<const QComboBox*>(control)) return c->currentText();
    return QString();
}

void showText(QWidget* control, const QString& text) {
    if (controlText(control) == text) return;
    QSignalBlocker block(control);
    if (auto* e = qobject_cast<QLineEdit*>(control))
        e->setText(text);
    else if (auto* c = qobject_cast<QComboBox*>(control))
        c->setEditText(text);
}

}  // namespace vs
