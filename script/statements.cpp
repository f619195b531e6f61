// The statement executor: conditionals and loops move the token cursor,
// and skipped clauses are jumped over with targets cached in the clause's
// own reserved-word token.
#include "core/handle_stack.h"
#include "core/value.h"
#include "io/output_stream.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "script/run_engine.h"

namespace tarvex {

namespace {

// The jump cache of a reserved-word token: the index of the first token
// after its clause, 0 until computed.
uint16_t cache_of(Token t) { return token_value(t); }
void cache_set(Token t) { token_set_value(t, interp().cur.index); }

// From an opening token, advances past its matching closing token.
int skip_balanced(uint8_t open, uint8_t close) {
    int r, count = 1;
    while (count > 0) {
        if ((r = advance()) != 0) return r;
        if (cur_kind() == END_OF_FILE) return SE_UNEXPECTED_END;
        if (cur_kind() == open)
            ++count;
        else if (cur_kind() == close)
            --count;
    }
    return advance();
}

int skip_group() {
    if (cur_kind() != LPAREN) return SE_EXPECTED_LPAREN;
    return skip_balanced(LPAREN, RPAREN);
}

int skip_block() {
    int r;
    while (cur_kind() != LBRACE) {
        if (cur_kind() == END_OF_FILE) return SE_UNEXPECTED_END;
        if ((r = advance()) != 0) return r;
    }
    return skip_balanced(LBRACE, RBRACE);
}

// Skips a clause (condition group and block) and caches where it ends.
int skip_clause(Token t, bool with_group) {
    if (cache_of(t) != 0) {
        seek(cache_of(t));
        return 0;
    }
    int r;
    if (with_group && (r = skip_group()) != 0) return r;
    if ((r = skip_block()) != 0) return r;
    cache_set(t);
    return 0;
}

// ( expression ) as a truth value.
int condition(bool* truth) {
    int r;
    if ((r = expect(LPAREN)) != 0) return r;
    if ((r = eval_to_truth(truth)) != 0) return r;
    return expect(RPAREN);
}

// A conditional clause: its block runs when its condition holds; otherwise
// the cursor moves past it.
int conditional_clause(CellHandle cell, Token clause, bool* taken) {
    int r;
    bool truth = false;
    if ((r = expect(LPAREN)) != 0) return r;
    if ((r = eval_to_truth(&truth)) != 0) return r;
    return clause_after_condition(cell, clause, truth, taken);
}

// The first pass over an if statement caches where each clause ends; the
// if's own target is written last, so that once it is known the pass has
// been made in full and would only move the cursor there and back: its
// saved position is still taken and dropped, which is all it changes.
int if_first_pass(Token if_tok) {
    Interpreter& in = interp();
    if (cache_of(if_tok) != 0) {
        position_touch();
        return 0;
    }
    int r;
    position_save();
    uint16_t if_end = 0;
    do {
        Token t = in.tok;
        if ((r = advance()) != 0) return r;
        if (t != if_tok) {
            if ((r = skip_clause(t, true)) != 0) return r;
        } else {
            if ((r = skip_group()) != 0) return r;
            if ((r = skip_block()) != 0) return r;
            if_end = in.cur.index;
        }
    } while (cur_is_word(RW_ELSEIF));
    if (cur_is_word(RW_ELSE)) {
        Token t = in.tok;
        if (cache_of(t) == 0) {
            if ((r = advance()) != 0) return r;
            if ((r = skip_block()) != 0) return r;
            cache_set(t);
        }
    }
    if (position_restore() == 0 || !cur_is_word(RW_IF)) return SE_INTERNAL;
    token_set_value(if_tok, if_end);
    return 0;
}

int stmt_if(CellHandle cell) {
    Token if_tok = interp().tok;
    int r;
    if ((r = if_first_pass(if_tok)) != 0) return r;
    bool taken = false;
    if ((r = advance()) != 0) return r;
    if ((r = conditional_clause(cell, if_tok, &taken)) != 0) return r;
    return if_clauses_after(cell, taken);
}

int stmt_while(CellHandle cell) {
    Token while_tok = interp().tok;
    int r;
    position_save();
    if ((r = advance()) != 0) return r;
    if ((r = while_first_pass(while_tok)) != 0) return r;
    for (;;) {
        if ((r = loop_round_start()) != 0) return r;
        if ((r = advance()) != 0) return r;
        bool truth = false;
        if ((r = condition(&truth)) != 0) return r;
        if (!truth) {
            seek(cache_of(while_tok));
            break;
        }
        if ((r = exec_block(cell)) != 0) return r;
    }
    position_drop();
    return 0;
}

int stmt_do(CellHandle cell) {
    int r;
    position_save();
    for (;;) {
        if ((r = loop_round_start()) != 0) return r;
        if ((r = advance()) != 0) return r;
        if ((r = exec_block(cell)) != 0) return r;
        if (!cur_is_word(RW_WHILE)) return SE_BAD_DO;
        if ((r = advance()) != 0) return r;
        bool truth = false;
        if ((r = condition(&truth)) != 0) return r;
        if (!truth) break;
    }
    position_drop();
    return 0;
}

// The tolerance comparison of the loop cell's value with the limit, on a
// copy of the value made a number. A number whose copy takes at most
// PASSING_CHARGES_MAX nodes, where taking them notes nothing, is compared
// in place: the copy's nodes only count as allocated.
int loop_compare(CellHandle cell, NodeHandle limit) {
    NodeHandle src = cell_value(cell);
    if (src != 0 && value_kind(src) == VK_NUMBER && value_kind(limit) == VK_NUMBER &&
        detail::store_roomy(PASSING_CHARGES_MAX)) {
        Text t = value_text(src);
        if (t == 0 || chain_next(t) == 0) {
            node_charges_passed(t == 0 ? 1 : 2);
            return value_compare(src, limit);
        }
    }
    NodeHandle v = value_new();
    value_copy(v, cell_value(cell));
    value_to_number(v);
    value_to_number(limit);
    int c = value_compare(v, limit);
    value_free(v);
    return c;
}

// The loop cell's next value: a copy of its value with the step added,
// made the cell's. The cell's one value (no history kept) with a text of at
// most one chunk with room to spare is stepped in place where taking the
// copy's nodes notes nothing: the copy's node and chunk only count as
// allocations, the value they would replace is kept instead of released,
// and the cell is told of it as cell_set_value tells.
void loop_step(CellHandle loop_cell, NodeHandle step) {
    NodeHandle v = cell_value(loop_cell);
    if (v != 0 && chain_next(v) == 0 && cell_history_depth(loop_cell) == 0 &&
        detail::store_roomy(PASSING_CHARGES_MAX)) {
        Text t = value_text(v);
        if (t == 0 || (chain_next(t) == 0 && node_aux(t) < TEXT_CHUNK)) {
            node_charges_passed(t != 0 && node_aux(t) != 0 ? 2 : 1);
            value_add(v, step);
            if (detail::g_value_hook) detail::g_value_hook(v, loop_cell);
            return;
        }
    }
    NodeHandle next = value_new();
    value_copy(next, v);
    value_add(next, step);
    cell_set_value(loop_cell, next);
}

int for_rounds(CellHandle cell, CellHandle loop_cell, NodeHandle limit, NodeHandle step,
               int direction, Token for_tok) {
    int r;
    int cmp = loop_compare(loop_cell, limit);
    if (cmp == 0) return exec_block(cell);
    if (direction + cmp != 0) {
        seek(cache_of(for_tok));
        return 0;
    }
    position_save();
    while (cmp != 0) {
        if ((r = loop_round_start()) != 0) return r;
        if ((r = exec_block(cell)) != 0) return r;
        loop_step(loop_cell, step);
        int now = loop_compare(loop_cell, limit);
        if (now == 0) {
            position_restore();
            return exec_block(cell);
        }
        if (now != cmp) {
            position_drop();
            return 0;
        }
    }
    return 0;
}

int stmt_for(CellHandle cell) {
    Token for_tok = interp().tok;
    int r;
    if ((r = advance()) != 0) return r;
    if (cache_of(for_tok) == 0) {
        position_save();
        if ((r = skip_group()) != 0) return r;
        if ((r = skip_block()) != 0) return r;
        cache_set(for_tok);
        position_restore();
    }
    if ((r = expect(LPAREN)) != 0) return r;
    if (cur_kind() != CELLNAME) return SE_BAD_FOR;
    int index = 0;
    if ((r = parse_cell_index(&index)) != 0) return r;
    CellHandle loop_cell = cell_table_at(index);
    if (loop_cell == 0) return SE_BAD_FOR;
    if ((r = expect(EQUAL)) != 0) return r;
    NodeHandle start = 0;
    if ((r = eval_to_value(&start)) != 0) return r;
    cell_set_value(loop_cell, start);
    if (!cur_is_word(RW_TO)) return SE_BAD_FOR;
    if ((r = advance()) != 0) return r;
    NodeHandle limit = 0, step = 0;
    if ((r = eval_to_value(&limit)) != 0) return r;
    int direction = 1;
    if (cur_is_word(RW_STEP)) {
        if ((r = advance()) == 0) r = eval_to_value(&step);
        if (r == 0) direction = value_number(value_to_number(step)) < 0 ? -1 : 1;
    } else {
        step = value_new_one();
    }
    if (r == 0) r = expect(RPAREN);
    if (r == 0) r = for_rounds(cell, loop_cell, limit, step, direction, for_tok);
    value_free(limit);
    value_free(step);
    return r;
}

int stmt_set(CellHandle cell) {
    int r = advance();
    if (r != 0) return r;
    if (cur_kind() == RESWORD) return stmt_set_config(cell);
    if (cur_kind() != CELLNAME) return SE_SET_TARGET;
    int index = 0;
    if ((r = parse_cell_index(&index)) != 0) return r;
    if (cur_kind() == RESWORD) {
        if (!cur_is_word(RW_TO)) return SE_BAD_SET;
        if ((r = advance()) != 0) return r;
    }
    NodeHandle v = 0;
    if ((r = eval_to_value(&v, SE_INVALID_EXPRESSION)) != 0) return r;
    return assign_at(index, v);
}

int stmt_expression(CellHandle cell) {
    NodeHandle v = 0;
    int r = eval_to_value(&v);
    if (r != 0) return r;
    cell_set_value(cell, v);
    return 0;
}

} // namespace

int while_first_pass(Token while_tok) {
    if (cache_of(while_tok) != 0) return 0;
    int r;
    if ((r = skip_group()) != 0) return r;
    if ((r = skip_block()) != 0) return r;
    cache_set(while_tok);
    return 0;
}

int clause_after_condition(CellHandle cell, Token clause, bool truth, bool* taken) {
    int r;
    if ((r = expect(RPAREN)) != 0) return r;
    if (!truth) {
        seek(cache_of(clause));
        return 0;
    }
    *taken = true;
    return exec_block(cell);
}

int if_clauses_after(CellHandle cell, bool taken) {
    Interpreter& in = interp();
    int r;
    while (cur_is_word(RW_ELSEIF) || cur_is_word(RW_ELSE)) {
        Token t = in.tok;
        if (cur_is_word(RW_ELSE)) {
            if (taken) {
                seek(cache_of(t));
            } else {
                if ((r = advance()) != 0) return r;
                if ((r = exec_block(cell)) != 0) return r;
            }
            break;
        }
        if ((r = advance()) != 0) return r;
        if (taken) {
            seek(cache_of(t));
            continue;
        }
        if ((r = conditional_clause(cell, t, &taken)) != 0) return r;
    }
    return 0;
}

int exec_statement_list(CellHandle cell) {
    if (interp().tok == nullptr) return SE_INTERNAL;
    if (interp_fast_path() && interp().list != 0) return compiled_statement_list(cell);
    while (!list_ends_at(cur_kind())) {
        int r = exec_statement(cell);
        if (r != 0) return r;
    }
    return 0;
}

int exec_block(CellHandle cell) {
    if (cur_kind() != LBRACE) return SE_MISSING_LBRACE;
    int r = advance();
    if (r != 0) return r;
    if ((r = exec_statement_list(cell)) != 0) return r;
    if (cur_kind() != RBRACE) return SE_MISSING_RBRACE;
    return advance();
}

int exec_statement(CellHandle cell) {
    Nest nest;
    if (!nest.ok) return SE_STACK_OVERFLOW;
    if (cur_kind() == LBRACE) return exec_block(cell);
    if (int r = statement_checks(); r != 0) return r;
    return exec_statement_body(cell);
}

int exec_statement_body(CellHandle cell) {
    switch (cur_kind()) {
    case RESWORD:
        switch (token_aux(interp().tok)) {
        case RW_IF: return stmt_if(cell);
        case RW_DO: return stmt_do(cell);
        case RW_FOR: return stmt_for(cell);
        case RW_SET: return stmt_set(cell);
        case RW_BRK: return breakpoint();
        case RW_EXIT: return SE_EXIT;
        case RW_WHILE: return stmt_while(cell);
        case RW_IN: return stmt_in(cell);
        case RW_OUT: return stmt_out(cell);
        case RW_REPORT: return stmt_report(cell);
        case RW_NOT: return stmt_expression(cell);
        default: return SE_ILLEGAL_STATEMENT;
        }
    case END_OF_FILE: return SE_UNEXPECTED_END;
    default: return stmt_expression(cell);
    }
}

int stmt_out(CellHandle) {
    int r = advance();
    if (r != 0) return r;
    if ((r = expect(LPAREN)) != 0) return r;
    for (;;) {
        if (cur_kind() == RPAREN) return advance();
        NodeHandle v = 0;
        if ((r = eval_to_value(&v)) != 0) return r;
        value_to_text(v);
        int w = output_field(value_text(v));
        value_free(v);
        if (w != 0) return SE_OPERATION_ABORTED;
        bool done = false;
        if ((r = list_item_end(SE_BAD_OUT, &done)) != 0 || done) return r;
    }
}

int list_item_end(int error, bool* done) {
    *done = cur_kind() == RPAREN;
    if (!*done && cur_kind() != COMMA) return error;
    return advance();
}

} // namespace tarvex
