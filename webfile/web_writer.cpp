// The web file writer: the settings inside one `opts` element, then every
// live cell in name order. It reads the web and nothing else: no node is
// allocated and no value changes, so a web can be saved with the store
// exhausted.
#include "webfile/web_file.h"

#include "core/errors.h"
#include "core/value.h"
#include "io/buffered_writer.h"
#include "settings/setting_table.h"
#include "web/cell.h"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace tarvex {

namespace {

struct Out {
    BufferedWriter w;

    void raw(std::string_view s) { writer_write(w, s); }

    // Only "<" and "&" are escaped; ">" reads back as itself. A zero byte
    // has no place in a web file (the reader drops it), so none is written.
    void escaped(std::string_view s) {
        size_t from = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '<' && s[i] != '&' && s[i] != '\0') continue;
            raw(s.substr(from, i - from));
            if (s[i] != '\0') raw(s[i] == '<' ? "&lt;" : "&amp;");
            from = i + 1;
        }
        raw(s.substr(from));
    }

    void open(const char* tag) {
        raw("\n<");
        raw(tag);
        raw(">");
    }
    void close(const char* tag) {
        raw("</");
        raw(tag);
        raw(">");
    }
    void element(const char* tag, std::string_view content) {
        open(tag);
        escaped(content);
        close(tag);
    }
};

// Every setting the file holds, in the table's order. A value without a word
// is written as an empty element.
void write_settings(Out& o) {
    o.open("opts");
    for (int i = 0; i < S_COUNT; ++i) {
        auto id = static_cast<SettingId>(i);
        const SettingRow& row = setting_row(id);
        if (!row.tag) continue;
        switch (row.kind) {
        case SK_WORD: {
            const char* word = setting_file_word(id, setting_number(id));
            o.element(row.tag, word ? word : "");
            break;
        }
        case SK_NUMBER: o.element(row.tag, std::to_string(setting_number(id))); break;
        // The limit getters share one buffer: each text is written before
        // the next is asked for.
        case SK_TEXT: o.element(row.tag, row.text()); break;
        }
    }
    o.close("opts");
}

// The text a value is saved with: its display text (as the value pane shows
// it), unless it is a computed number that text would not give back, as the
// display's few decimals often would not; that one is saved with the
// shortest text that reads back to the same number. Typed and read values
// keep their own text.
std::string value_file_text(NodeHandle v) {
    std::string shown = value_display(v);
    if (v == 0 || value_kind(v) != VK_NUMBER || (value_flags(v) & (VF_DUAL | VF_NAN)) != 0)
        return shown;
    double d = value_number(v);
    double back = 0.0;
    if (!std::isfinite(d) || (number_parse(shown.c_str(), back) == 0 && back == d)) return shown;
    char buf[NUMBER_TEXT_MAX + 1];
    auto [end, ec] = std::to_chars(buf, buf + NUMBER_TEXT_MAX, d);
    if (ec != std::errc()) return shown;
    return std::string(buf, end);
}

void write_cell(Out& o, CellHandle c) {
    o.open("cell");
    o.element("cname", cell_name_string(c));
    if (text_length(cell_text(c)) != 0) o.element("text", text_to_string(cell_text(c)));
    std::string shown = value_file_text(cell_value(c));
    if (!shown.empty()) o.element("val", shown);
    if (text_length(cell_script(c)) != 0) o.element("script", text_to_string(cell_script(c)));
    o.close("cell");
}

} // namespace

void web_for_each_cell(const std::function<bool(CellHandle)>& visit) {
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL && !visit(e)) return;
}

namespace {
int write_web(Out& o) {
    write_settings(o);
    web_for_each_cell([&](CellHandle c) {
        write_cell(o, c);
        return o.w.error == 0;
    });
    o.close("eof");
    return writer_flush(o.w);
}
} // namespace

int web_write(std::FILE* f) {
    Out o;
    writer_start(o.w, f);
    return write_web(o);
}

int web_write_to(WriterSink sink, void* target) {
    Out o;
    writer_start_sink(o.w, sink, target);
    return write_web(o);
}

} // namespace tarvex
