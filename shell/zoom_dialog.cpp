// The zoom dialog and the Zoom command. The editor's zoom is a number of
// points added to every font size; the dialog offers it as nine
// percentages.
#include "shell/zoom_dialog.h"

#include "frontend/frontend.h"
#include "settings/settings.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "web/navigation.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

namespace tarvex {

namespace {

struct ZoomEntry {
    const char* label;
    int value;
};

const ZoomEntry ENTRIES[ZOOM_ENTRIES] = {
    {"42%", -4}, {"70%", -2},  {"100%", 0},  {"127%", 4},  {"165%", 6},
    {"180%", 8}, {"220%", 10}, {"275%", 16}, {"330%", 20},
};

} // namespace

const char* zoom_entry_label(int entry) {
    return entry >= 0 && entry < ZOOM_ENTRIES ? ENTRIES[entry].label : "";
}

int zoom_entry_value(int entry) {
    return entry >= 0 && entry < ZOOM_ENTRIES ? ENTRIES[entry].value : 0;
}

int zoom_entry_of(int zoom) {
    if (zoom >= -10 && zoom <= -4) return 0;
    if (zoom >= -3 && zoom <= -2) return 1;
    if (zoom >= -1 && zoom <= 1) return 2;
    if (zoom >= 2 && zoom <= 4) return 3;
    if (zoom >= 5 && zoom <= 6) return 4;
    if (zoom >= 7 && zoom <= 8) return 5;
    if (zoom >= 9 && zoom <= 10) return 6;
    if (zoom >= 11 && zoom <= 16) return 7;
    if (zoom >= 17 && zoom <= 20) return 8;
    return 2;
}

bool run_zoom_dialog() {
    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Zoom");
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QComboBox(&dialog);
    list->setObjectName("zoom_list");
    for (const ZoomEntry& e : ENTRIES)
        list->addItem(e.label);
    int entry = zoom_entry_of(settings_zoom());
    list->setCurrentIndex(entry);
    auto* label = new QLabel("Choose Zoom Factor", &dialog);
    label->setBuddy(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(label);
    layout->addWidget(list);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    list->setFocus();
    if (dialog_run(DLG_ZOOM, dialog, zoom_entry_label(entry)))
        settings_set_zoom(zoom_entry_value(list->currentIndex()));
    return true;
}

namespace {

void zoom_apply() {
    pane_commit(shell_current_view());
    ShellWindows& w = shell_windows();
    for (QsciScintilla* e : {w.text, w.console})
        if (e)
            e->SendScintilla(QsciScintillaBase::SCI_SETZOOM,
                             static_cast<unsigned long>(settings_zoom()));
    if (w.main && w.main->centralWidget() && w.main->centralWidget()->layout())
        w.main->centralWidget()->layout()->activate();
    reshow_current();
}

} // namespace

void zoom_command() {
    if (run_zoom_dialog()) zoom_apply();
}

void zoom_step(int steps) {
    int entry = steps == 0 ? zoom_entry_of(0) : zoom_entry_of(settings_zoom()) + steps;
    if (entry < 0 || entry >= ZOOM_ENTRIES) return;
    settings_set_zoom(zoom_entry_value(entry));
    zoom_apply();
}

} // namespace tarvex
