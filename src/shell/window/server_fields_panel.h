#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

namespace vs {

struct ServerFields;

// The server fields, top right: "Hostname", "Login", "Password", "Secondi", "Tipo". Every edit
// reaches the settings at once, because the schedule and the connection read them from there
// whenever they need them.
class ServerFieldsPanel final : public QWidget {
  public:
    explicit ServerFieldsPanel(QWidget* parent);

    // The settings the fields edit; nothing is stored before this.
    void bind(ServerFields* fields) { fields_ = fields; }
    // Shows the settings' values (after a load, or when the schedule rewrote the interval).
    void showValues(const ServerFields& fields);
    void setEditable(bool editable);

    QLineEdit* txtHost;
    QLineEdit* txtLogin;
    QLineEdit* txtPwd;
    QComboBox* cbotime;
    QComboBox* cbotiposerver;

  private:
    ServerFields* fields_ = nullptr;
};

}  // namespace vs
