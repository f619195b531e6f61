// Modal dialogs owned by the main window, and the window title.
#include "shell/dialogs.h"

#include "shell/panes.h"
#include "tarvex_version.h"
#include "web/cell.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvex {

namespace {

DialogHook g_hook;

QWidget* owner() { return shell_windows().main; }

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }
QString qs(const char* s) { return QString::fromUtf8(s ? s : ""); }

// The filter of both file dialogs: the patterns Qt matches are in the last
// parentheses, which the dialog hides, so the descriptions read as they are.
const char* const FILE_FILTER = "Tarvex Files (*.TVX) (*.tvx *.TVX);;"
                                "Quillet Files (*.QLT) (*.qlt *.QLT);;"
                                "All Files (*.*) (*)";

bool ask_hook(DialogKind kind, const char* text, const char* caption, DialogAnswer& answer,
              const std::string& detail = {}) {
    if (!g_hook) return false;
    DialogRequest request{kind, text ? text : "", caption ? caption : ""};
    request.detail = detail;
    answer = g_hook(request);
    return true;
}

int message_box(QMessageBox::Icon icon, const char* text, const char* caption,
                QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, qs(caption), qs(text), buttons, owner());
    return box.exec();
}

std::string file_dialog(bool save, const std::string& prefill) {
    QFileDialog dialog(owner());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(FILE_FILTER);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save) {
        // A name without an extension gets the chosen type's before the
        // overwrite question, so the question is about the real file and
        // the Open dialog's default type shows it.
        dialog.setDefaultSuffix("tvx");
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
                dialog.setDefaultSuffix(f.contains("*.qlt", Qt::CaseInsensitive) ? "qlt" : "tvx");
            });
    }
    if (!prefill.empty()) dialog.selectFile(qs(prefill));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

} // namespace

void dialogs_set_hook(DialogHook hook) { g_hook = std::move(hook); }

void dialog_warn(const char* text, const char* caption) {
    DialogAnswer a;
    if (ask_hook(DLG_WARN, text, caption, a)) return;
    message_box(QMessageBox::Warning, text, caption, QMessageBox::Ok);
}

bool dialog_ok_cancel(const char* text, const char* caption) {
    DialogAnswer a;
    if (ask_hook(DLG_OK_CANCEL, text, caption, a)) return a.accepted;
    return message_box(QMessageBox::Question, text, caption,
                       QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

bool dialog_yes_no(const char* text, const char* caption, const std::string& detail) {
    DialogAnswer a;
    if (ask_hook(DLG_YES_NO, text, caption, a, detail)) return a.accepted;
    QMessageBox box(QMessageBox::Question, qs(caption), qs(text),
                    QMessageBox::Yes | QMessageBox::No, owner());
    if (!detail.empty()) box.setInformativeText(qs(detail));
    return box.exec() == QMessageBox::Yes;
}

bool dialog_allow_path(const std::string& path, bool output) {
    std::string text = allow_path_text(path, output);
    DialogAnswer a;
    if (ask_hook(DLG_ALLOW_PATH, text.c_str(), "Tarvex", a)) return a.accepted;
    QMessageBox box(QMessageBox::Warning, "Tarvex", qs(text), QMessageBox::Yes | QMessageBox::No,
                    owner());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {

// A one-line name dialog: caption, the label above the field, and the name
// it starts with (selected, to be typed over).
bool ask_name(DialogKind kind, const char* caption, const QString& prompt,
              const std::string& prefill, std::string& typed) {
    typed.clear();
    DialogAnswer a;
    QString entered;
    if (ask_hook(kind, prefill.c_str(), caption, a)) {
        if (!a.accepted) return false;
        entered = qs(a.text);
    } else {
        QDialog dialog(owner());
        dialog.setWindowTitle(caption);
        auto* layout = new QVBoxLayout(&dialog);
        auto* label = new QLabel(prompt, &dialog);
        auto* edit = new QLineEdit(qs(prefill), &dialog);
        edit->selectAll();
        auto* buttons =
            new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        layout->addWidget(label);
        layout->addWidget(edit);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        edit->setFocus();
        if (dialog.exec() != QDialog::Accepted) return false;
        entered = edit->text();
    }
    typed = entered.left(CELL_NAME_TYPED_MAX).toStdString();
    return !typed.empty();
}

} // namespace

bool dialog_cell_name(std::string& typed) {
    return ask_name(DLG_CELL_NAME, "Enter New Cellname", "Enter New Cellname:", {}, typed);
}

bool dialog_rename_name(const std::string& current, std::string& typed) {
    return ask_name(DLG_RENAME_NAME, "Rename Cell", "New name for " + qs(current) + ":", current,
                    typed);
}

std::string dialog_open_file_name(const std::string& current) {
    DialogAnswer a;
    if (ask_hook(DLG_OPEN, current.c_str(), "", a)) return a.accepted ? a.text : std::string();
    return file_dialog(false, current);
}

std::string dialog_save_file_name(const std::string& suggested) {
    DialogAnswer a;
    if (ask_hook(DLG_SAVE, suggested.c_str(), "", a)) return a.accepted ? a.text : std::string();
    return file_dialog(true, suggested);
}

std::string dialog_save_plot_name(const std::string& suggested) {
    DialogAnswer a;
    if (ask_hook(DLG_SAVE, suggested.c_str(), "Save Plot As", a))
        return a.accepted ? a.text : std::string();
    QFileDialog dialog(owner(), "Save Plot As");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({"PNG Images (*.png)", "SVG Drawings (*.svg)"});
    dialog.setDefaultSuffix("png");
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        dialog.setDefaultSuffix(f.startsWith("SVG") ? "svg" : "png");
    });
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!suggested.empty()) dialog.selectFile(qs(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

std::string dialog_export_name(const std::string& suggested,
                               const std::vector<std::string>& filters, int* chosen) {
    *chosen = 0;
    DialogAnswer a;
    if (ask_hook(DLG_SAVE, suggested.c_str(), "Export", a))
        return a.accepted ? a.text : std::string();
    QFileDialog dialog(owner(), "Export");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList names;
    for (const std::string& f : filters)
        names << qs(f);
    dialog.setNameFilters(names);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!suggested.empty()) dialog.selectFile(qs(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    *chosen = std::max(0, int(names.indexOf(dialog.selectedNameFilter())));
    return dialog.selectedFiles().first().toStdString();
}

SaveAnswer dialog_save_changes(const std::string& display_name) {
    std::string text = save_changes_text(display_name);
    DialogAnswer a;
    if (ask_hook(DLG_SAVE_CHANGES, text.c_str(), "Tarvex", a)) return a.save;
    int button = message_box(QMessageBox::Question, text.c_str(), "Tarvex",
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (button == QMessageBox::Yes) return SAVE_YES;
    if (button == QMessageBox::No) return SAVE_NO;
    return SAVE_CANCEL;
}

void dialog_about() {
    QMessageBox box(owner());
    box.setWindowTitle("About Tarvex");
    // The window's own icon: the application's is set only by main().
    QIcon icon = owner() ? owner()->windowIcon() : QApplication::windowIcon();
    box.setIconPixmap(icon.pixmap(48, 48));
    const char* text = "Tarvex   v" TARVEX_VERSION;
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    dialog_run(DLG_ABOUT, box, text);
}

bool dialog_run(DialogKind kind, QDialog& dialog, const std::string& text) {
    if (g_hook) {
        DialogRequest request{kind, text, dialog.windowTitle().toStdString()};
        request.dialog = &dialog;
        return g_hook(request).accepted;
    }
    return dialog.exec() == QDialog::Accepted;
}

void window_title_set(const std::string& display_name) {
    QString name = qs(display_name);
    // "[*]": where the window shows its modified mark.
    QString title =
        QString("%1 - ").arg("Tarvex") + (name.isEmpty() ? QString("(Untitled)") : name) + "[*]";
    if (QWidget* w = owner()) w->setWindowTitle(title);
}

} // namespace tarvex
