#include "shell/window/operator_boxes_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "shell/window/controls.h"
#include "shell/window/qt_text.h"

namespace vs {

namespace {
constexpr int kColumns = 4;
}

OperatorBoxesPanel::OperatorBoxesPanel(QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(1);
    outer->addWidget(new QLabel(QStringLiteral("Operatori Automail"), this));
    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    outer->addLayout(grid);
    for (int i = 0; i < kOperatorSlots; ++i) {
        auto* box = makeTextBox(this, ("txt_oper_mail_" + std::to_string(i)).c_str());
        grid->addWidget(box, i / kColumns, i % kColumns);
        txt_oper_mail[i] = box;
        connect(box, &QLineEdit::textChanged, this, [this, i](const QString& text) {
            if (codes_) (*codes_)[i] = fromQt(text);
        });
    }
    setEditable(false);
}

void OperatorBoxesPanel::showValues(const std::array<std::string, kOperatorSlots>& codes) {
    for (int i = 0; i < kOperatorSlots; ++i) showText(txt_oper_mail[i], toQt(codes[i]));
}

void OperatorBoxesPanel::setEditable(bool editable) {
    for (QLineEdit* box : txt_oper_mail) box->setEnabled(editable);
}

}  // namespace vs
