#include "shell/window/work_list_panel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "cycle/cycle_state.h"
#include "shell/window/qt_text.h"

namespace vs {

namespace {

QLabel* counter(QWidget* parent, const char* name) {
    auto* l = new QLabel(QStringLiteral("0"), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setMinimumWidth(48);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

}  // namespace

WorkListPanel::WorkListPanel(QWidget* parent)
    : QWidget(parent),
      totfile(counter(this, "totfile")),
      totfileok(counter(this, "totfileok")),
      totfilenonok(counter(this, "totfilenonok")),
      List2(new QListWidget(this)) {
    List2->setObjectName(QStringLiteral("List2"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* row = new QHBoxLayout();
    row->setSpacing(6);
    row->addWidget(new QLabel(QStringLiteral("ELENCO:"), this));
    row->addSpacing(24);
    row->addWidget(new QLabel(QStringLiteral("Tot File da elaborare:"), this));
    row->addWidget(totfile);
    row->addSpacing(12);
    row->addWidget(new QLabel(QStringLiteral("Elaborati OK:"), this));
    row->addWidget(totfileok);
    row->addSpacing(12);
    row->addWidget(new QLabel(QStringLiteral("In errore:"), this));
    row->addWidget(totfilenonok);
    row->addStretch(1);
    column->addLayout(row);
    column->addWidget(List2, 1);
}

void WorkListPanel::showValues(const CycleState& state) {
    totfile->setText(toQt(state.totfile));
    totfileok->setText(toQt(state.totfileok));
    totfilenonok->setText(toQt(state.totfilenonok));

    // The queue changes a little at a time (one item taken from the top, or a listing added),
    // so a full comparison is cheap and avoids rebuilding the list at every refresh.
    const std::vector<std::string> items = state.List2.items();
    bool same = List2->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < List2->count(); ++i)
        same = List2->item(i)->text() == toQt(items[i]);
    if (same) return;
    List2->clear();
    for (const std::string& item : items) List2->addItem(toQt(item));
}

}  // namespace vs
