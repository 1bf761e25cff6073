#include "shell/window/server_fields_panel.h"

#include <QFormLayout>

#include "settings/settings.h"
#include "shell/window/controls.h"
#include "shell/window/qt_text.h"

namespace vs {

ServerFieldsPanel::ServerFieldsPanel(QWidget* parent)
    : QWidget(parent),
      txtHost(makeTextBox(this, "txtHost")),
      txtLogin(makeTextBox(this, "txtLogin")),
      txtPwd(makeTextBox(this, "txtPwd")),
      cbotime(makeComboBox(this, "cbotime", {"10", "15", "20", "30", "40", "50", "60"}, "15")),
      cbotiposerver(
          makeComboBox(this, "cbotiposerver", {"Sftp", "Ftp", "Ftps", "FtpsImplicito"}, "Sftp")) {
    txtPwd->setEchoMode(QLineEdit::Password);
    // Masked with "*", whatever the style's own bullet is.
    txtPwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setVerticalSpacing(3);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("Hostname"), txtHost);
    form->addRow(QStringLiteral("Login"), txtLogin);
    form->addRow(QStringLiteral("Password"), txtPwd);
    form->addRow(QStringLiteral("Secondi"), cbotime);
    form->addRow(QStringLiteral("Tipo"), cbotiposerver);

    const auto store = [this](std::string ServerFields::*field) {
        return [this, field](const QString& text) {
            if (fields_) fields_->*field = fromQt(text);
        };
    };
    connect(txtHost, &QLineEdit::textChanged, this, store(&ServerFields::txtHost));
    connect(txtLogin, &QLineEdit::textChanged, this, store(&ServerFields::txtLogin));
    connect(txtPwd, &QLineEdit::textChanged, this, store(&ServerFields::txtPwd));
    connect(cbotime, &QComboBox::currentTextChanged, this, store(&ServerFields::cbotime));
    connect(cbotiposerver, &QComboBox::currentTextChanged, this,
            store(&ServerFields::cbotiposerver));
    setEditable(false);
}

void ServerFieldsPanel::showValues(const ServerFields& fields) {
    showText(txtHost, toQt(fields.txtHost));
    showText(txtLogin, toQt(fields.txtLogin));
    showText(txtPwd, toQt(fields.txtPwd));
    showText(cbotime, toQt(fields.cbotime));
    showText(cbotiposerver, toQt(fields.cbotiposerver));
}

void ServerFieldsPanel::setEditable(bool editable) {
    for (QWidget* w : {static_cast<QWidget*>(txtHost), static_cast<QWidget*>(txtLogin),
                       static_cast<QWidget*>(txtPwd), static_cast<QWidget*>(cbotime),
                       static_cast<QWidget*>(cbotiposerver)})
        w->setEnabled(editable);
}

}  // namespace vs
