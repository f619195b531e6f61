// The console pane: output written and streamed, typed lines, wrapping
// where a line does not fit, and the pointer to output out of sight.
#include "shell/panes_state.h"

#include "frontend/frontend.h"
#include "io/keyboard_queue.h"
#include "shell/qt_frontend.h"
#include "web/cell.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

// Output waits here and goes into the editor in one piece at the next
// pump: every insertion costs the editor time in proportion to the text
// before it, so 48-byte pieces would make a long output quadratic.
void console_pane_flush() {
    QsciScintilla* e = panes().windows.console;
    if (!e || panes().console_pending.empty()) return;
    if (output_pump_active()) console_pane_streaming(true);
    long start = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    e->SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, uintptr_t(panes().console_pending.size()),
                     panes().console_pending.c_str());
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    sci(e, QsciScintillaBase::SCI_SETSTYLING,
        static_cast<unsigned long>(panes().console_pending.size()), panes().console_pending_style);
    panes().console_pending.clear();
    if (!console_in_view()) {
        if (!panes().output_unseen) {
            panes().output_unseen = true;
            if (!panes().transient_showing) status_put(status_lasting());
        }
    } else if (QDockWidget* dock = pane_dock(e);
               dock && dock->window()->isVisible() && e->visibleRegion().isEmpty()) {
        dock->raise();
    }
}

void console_pane_seen() {
    if (!panes().output_unseen) return;
    panes().output_unseen = false;
    if (!panes().transient_showing) status_put(panes().persistent);
}

void console_show_on_output(bool on) { panes().console_on_output = on; }
bool console_shows_on_output() { return panes().console_on_output; }

void console_pane_append(std::string_view bytes, int style) {
    if (!panes().windows.console || bytes.empty()) return;
    // Everything the engine writes is output: bold and not editable; only
    // what the user types keeps the plain style.
    if (style == CONSOLE_STYLE_DEFAULT) style = STYLE_OUTPUT;
    if (!panes().console_pending.empty() && style != panes().console_pending_style)
        console_pane_flush();
    panes().console_pending_style = style;
    panes().console_pending.append(bytes);
}

// Wrapping measures every character of every line, which costs far more
// than the output itself. While output streams in, lines are left
// unwrapped; afterwards the console wraps only when some line may be wider
// than the pane, since otherwise wrapping changes nothing on the screen.
void console_pane_streaming(bool on) {
    QsciScintilla* e = panes().windows.console;
    if (!e || on == panes().console_streaming) return;
    panes().console_streaming = on;
    if (on)
        console_wrap_apply(false);
    else
        console_wrap_check(false);
}

void console_pane_clear() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    panes().console_pending.clear();
    sci(e, QsciScintillaBase::SCI_CLEARALL);
    if (panes().output_unseen) {
        panes().output_unseen = false;
        if (!panes().transient_showing) status_put(panes().persistent);
    }
    panes().console_fed_end = 0;
    panes().console_caret_due = false;
    panes().console_long_line = false;
    panes().console_checked_line = 0;
    if (!panes().console_streaming) console_wrap_apply(false);
}

int64_t console_pane_length() {
    if (!panes().windows.console) return 0;
    return sci(panes().windows.console, QsciScintillaBase::SCI_GETLENGTH) +
           int64_t(panes().console_pending.size());
}

void console_pane_caret_to_end() { panes().console_caret_due = true; }

void console_pane_set_style(int64_t start, int64_t length, int style) {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    console_pane_flush();
    long size = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (start < 0) start = 0;
    if (start + length > size) length = size - start;
    if (length <= 0) return;
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(length), style);
}

// While output streams in, bringing the console up to date costs more the
// longer it is (the editor counts the characters before the caret for the
// accessibility layer at every change and every paint), so a refresh every
// pump would make a long output quadratic. Refreshes are spaced so that
// output gets at least CONSOLE_REFRESH_SHARE times the time the console
// takes: the total cost stays in proportion to the output.
void console_pane_settle() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    bool streaming = output_pump_active();
    if (streaming && panes().console_refresh_clock.isValid() &&
        panes().console_refresh_clock.elapsed() < panes().console_refresh_gap_ms)
        return;
    QElapsedTimer cost;
    cost.start();
    console_pane_flush();
    // Brought up here rather than as the text arrives, which may be in the
    // middle of an engine call: showing a tab commits the pane it leaves.
    if (panes().output_unseen && panes().console_on_output) shell_show_view(VIEW_CONS);
    if (panes().console_caret_due) {
        panes().console_caret_due = false;
        long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
        sci(e, QsciScintillaBase::SCI_GOTOPOS, static_cast<unsigned long>(length));
    }
    if (!streaming) {
        // Output written outside the pump, and lines typed or pasted in.
        console_wrap_check(false);
        return;
    }
    // Painted now, so its cost is counted in the spacing.
    if (e->isVisible()) e->viewport()->repaint();
    panes().console_refresh_gap_ms =
        std::max<qint64>(CONSOLE_REFRESH_MIN_MS, CONSOLE_REFRESH_SHARE * cost.elapsed());
    panes().console_refresh_clock.start();
}

void console_enter_typed() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    console_pane_flush();
    long caret = sci(e, QsciScintillaBase::SCI_GETCURRENTPOS);
    // Back to the last output character, but never into a line already
    // handed over: a second line typed at the same prompt must not send the
    // first one again.
    long floor = std::min<long>(long(panes().console_fed_end), caret);
    long from = caret;
    while (from > floor &&
           (sci(e, QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(from - 1)) &
            0x1f) != STYLE_OUTPUT)
        --from;
    keyboard_clear();
    for (long p = from; p < caret; ++p) {
        uint8_t ch =
            uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(p)));
        if (ch != '\n') keyboard_push(ch);
    }
    panes().console_fed_end = caret;
}

} // namespace tarvex
