#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "settings/parameter_editor.h"

namespace vs {

class Settings;

// The job list listdir and the selected job's eight fields. The window places the two parts;
// this panel keeps them in step with the editor: a chosen row shows its job, and a field is
// stored when the operator leaves it.
class JobEditorPanel final : public QObject {
  public:
    explicit JobEditorPanel(QWidget* parent);

    void bind(ParameterEditor* editor, Settings* settings);

    // The job list's rows and selection follow the settings and the editor.
    void refreshList();
    void setEditable(bool editable);
    // Stores the field that has the focus, as leaving it would (before a save).
    void validateFocused();

    // The handlers.
    void listdir_Click(int row);
    void validate(JobControl control);

    QWidget* control(JobControl c) const { return controls_[static_cast<int>(c)]; }

    QListWidget* listdir;
    QWidget* fields;  // the eight fields under their captions, in three columns
    QLineEdit* Txtdirremota;
    QLineEdit* txtdirlocale;
    QComboBox* cbofile;
    QComboBox* cbodel;
    QComboBox* cbooperazione;
    QLineEdit* txtdirlocalebackup;
    QComboBox* cbomoltiplicatore;
    QLineEdit* Txtparametri;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::optional<JobControl> controlOf(const QObject* widget) const;
    void show(JobControl control, const std::string& value);
    void onSelectionChanged();
    void refreshRows();

    ParameterEditor* editor_ = nullptr;
    Settings* settings_ = nullptr;
    std::array<QWidget*, kJobControlCount> controls_{};
    // What each field was last given, as bytes and as shown: a value that is not valid UTF-8
    // must go back unchanged when the operator leaves the field without editing it.
    std::array<std::string, kJobControlCount> shownValue_;
    std::array<QString, kJobControlCount> shownText_;
    // The field that has the focus and has not been stored since it got it.
    std::optional<JobControl> focused_;
    bool syncing_ = false;
};

}  // namespace vs
