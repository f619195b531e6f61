// Rename Cell's dialogs and the window's side of renaming.
#include "shell/rename_dialog.h"

#include "commands/rename_cell.h"
#include "core/errors.h"
#include "frontend/frontend.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "web/navigation.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

namespace {

constexpr const char* NOTHING_TO_UNDO_TEXT = "No rename to undo";
constexpr const char* NO_LINKS_TEXT = "No text, script or setting names it";

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }

// What the rename changes, listed (the question and its lines are the
// dialog's text for the hook); Rename is the default button.
bool preview_accepted(const RenamePlan& plan) {
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Rename Cell");
    auto* layout = new QVBoxLayout(&dialog);
    std::string question = "Rename " + plan.old_name + " to " + plan.new_name + "?";
    layout->addWidget(new QLabel(qs(question), &dialog));
    auto* list = new QListWidget(&dialog);
    list->setObjectName("rename_changes");
    std::vector<std::string> lines = rename_preview(plan);
    if (lines.empty()) lines.push_back(NO_LINKS_TEXT);
    std::string listed = question;
    for (const std::string& line : lines) {
        list->addItem(qs(line));
        listed += "\n" + line;
    }
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton* rename = buttons->addButton("Rename", QDialogButtonBox::AcceptRole);
    rename->setObjectName("rename_accept");
    rename->setDefault(true);
    rename->setFocus();
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return dialog_run(DLG_RENAME_PREVIEW, dialog, listed);
}

// Names moved in the list's order, texts and scripts changed under the
// panes, and the docks and link styles follow the new names.
void show_renamed() {
    cell_list_refill();
    load_panes();
    link_refresh();
}

} // namespace

void rename_cell_command() {
    commit_all_panes();
    CellHandle c = current_cell();
    if (c == 0) return;
    if (cell_is_home(c)) {
        warn_box(RENAME_HOME_TEXT, "");
        return;
    }
    std::string typed;
    if (!dialog_rename_name(cell_name_string(c), typed)) return;
    RenamePlan plan = rename_plan(c, typed);
    if (plan.refusal) {
        warn_box(plan.refusal, "");
        return;
    }
    if (plan.new_name == plan.old_name || !preview_accepted(plan)) return;
    if (rename_apply(plan)) show_renamed();
}

void undo_rename_command() {
    commit_all_panes();
    if (!rename_undo()) {
        status_flash(NOTHING_TO_UNDO_TEXT);
        return;
    }
    show_renamed();
}

} // namespace tarvex
