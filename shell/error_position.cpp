// The error position after a run. The engine recorded the failing cell and
// token index; the token's byte range comes from a fresh scan of that
// cell's script, which is also the editor's text, byte for byte.
#include "shell/error_position.h"

#include "core/errors.h"
#include "script/run_engine.h"
#include "shell/panes.h"

#include <algorithm>
#include <string>

namespace tarvex {

void error_position_show() {
    RunError err = run_last_error();
    // Ending by exit, by Stop or by an abandoned operation is no error.
    if (err.code == 0 || err.code == SE_EXIT || err.code == SE_HALTED ||
        err.code == SE_OPERATION_ABORTED)
        return;
    LexPosition where;
    if (!run_error_position(&where)) return;
    // A token's range runs up to the next character the lexer read, which
    // lies past a comment that follows the token directly. No token holds a
    // '#' (a comment begins there, even inside quotes), so the token ends
    // before the first one.
    std::string script = text_to_string(cell_script(err.cell));
    uint32_t end = std::min<uint32_t>(where.end, uint32_t(script.size()));
    for (uint32_t i = where.start; i < end; ++i)
        if (script[i] == '#') {
            end = i;
            break;
        }
    while (end > where.start && (script[end - 1] == ' ' || script[end - 1] == '\t' ||
                                 script[end - 1] == '\r' || script[end - 1] == '\n'))
        --end;
    pane_state_select(err.cell, where.start, end);

    std::string message = script_error_message(err.code);
    bool status_shows_it = status_line_text() == message;
    message +=
        " (line " + std::to_string(where.line) + ", column " + std::to_string(where.column) + ")";
    // The status line's message expires; the pane keeps it in view, with
    // the cause the status line gave instead of the message, if any.
    std::string cause = err.code == SE_LEXICAL ? lex_error_cause(script, err.token_index) : "";
    pane_error_show(err.cell, where.start, end, cause.empty() ? message : message + "\n" + cause,
                    lex_missing_cell_name(script, err.token_index));
    if (status_shows_it) status_line_amend(message.c_str()); // else something else is showing now
}

} // namespace tarvex
