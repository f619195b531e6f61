// The shell's modal dialogs: the cell-name dialog, the message boxes, the
// open and save file dialogs, the save question, the about box, and the
// window title. Tests answer them through a hook instead of showing them.
#pragma once

#include "frontend/frontend.h"

#include <functional>
#include <string>
#include <vector>

class QDialog;

namespace tarvex {

enum DialogKind {
    DLG_WARN,
    DLG_OK_CANCEL,
    DLG_YES_NO,
    DLG_CELL_NAME,
    DLG_OPEN,
    DLG_SAVE,
    DLG_SAVE_CHANGES,
    DLG_ABOUT,
    DLG_REPLACE,
    DLG_ZOOM,
    DLG_SETTINGS,
    DLG_ALLOW_PATH,
    DLG_PREFERENCES,
    DLG_REOPEN_STORE,
    DLG_PLOT_SIZE,
    DLG_RENAME_NAME,
    DLG_RENAME_PREVIEW,
};

struct DialogRequest {
    DialogKind kind;
    std::string text; // message text, or the pre-filled name
    std::string caption;
    // The dialog itself, built and filled but not shown (replace, zoom,
    // settings): the hook may change its controls; accepting the answer is
    // pressing OK, anything else Cancel.
    QDialog* dialog = nullptr;
    std::string detail = {}; // the line under a question's text
};

struct DialogAnswer {
    bool accepted = false;         // OK / Yes, or a name was given
    SaveAnswer save = SAVE_CANCEL; // the save question's answer
    std::string text;              // the typed name or the chosen file
};

// While set, every dialog asks the hook instead of showing itself.
using DialogHook = std::function<DialogAnswer(const DialogRequest&)>;
void dialogs_set_hook(DialogHook hook);

void dialog_warn(const char* text, const char* caption);
bool dialog_ok_cancel(const char* text, const char* caption);
bool dialog_yes_no(const char* text, const char* caption, const std::string& detail = {});
// What the user typed into "Enter New Cellname" (at most CELL_NAME_TYPED_MAX characters), or
// false when cancelled or empty.
bool dialog_cell_name(std::string& typed);
// The new name of a cell being renamed, the dialog showing its current name
// selected (the hook sees DLG_RENAME_NAME with that name); false when
// cancelled or empty.
bool dialog_rename_name(const std::string& current, std::string& typed);
std::string dialog_open_file_name(const std::string& current);
std::string dialog_save_file_name(const std::string& suggested);
SaveAnswer dialog_save_changes(const std::string& display_name);
// May the web write (output) or read the file at path, outside its folder?
// The hook sees DLG_ALLOW_PATH with the question's text; No is the default.
bool dialog_allow_path(const std::string& path, bool output);
// The PNG or SVG file for the plot (the hook sees DLG_SAVE, caption "Save Plot As").
std::string dialog_save_plot_name(const std::string& suggested);
// The export file and the index of the chosen filter among filters (the hook
// sees DLG_SAVE, caption "Export", and its answer picks the first filter).
std::string dialog_export_name(const std::string& suggested,
                               const std::vector<std::string>& filters, int* chosen);
void dialog_about();
// Runs a dialog built by the shell modally (or asks the hook): true for OK.
bool dialog_run(DialogKind kind, QDialog& dialog, const std::string& text = {});
void window_title_set(const std::string& display_name);

} // namespace tarvex
