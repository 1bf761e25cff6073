#pragma once

#include <QLabel>
#include <QListWidget>
#include <QWidget>

namespace vs {

struct CycleState;

// The running cycle's queue: the counters row under "ELENCO:" and the work list List2.
class WorkListPanel final : public QWidget {
  public:
    explicit WorkListPanel(QWidget* parent);

    void showValues(const CycleState& state);

    QLabel* totfile;
    QLabel* totfileok;
    QLabel* totfilenonok;
    QListWidget* List2;
};

}  // namespace vs
