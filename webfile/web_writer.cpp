// The web file writer: the settings inside one `opts` element, then every
// live cell in name order. It reads the web and nothing else: no node is
// allocated and no value changes, so a web can be saved with the store
// exhausted.
#include "webfile/web_file.h"

#include "core/value.h"
#include "io/buffered_writer.h"
#include "io/io_errors.h"
#include "web/cell.h"
#include "webfile/settings.h"

#include <string>
#include <string_view>

namespace tarvex {

namespace {

struct Out {
    BufferedWriter w;

    void raw(std::string_view s) { writer_write(w, s); }

    // Only "<" and "&" are escaped; ">" reads back as itself.
    void escaped(std::string_view s) {
        size_t from = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '<' && s[i] != '&') continue;
            raw(s.substr(from, i - from));
            raw(s[i] == '<' ? "&lt;" : "&amp;");
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
    void number(const char* tag, long n) { element(tag, std::to_string(n)); }
    // A word from a list indexed from first; a value outside it is written
    // as an empty element.
    template <size_t N>
    void word(const char* tag, int v, int first, const char* const (&words)[N]) {
        int i = v - first;
        element(tag, i >= 0 && i < static_cast<int>(N) ? words[i] : "");
    }
};

void write_settings(Out& o) {
    static const char* const input_types[] = {"keyboard", "cell", "file"};
    static const char* const yes_no[] = {"no", "yes"};
    static const char* const dests[] = {"screen", "file", "print"};
    static const char* const newlines[] = {"lf", "cr", "crlf"};
    static const char* const autos[] = {"list", "fmtlist", "nolist"};
    static const char* const reports[] = {"fmt", "inptr", "outptr", "trail"};
    static const char* const styles[] = {"fixed", "exponent", "general"};
    static const char* const on_off[] = {"off", "on"};

    o.open("opts");
    o.word("isrc", settings_input_type(), 1, input_types);
    o.element("iname", settings_input_name());
    o.word("iecho", settings_echo(), 0, yes_no);
    o.word("odest", settings_output_dest(), 1, dests);
    o.element("oname", settings_output_name());
    o.word("onewl", settings_newline_mode(), 1, newlines);
    o.element("cfmt", settings_list_format());
    o.number("citer", settings_iterations());
    o.word("cdisp", settings_auto_output(), 1, autos);
    o.word("rtype", settings_report_type(), 1, reports);
    o.element("rfmt", settings_report_format());
    o.word("rall", settings_report_all(), 0, yes_no);
    o.element("starg", settings_search_text());
    o.element("srpl", settings_replace_text());
    o.number("scount", settings_scount());
    o.word("sout", settings_sout(), 0, yes_no);
    o.word("nfmt", settings_number_style(), 0, styles);
    o.number("ndec", settings_decimals());
    o.element("nang", settings_trig_units() == TRIG_DEGREES ? "degrees" : "radians");
    o.word("pltng", settings_plotting(), 0, on_off);
    // The limit getters share one buffer: each text is written before the
    // next is asked for.
    o.element("xmax", settings_xmax_text());
    o.element("xmin", settings_xmin_text());
    o.element("ymax", settings_ymax_text());
    o.element("ymin", settings_ymin_text());
    o.number("xintrvls", settings_x_intervals());
    o.number("yintrvls", settings_y_intervals());
    o.element("xycells", settings_plot_cells());
    o.close("opts");
}

void write_cell(Out& o, CellHandle c) {
    o.open("cell");
    std::string name = cell_name_string(c);
    if (name.size() > CELL_NAME_MAX) name.resize(CELL_NAME_MAX);
    o.element("cname", name);
    if (text_length(cell_text(c)) != 0) o.element("text", text_to_string(cell_text(c)));
    // The display text, as the value pane shows it; the value keeps its form.
    std::string shown = value_display(cell_value(c));
    if (!shown.empty()) o.element("val", shown);
    if (text_length(cell_script(c)) != 0) o.element("script", text_to_string(cell_script(c)));
    o.close("cell");
}

} // namespace

namespace {
int write_web(Out& o) {
    write_settings(o);
    for (NodeHandle e = tree_first(cell_root()); e != 0 && o.w.error == 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) write_cell(o, e);
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
