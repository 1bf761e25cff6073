#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <string>

namespace vs {

// The window's text boxes and editable combo boxes, named as the program knows them.
QLineEdit* makeTextBox(QWidget* parent, const char* name);
// Editable: the operator may pick an item or type any text. Shows the design text until a
// value is loaded into it.
QComboBox* makeComboBox(QWidget* parent, const char* name, const QStringList& items,
                        const char* designText);

// The control's text, for either kind.
QString controlText(const QWidget* control);
// Shows a value without firing the control's change signals (so showing is never storing).
void showText(QWidget* control, const QString& text);

}  // namespace vs
