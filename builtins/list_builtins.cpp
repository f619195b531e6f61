// The builtins over argument lists (min, max, mean, lookup), over the string
// form of a value (slen, first, last, butfirst, butlast) and over a cell's
// value history (previous).
#include "builtins/builtin_args.h"
#include "builtins/builtins.h"
#include "web/cell.h"

#include <cstdlib>

namespace tarvex {

namespace {

constexpr TextLen CELL_ARG_MAX = 128;

// min and max: the first argument wins ties; the winner is copied whole, so
// a number that came from a string keeps its text.
int32_t pick(NodeHandle r, bool smaller) {
    NodeHandle best = arg_number(r, 0);
    if (best == 0) return SE_BUILTIN_ARG;
    for (NodeHandle a = chain_next(best); a != 0; a = chain_next(a)) {
        value_to_number(a);
        int c = num_compare(value_number(a), value_number(best));
        if (smaller ? c < 0 : c > 0) best = a;
    }
    value_copy(r, best);
    return 0;
}

enum class Cut { First, Last, ButFirst, ButLast };

// The cut of s's string form; s's text is cut in place for the result
// where it fits, when the call owns s (Owned), and copied otherwise.
template <Cut cut, bool Owned> int32_t cut_of(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    if (count == 0) return SE_BUILTIN_ARG;
    int16_t n16 = 0;
    if (arg_int16(count, n16) != 0) return SE_BUILTIN_ARG;
    Text t = arg_string_form(s);
    int64_t n = static_cast<uint16_t>(n16); // a negative count wraps to 65536 + n
    int64_t from = 1, to;
    if constexpr (cut == Cut::First) {
        // No position here can wrap, and an end past the text is its end.
        to = n;
    } else if (cut == Cut::ButFirst && n < 0xFFFF) {
        from = n + 1;
        to = TEXT_LEN_MAX;
    } else {
        int64_t len = text_length(t);
        to = len;
        switch (cut) {
        case Cut::Last: from = len + 1 - n; break;
        case Cut::ButFirst: from = n + 1; break;
        case Cut::ButLast: to = len - n; break;
        case Cut::First: break;
        }
        // Positions wrap at 65536 like the count (so last('HELLO', 7) is
        // empty). A string longer than that cannot go negative here, and
        // wrapping would only cut it at a wrong place, so its positions are
        // taken as they are.
        if (len <= 0xFFFF) {
            from &= 0xFFFF;
            to &= 0xFFFF;
        }
    }
    out.kind = VK_STRING;
    TextLen a = static_cast<TextLen>(from), b = static_cast<TextLen>(to);
    TextLen k = Owned ? text_cut_fits_in_place(t, a, b) : 0;
    if (k == 0) {
        out.text = text_substring(t, a, b);
        return 0;
    }
    // The argument's text, released next, is cut and becomes the result.
    // The store is charged for the chunk the copy would take and given back
    // the chunk the release would return, at the same points, so that it
    // counts exactly what a copy counts.
    {
        NodeCharge copy_chunk;
        value_set_text_handle(s, 0);
        text_cut_in_place(t, a, k);
    }
    out.text = t;
    return 0;
}

template <Cut cut> int32_t substring(NodeHandle args, BuiltinOut& out) {
    return cut_of<cut, true>(args, args != 0 ? chain_next(args) : 0, out);
}

} // namespace

NodeHandle arg_cell(NodeHandle arg) {
    char name[CELL_ARG_MAX + 1];
    text_to_buffer(name, arg_string_form(arg), CELL_ARG_MAX);
    return cell_find(name);
}

int32_t builtin_min(NodeHandle r) { return pick(r, true); }
int32_t builtin_max(NodeHandle r) { return pick(r, false); }

int32_t builtin_mean(NodeHandle r) {
    NodeHandle first = arg_number(r, 0);
    if (first == 0) return SE_BUILTIN_ARG;
    value_copy(r, first);
    double sum = value_number(r);
    uint8_t flags = value_flags(r);
    int count = 1;
    for (NodeHandle a = chain_next(first); a != 0; a = chain_next(a)) {
        value_to_number(a);
        if (num_add(sum, value_number(a)) != 0) flags |= VF_NAN;
        ++count;
    }
    if (num_div(sum, count) != 0) flags |= VF_NAN;
    result_set_number(r, sum, flags);
    return 0;
}

int32_t builtin_lookup(NodeHandle r) {
    NodeHandle x = arg_at(r, 0);
    int given = 0;
    for (NodeHandle a = x; a != 0; a = chain_next(a)) {
        value_to_number(a);
        ++given;
    }
    // x, then complete (x, y) points, at least one.
    if (given < 3 || given % 2 == 0) return SE_BUILTIN_ARG;
    NodeHandle xa = chain_next(x), ya = chain_next(xa);
    for (NodeHandle xb = chain_next(ya); xb != 0; xb = chain_next(chain_next(xb))) {
        NodeHandle yb = chain_next(xb);
        if (value_compare(x, xa) <= 0) break;
        if (value_compare(x, xb) <= 0) {
            double y = value_number(yb);
            uint8_t flags = (value_flags(x) | value_flags(xa) | value_flags(ya) | value_flags(xb) |
                             value_flags(yb)) &
                            VF_NAN;
            int fail = num_sub(y, value_number(ya));
            double dx = value_number(x);
            fail |= num_sub(dx, value_number(xa));
            fail |= num_mul(y, dx);
            double span = value_number(xb);
            fail |= num_sub(span, value_number(xa));
            fail |= num_div(y, span);
            fail |= num_add(y, value_number(ya));
            if (fail != 0) flags |= VF_NAN;
            result_set_number(r, y, flags);
            return 0;
        }
        xa = xb;
        ya = yb;
    }
    value_copy(r, ya);
    return 0;
}

namespace {
int32_t slen_of(NodeHandle args, BuiltinOut& out) {
    if (args == 0) return SE_BUILTIN_ARG;
    out.kind = VK_NUMBER;
    out.number = text_length(arg_string_form(args));
    return 0;
}
} // namespace

namespace {
// A string and a count that the cut leaves as they are: a string's form is
// its text, and a number is the count as it stands.
template <Cut cut> bool cut_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    return value_kind(s) == VK_STRING && value_kind(count) == VK_NUMBER &&
           cut_of<cut, false>(s, count, out) == 0;
}
} // namespace

bool slen_on_reads(NodeHandle s, NodeHandle, BuiltinOut& out) {
    return value_kind(s) == VK_STRING && slen_of(s, out) == 0;
}
bool first_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    return cut_on_reads<Cut::First>(s, count, out);
}
bool last_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    return cut_on_reads<Cut::Last>(s, count, out);
}
bool butfirst_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    return cut_on_reads<Cut::ButFirst>(s, count, out);
}
bool butlast_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out) {
    return cut_on_reads<Cut::ButLast>(s, count, out);
}

int32_t slen_in_first(NodeHandle args, NodeHandle* result) {
    return invoke_in_first(args, result, slen_of);
}
int32_t first_in_first(NodeHandle args, NodeHandle* result) {
    return invoke_in_first(args, result, substring<Cut::First>);
}
int32_t last_in_first(NodeHandle args, NodeHandle* result) {
    return invoke_in_first(args, result, substring<Cut::Last>);
}
int32_t butfirst_in_first(NodeHandle args, NodeHandle* result) {
    return invoke_in_first(args, result, substring<Cut::ButFirst>);
}
int32_t butlast_in_first(NodeHandle args, NodeHandle* result) {
    return invoke_in_first(args, result, substring<Cut::ButLast>);
}

int32_t builtin_slen(NodeHandle r) { return result_from(r, slen_of); }
int32_t builtin_first(NodeHandle r) { return result_from(r, substring<Cut::First>); }
int32_t builtin_last(NodeHandle r) { return result_from(r, substring<Cut::Last>); }
int32_t builtin_butfirst(NodeHandle r) { return result_from(r, substring<Cut::ButFirst>); }
int32_t builtin_butlast(NodeHandle r) { return result_from(r, substring<Cut::ButLast>); }

int32_t builtin_previous(NodeHandle r) {
    NodeHandle name = arg_at(r, 0);
    if (name == 0) return SE_BUILTIN_ARG;
    CellHandle cell = arg_cell(name);
    if (cell == 0) return SE_BUILTIN_ARG;
    int n = 1;
    if (NodeHandle steps = arg_at(r, 1); steps != 0) {
        int16_t n16 = 0;
        if (arg_int16(steps, n16) != 0) return SE_BUILTIN_ARG;
        n = std::abs(static_cast<int>(n16)) % 256;
    }
    if (n > cell_history_depth(cell)) cell_set_history_depth(cell, static_cast<uint8_t>(n));

    NodeHandle v = cell_value(cell), oldest = 0;
    for (int i = 0; i < n && v != 0; ++i) {
        oldest = v;
        v = chain_next(v);
    }
    if (v != 0) {
        value_copy(r, v);
        return 0;
    }
    if (NodeHandle fallback = arg_at(r, 2); fallback != 0) {
        value_copy(r, fallback);
        return 0;
    }
    value_copy(r, oldest); // 0 when the cell has no value: an empty result
    return 0;
}

} // namespace tarvex
