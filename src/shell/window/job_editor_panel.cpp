#include "shell/window/job_editor_panel.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLabel>

#include "settings/settings.h"
#include "shell/window/controls.h"
#include "shell/window/qt_text.h"

namespace vs {

namespace {

// Focus that leaves for a pop-up (a combo box's list, a menu) or another window has not left
// the field: the operator comes back to it.
bool leavesTheField(const QFocusEvent* e) {
    switch (e->reason()) {
        case Qt::PopupFocusReason:
        case Qt::ActiveWindowFocusReason:
        case Qt::MenuBarFocusReason:
            return false;
        default:
            return true;
    }
}

}  // namespace

JobEditorPanel::JobEditorPanel(QWidget* parent)
    : QObject(parent),
      listdir(new QListWidget(parent)),
      fields(new QWidget(parent)),
      Txtdirremota(makeTextBox(fields, "Txtdirremota")),
      txtdirlocale(makeTextBox(fields, "txtdirlocale")),
      cbofile(makeComboBox(fields, "cbofile", {"PDFREPORT", "AUTOMAIL", "TUTTI"}, "PDFREPORT")),
      cbodel(makeComboBox(fields, "cbodel", {"SI", "NO"}, "NO")),
      cbooperazione(makeComboBox(fields, "cbooperazione", {"Download", "Upload"}, "Download")),
      txtdirlocalebackup(makeTextBox(fields, "txtdirlocalebackup")),
      cbomoltiplicatore(makeComboBox(fields, "cbomoltiplicatore",
                                     {"1x", "2x", "3x", "4x", "5x", "6x", "10x", "20x", "30x",
                                      "60x", "120x", "180x", "300x", "360x", "720x"},
                                     "1x")),
      Txtparametri(makeTextBox(fields, "Txtparametri")) {
    listdir->setObjectName(QStringLiteral("listdir"));
    controls_ = {Txtdirremota,  txtdirlocale,       cbofile,           cbodel,
                 cbooperazione, txtdirlocalebackup, cbomoltiplicatore, Txtparametri};
    for (int i = 0; i < kJobControlCount; ++i) shownText_[i] = controlText(controls_[i]);

    // Three columns of captioned fields: the folders and the parameters, the file type, the
    // operation and the backup folder, then the deletion and the multiplier.
    auto* grid = new QGridLayout(fields);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    const auto place = [&](const char* caption, QWidget* w, int row, int column) {
        grid->addWidget(new QLabel(QString::fromLatin1(caption), fields), 2 * row, column);
        grid->addWidget(w, 2 * row + 1, column);
    };
    place("Dir remota", Txtdirremota, 0, 0);
    place("Dir locale", txtdirlocale, 1, 0);
    place("Parametri", Txtparametri, 2, 0);
    place("Tipo File", cbofile, 0, 1);
    place("Operazione", cbooperazione, 1, 1);
    place("Dir locale Backup", txtdirlocalebackup, 2, 1);
    place("Cancella", cbodel, 0, 2);
    place("Moltiplicatore", cbomoltiplicatore, 1, 2);
    grid->setColumnStretch(0, 5);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);

    for (QWidget* w : controls_) w->installEventFilter(this);
    // The chosen row is the selected one, not the current one: a list that takes the focus
    // from the keyboard makes its first row current without choosing it.
    listdir->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(listdir, &QListWidget::itemSelectionChanged, this, [this] { onSelectionChanged(); });
    setEditable(false);
}

void JobEditorPanel::bind(ParameterEditor* editor, Settings* settings) {
    editor_ = editor;
    settings_ = settings;
    refreshList();
}

std::optional<JobControl> JobEditorPanel::controlOf(const QObject* widget) const {
    for (int i = 0; i < kJobControlCount; ++i)
        if (controls_[i] == widget) return static_cast<JobControl>(i);
    return std::nullopt;
}

bool JobEditorPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        focused_ = controlOf(watched);
    } else if (event->type() == QEvent::FocusOut) {
        const auto c = controlOf(watched);
        if (c && leavesTheField(static_cast<QFocusEvent*>(event))) {
            // The focus leaves before a clicked row becomes the selected one, so this stores
            // into the job that was shown.
            validate(*c);
        }
    }
    return QObject::eventFilter(watched, event);
}

void JobEditorPanel::validate(JobControl c) {
    if (!editor_) return;
    if (focused_ == c) focused_.reset();
    const int i = static_cast<int>(c);
    const QString text = controlText(controls_[i]);
    const std::string value = text == shownText_[i] ? shownValue_[i] : fromQt(text);
    const std::string after = editor_->validate(c, value);
    if (after != value) {
        show(c, after);
    } else {
        shownValue_[i] = value;
        shownText_[i] = text;
    }
    // Only the rows' texts: the selection may already be moving to a newly clicked row.
    refreshRows();
}

void JobEditorPanel::validateFocused() {
    if (focused_) validate(*focused_);
}

void JobEditorPanel::onSelectionChanged() {
    if (syncing_ || !editor_) return;
    const QList<QListWidgetItem*> selected = listdir->selectedItems();
    const int row = selected.isEmpty() ? -1 : listdir->row(selected.front());
    // Normally the field was stored when the focus moved to the list; a row chosen while a
    // field still holds the focus is handled the same way, against the job it shows.
    if (focused_) validate(*focused_);
    listdir_Click(row);
}

void JobEditorPanel::listdir_Click(int row) {
    if (!editor_) return;
    const auto texts = editor_->listdir_Click(row);
    if (!texts) return;
    for (int i = 0; i < kJobControlCount; ++i) show(static_cast<JobControl>(i), (*texts)[i]);
}

void JobEditorPanel::show(JobControl c, const std::string& value) {
    const int i = static_cast<int>(c);
    shownValue_[i] = value;
    shownText_[i] = toQt(value);
    showText(controls_[i], shownText_[i]);
}

void JobEditorPanel::refreshRows() {
    if (!settings_) return;
    syncing_ = true;
    const auto& rows = settings_->listdir;
    if (listdir->count() != static_cast<int>(rows.size())) {
        listdir->clear();
        for (const std::string& row : rows) listdir->addItem(toQt(row));
    } else {
        for (int i = 0; i < listdir->count(); ++i) {
            const QString t = toQt(rows[i]);
            if (listdir->item(i)->text() != t) listdir->item(i)->setText(t);
        }
    }
    syncing_ = false;
}

void JobEditorPanel::refreshList() {
    if (!settings_ || !editor_) return;
    refreshRows();
    syncing_ = true;
    const int selected = editor_->selectedRow().value_or(-1);
    if (selected < 0 || selected >= listdir->count()) {
        listdir->clearSelection();
    } else if (!listdir->item(selected)->isSelected()) {
        listdir->setCurrentRow(selected);
    }
    syncing_ = false;
}

void JobEditorPanel::setEditable(bool editable) {
    for (QWidget* w : controls_) w->setEnabled(editable);
}

}  // namespace vs
