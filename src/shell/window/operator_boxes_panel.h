#pragma once

#include <QLineEdit>
#include <QWidget>
#include <array>
#include <string>

#include "settings/job_table.h"

namespace vs {

// The twelve automail operator codes under "Operatori Automail": three rows of four, box
// index = 4 x row + column. Edits reach the settings at once; the next save writes them.
class OperatorBoxesPanel final : public QWidget {
  public:
    explicit OperatorBoxesPanel(QWidget* parent);

    void bind(std::array<std::string, kOperatorSlots>* codes) { codes_ = codes; }
    void showValues(const std::array<std::string, kOperatorSlots>& codes);
    void setEditable(bool editable);

    std::array<QLineEdit*, kOperatorSlots> txt_oper_mail{};

  private:
    std::array<std::string, kOperatorSlots>* codes_ = nullptr;
};

}  // namespace vs
