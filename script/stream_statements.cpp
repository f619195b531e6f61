// The configuration and stream statements: set with a configuration word,
// in and report.
#include "core/errors.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "io/stream_path.h"
#include "lexer/lexer.h"
#include "reports/reports.h"
#include "script/interpreter.h"
#include "settings/setting_table.h"
#include "web/navigation.h"

#include <cstring>
#include <string>

namespace tarvex {

namespace {

constexpr size_t CONFIG_LITERAL_MAX = 256;
constexpr int REPORT_STATEMENT_MAX = 63;

// The text of the literal after a configuration word; false when the token
// is not of an accepted kind.
bool literal_text(bool allow_cell, bool allow_number, std::string* out) {
    Token t = interp().tok;
    uint8_t k = cur_kind();
    if (k == STRING || (allow_number && k == NUMBER)) {
        *out = value_display(token_value(t));
    } else if (allow_cell && k == CELLNAME) {
        CellHandle c = cell_table_at(token_value(t));
        if (c == 0) return false;
        *out = cell_name_string(c);
    } else {
        return false;
    }
    if (out->size() > CONFIG_LITERAL_MAX) out->resize(CONFIG_LITERAL_MAX);
    return true;
}

// A file name taken by literal_text: false when it, or the string it came
// from, is longer than a name may be (a cut name would name another file).
bool name_literal_whole(const std::string& text) {
    Token t = interp().tok;
    if (cur_kind() == STRING && token_aux(t) == LEX_STRING_CUT) return false;
    return settings_name_fits(text.c_str());
}

// The configuration words that choose one of a setting's words, with the
// error for a literal that is not one of them.
struct WordSetting {
    uint8_t resword;
    SettingId id;
    int error;
};

constexpr WordSetting k_word_settings[] = {
    {RW_INTYPE, S_INPUT_TYPE, SE_EXPECTED_INTYPE},
    {RW_OUTTYPE, S_OUTPUT_DEST, SE_EXPECTED_OUTTYPE},
    {RW_NUMFMT, S_NUMBER_STYLE, SE_BAD_NUMFMT},
    {RW_RPTTYPE, S_REPORT_TYPE, SE_EXPECTED_RPTTYPE},
    {RW_TRIGUNITS, S_TRIG_UNITS, SE_BAD_TRIGUNITS},
};

// Closes a stream, changes its setting and opens it again. A failed open
// is the one code scripts have always seen; a name refused by a rule of
// stream files says why on the status line.
int reopened(int (*open)(), bool input) {
    stream_path_refusal_clear();
    if (open() == 0) return 0;
    StreamRefusal why = stream_path_refusal();
    if (why == REFUSAL_OUTSIDE)
        script_error_cause(input ? INPUT_OUTSIDE_TEXT : OUTPUT_OUTSIDE_TEXT);
    if (why == REFUSAL_NOT_REGULAR)
        script_error_cause(input ? INPUT_NOT_REGULAR_TEXT : OUTPUT_NOT_REGULAR_TEXT);
    return SE_CELL_IO_MEMORY;
}

template <class Change> int reopen_input(Change change) {
    input_close();
    change();
    return reopened(input_open, true);
}

template <class Change> int reopen_output(Change change) {
    output_close();
    change();
    return reopened(output_open, false);
}

} // namespace

int stmt_set_config(CellHandle) {
    uint8_t word = token_aux(interp().tok);
    int r = advance();
    if (r != 0) return r;
    if (cur_kind() == RESWORD) {
        if (!cur_is_word(RW_TO)) return SE_BAD_SET;
        if ((r = advance()) != 0) return r;
    }
    std::string text;
    for (const WordSetting& w : k_word_settings) {
        if (w.resword != word) continue;
        int v = literal_text(false, false, &text) ? setting_script_value(w.id, text.c_str()) : -1;
        if (v < 0) return w.error;
        auto set = [&w, v] { setting_set_number(w.id, v); };
        if (w.id == S_INPUT_TYPE || w.id == S_OUTPUT_DEST) {
            if ((r = advance()) != 0) return r;
            return w.id == S_INPUT_TYPE ? reopen_input(set) : reopen_output(set);
        }
        set();
        return advance();
    }
    switch (word) {
    case RW_INNAME:
        if (!literal_text(true, false, &text)) return SE_EXPECTED_INNAME;
        if (!name_literal_whole(text)) return SE_NAME_TOO_LONG;
        if ((r = advance()) != 0) return r;
        return reopen_input([&text] { settings_set_input_name(text.c_str()); });
    case RW_OUTNAME:
        if (!literal_text(true, false, &text)) return SE_EXPECTED_OUTNAME;
        if (!name_literal_whole(text)) return SE_NAME_TOO_LONG;
        if ((r = advance()) != 0) return r;
        return reopen_output([&text] { settings_set_output_name(text.c_str()); });
    case RW_RPTFMT:
        if (!literal_text(false, false, &text)) return SE_EXPECTED_FORMAT;
        settings_set_report_format(text.c_str());
        return advance();
    case RW_NUMDEC: {
        if (cur_kind() != NUMBER) return SE_BAD_NUMDEC;
        int16_t n = 0;
        if (num_to_int16(n, value_number(value_to_number(token_value(interp().tok)))) != 0)
            return SE_BAD_NUMDEC;
        const SettingRow& row = setting_row(S_DECIMALS);
        setting_set_number(S_DECIMALS, setting_clamp(n, row.lo, row.script_hi));
        return advance();
    }
    default: return SE_BAD_SET;
    }
}

int stmt_in(CellHandle) {
    int r = advance();
    if (r != 0) return r;
    if ((r = expect(LPAREN)) != 0) return r;
    for (;;) {
        if (cur_kind() == RPAREN) return expect(RPAREN);
        if (cur_kind() == CELLNAME) {
            NodeHandle v = input_value();
            if (v == 0)
                return settings_input_type() == IN_KEYBOARD ? SE_INPUT_ABORTED : SE_READ_PAST_END;
            int index = 0;
            r = parse_cell_index(&index);
            CellHandle target = r == 0 ? cell_table_at(index) : 0;
            if (r != 0 || target == 0) {
                value_free(v);
                return r != 0 ? r : SE_SUBSCRIPT_RANGE;
            }
            cell_set_value(target, v);
        } else if (cur_kind() == STRING) {
            input_prompt(value_display(token_value(interp().tok)));
            if ((r = advance()) != 0) return r;
        } else {
            return SE_BAD_IN;
        }
        bool done = false;
        if ((r = list_item_end(SE_BAD_IN, &done)) != 0 || done) return r;
    }
}

int stmt_report(CellHandle) {
    int r = advance();
    if (r != 0) return r;
    if (cur_kind() != LPAREN) return 0;
    report_selection_clear();
    if ((r = advance()) != 0) return r;
    bool any = false;
    while (cur_kind() != RPAREN) {
        if (cur_kind() != CELLNAME) return SE_CELL_LIST;
        int index = 0;
        if ((r = parse_cell_index(&index)) != 0) return r;
        report_selection_add(cell_table_at(index), REPORT_STATEMENT_MAX);
        any = true;
        if (cur_kind() == COMMA) {
            if ((r = advance()) != 0) return r;
        } else if (cur_kind() != RPAREN) {
            return SE_CELL_LIST;
        }
    }
    position_save();
    report_statement_run(any);
    position_restore();
    return advance();
}

} // namespace tarvex
