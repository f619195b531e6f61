// The user's preferences.
#include "shell/preferences.h"

#include "core/node_store.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/window_layout.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarvex {

namespace {

const char* const STORE_NODES_KEY = "store/nodes";
const char* const CODE_FONT_FIXED_KEY = "editor/fixed_width_code";

// A dialog of a text and two buttons, the accepting one the default.
void fill_question(QDialog& dialog, const QString& text, const QString& yes, const QString& no) {
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(text, &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* accept = buttons->addButton(yes, QDialogButtonBox::AcceptRole);
    buttons->addButton(no, QDialogButtonBox::RejectRole);
    accept->setDefault(true);
    accept->setObjectName("accept");
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace

int store_preferred_nodes() {
    bool ok = false;
    int nodes = user_settings().value(STORE_NODES_KEY, NODE_COUNT_DEFAULT).toInt(&ok);
    return ok && nodes >= NODE_COUNT_DEFAULT && nodes <= NODE_COUNT_MAX ? nodes
                                                                        : NODE_COUNT_DEFAULT;
}

bool code_font_fixed() { return user_settings().value(CODE_FONT_FIXED_KEY, true).toBool(); }

void preferences_dialog_run() {
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Preferences");
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(
        QString("Node store size, from %1 (the handheld's store) to %2 nodes of 40 bytes. "
                "A larger store holds larger webs and lets scripts name every cell; "
                "with %1 every count and limit is the handheld's. "
                "The size chosen is used from the next start on; this one has %3.")
            .arg(NODE_COUNT_DEFAULT)
            .arg(NODE_COUNT_MAX)
            .arg(node_count()),
        &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* nodes = new QSpinBox(&dialog);
    nodes->setObjectName("storeNodes");
    nodes->setRange(NODE_COUNT_DEFAULT, NODE_COUNT_MAX);
    nodes->setSingleStep(1000);
    nodes->setSuffix(" nodes");
    nodes->setValue(store_preferred_nodes());
    layout->addWidget(nodes);
    auto* fixed = new QCheckBox("Script pane and console in a fixed-width font", &dialog);
    fixed->setObjectName("codeFontFixed");
    fixed->setToolTip("Code and the columns a script prints line up; the text and value panes "
                      "keep the web's font.");
    fixed->setChecked(code_font_fixed());
    layout->addWidget(fixed);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (!dialog_run(DLG_PREFERENCES, dialog)) return;
    user_settings().setValue(STORE_NODES_KEY, nodes->value());
    if (fixed->isChecked() != code_font_fixed()) {
        user_settings().setValue(CODE_FONT_FIXED_KEY, fixed->isChecked());
        panes_setup();
    }
}

bool store_reopen_asked(const std::string& name, const WebFit& fit) {
    std::string text = web_fit_text(name, fit);
    if (fit.needed == 0) {
        dialog_warn((text + ": it was not opened.").c_str(), "Open");
        return false;
    }
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Open");
    fill_question(dialog,
                  QString::fromStdString(text + ".\nReopen it with a store of " +
                                         std::to_string(fit.needed) +
                                         " nodes? (No keeps the web shown now.)"),
                  "Reopen", "No");
    return dialog_run(DLG_REOPEN_STORE, dialog, text);
}

} // namespace tarvex
