// The status line: the lasting text and the flashed one that expires.
#include "shell/panes_state.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "shell/qt_frontend.h"
#include "web/cell.h"

#include <QApplication>
#include <QLabel>
#include <Qsci/qsciscintilla.h>

namespace tarvex {

void status_put(const std::string& text) {
    panes().status_shown = text;
    if (!panes().windows.status) return;
    panes().windows.status->setText(QString::fromUtf8(text.data(), int(text.size())));
    panes().windows.status->repaint();
}

// The lasting text: the pointer to unseen output outranks what commands
// and runs leave there.
const std::string& status_lasting() {
    static const std::string note = OUTPUT_IN_CONS_TEXT;
    return panes().output_unseen ? note : panes().persistent;
}

void status_line_show(const char* text) {
    panes().persistent = status_text_cut(text);
    if (!panes().transient_showing) status_put(status_lasting());
    // Pausing, resuming and ending a run each say so here.
    pane_pause_mark_sync();
}

void status_line_amend(const char* text) {
    if (!panes().transient_showing) {
        status_line_flash(text);
        return;
    }
    panes().transient = status_text_cut(text);
    status_put(panes().transient);
}

void status_line_flash(const char* text) {
    panes().transient = status_text_cut(text);
    panes().transient_showing = true;
    panes().transient_clock.start();
    status_put(panes().transient);
    QApplication::beep();
}

void status_tick() {
    if (panes().transient_showing && panes().transient_clock.elapsed() > TRANSIENT_STATUS_MS) {
        panes().transient_showing = false;
        status_put(status_lasting());
    }
}

const std::string& status_line_text() { return panes().status_shown; }

void idle_tick() {
    status_tick();
    pane_pause_mark_sync();
    engine_guard([] { link_refresh(); });
    bool collapse = false;
    if (panes().collapse_text) {
        panes().collapse_text = false;
        collapse = true;
    } else if (panes().collapse_script) {
        panes().collapse_script = false;
        collapse = true;
    }
    if (collapse) {
        if (QsciScintilla* e = slot_editor(panes().focus_slot)) {
            long caret = sci(e, QsciScintillaBase::SCI_GETCURRENTPOS);
            sci(e, QsciScintillaBase::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
        }
        for (QsciScintilla* e : {panes().windows.text, panes().windows.script})
            if (e) sci(e, QsciScintillaBase::SCI_HIDESELECTION, 0);
    }
    console_pane_settle();
    if (!output_pump_active()) console_pane_streaming(false);
}

} // namespace tarvex
