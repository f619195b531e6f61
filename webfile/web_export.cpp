// The exporters. Every cell is visited by the web file writer's walk; links
// are found with the text fields' link rule and the lexer's own scan, both
// of which read text only, so exporting allocates nothing and can run while
// a script is paused without touching its token lists.
#include "webfile/web_export.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/buffered_writer.h"
#include "lexer/script_colour.h"
#include "tokens/char_class.h"
#include "web/links.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <strings.h>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace tarvex {

namespace {

// ---- what every format shows ----------------------------------------------------

struct ExportCell {
    CellHandle cell;
    std::string name, anchor, text, value, script;
    std::vector<CellHandle> text_links, script_links; // in order, duplicates kept
    std::vector<CellHandle> links_here;               // in name order, each once
};

void add_once(std::vector<CellHandle>& v, CellHandle c) {
    if (std::find(v.begin(), v.end(), c) == v.end()) v.push_back(c);
}

// Every cell in name order, and where each stands: the links of a big web
// are looked up by cell, not searched for.
struct ExportCells : std::vector<ExportCell> {
    std::unordered_map<CellHandle, size_t> at;
};

// The cell an identifier at the start of a cell-coloured run names.
CellHandle named_at(std::string_view s) {
    size_t n = 0;
    while (n < s.size() && n < TOKEN_TEXT_MAX) {
        CharClass k = char_class(uint8_t(s[n]));
        if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) break;
        ++n;
    }
    return cell_find(std::string(s.substr(0, n)).c_str());
}

// Runs of one colour class; a UTF-8 continuation byte stays with the byte
// before it, so a run never splits a character.
struct ScriptRun {
    uint8_t cls;
    size_t start, end;
};

std::vector<ScriptRun> script_runs(std::string_view script) {
    std::vector<uint8_t> classes = script_classes(script);
    for (size_t i = 1; i < classes.size(); ++i)
        if ((uint8_t(script[i]) & 0xC0) == 0x80) classes[i] = classes[i - 1];
    std::vector<ScriptRun> runs;
    for (size_t i = 0; i < classes.size();) {
        size_t j = i;
        while (j < classes.size() && classes[j] == classes[i])
            ++j;
        runs.push_back({classes[i], i, j});
        i = j;
    }
    return runs;
}

// The cells a text and a script name, in order, duplicates kept.
void links_of(std::string_view text, std::string_view script, std::vector<CellHandle>& text_links,
              std::vector<CellHandle>& script_links) {
    text_link_scan(text, [&](size_t, size_t, CellHandle n) { text_links.push_back(n); });
    for (const ScriptRun& r : script_runs(script)) {
        if (r.cls != SCL_CELL) continue;
        CellHandle n = named_at(script.substr(r.start, r.end - r.start));
        if (n != 0) script_links.push_back(n);
    }
}

ExportCells gather() {
    ExportCells cells;
    web_for_each_cell([&](CellHandle c) {
        ExportCell e;
        e.cell = c;
        e.name = cell_name_string(c);
        e.anchor = export_anchor(c);
        e.text = text_to_string(cell_text(c));
        e.value = value_display(cell_value(c));
        e.script = text_to_string(cell_script(c));
        links_of(e.text, e.script, e.text_links, e.script_links);
        cells.push_back(std::move(e));
        return true;
    });
    for (size_t i = 0; i < cells.size(); ++i)
        cells.at[cells[i].cell] = i;
    // The in-pointer rule: each cell whose links name it, once, in name
    // order (itself included when it names itself). The namers are visited
    // in name order, so each list comes out in that order.
    for (const ExportCell& y : cells)
        for (const auto* links : {&y.text_links, &y.script_links})
            for (CellHandle named : *links)
                if (auto x = cells.at.find(named); x != cells.at.end()) {
                    std::vector<CellHandle>& here = cells[x->second].links_here;
                    if (here.empty() || here.back() != y.cell) here.push_back(y.cell);
                }
    return cells;
}

const ExportCell* find_cell(const ExportCells& cells, CellHandle c) {
    auto x = cells.at.find(c);
    return x == cells.at.end() ? nullptr : &cells[x->second];
}

std::string web_title() {
    std::string name = web_display_name();
    return name.empty() ? "(untitled)" : name;
}

// ---- UTF-8 ------------------------------------------------------------------------

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_sequence(std::string_view s, size_t i) {
    uint8_t b = uint8_t(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF)
        n = 2, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF)
        n = 3, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4)
        n = 4, cp = b & 0x07;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        uint8_t c = uint8_t(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Web content as well-formed UTF-8: every byte that starts no well-formed
// sequence, and every control character but tab and the line ends (which
// no reader shows), becomes U+FFFD.
std::string utf8_clean(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t n = utf8_sequence(s, i);
        uint8_t b = uint8_t(s[i]);
        if (n == 0 ||
            (n == 1 && ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F))) {
            out += REPLACEMENT;
            ++i;
            continue;
        }
        out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

// ---- output -------------------------------------------------------------------------

struct Out {
    BufferedWriter w;
    void raw(std::string_view s) { writer_write(w, s); }
};

// ---- HTML -----------------------------------------------------------------------------

// Colours as the script pane shows them.
const char* const k_html_style = R"css(
body { font-family: Georgia, "Times New Roman", serif; line-height: 1.45; color: #111;
       max-width: 52em; margin: 2em auto; padding: 0 1em; }
h1, h2, h3 { font-family: Helvetica, Arial, sans-serif; }
h2 { border-bottom: 1px solid #bbb; margin-top: 2em; }
h3 { font-size: 0.95em; margin: 1em 0 0.3em; color: #444; }
a { color: #0645ad; }
nav ol { columns: 14em; padding-left: 2em; }
.text, .value { white-space: pre-wrap; overflow-wrap: anywhere; }
.value { font-family: "DejaVu Sans Mono", monospace; }
pre { background: #f6f6f6; border: 1px solid #ddd; padding: 0.6em; overflow-x: auto; }
pre, code { font-family: "DejaVu Sans Mono", monospace; font-size: 0.9em; }
.rw { color: #800080; font-weight: bold; }
.bi { color: #005f87; }
.sc { color: #a05200; }
.num { color: #008080; }
.str { color: #8b4513; }
.com { color: #6a6a6a; font-style: italic; }
.none { color: #666; font-style: italic; }
@media print {
  body { max-width: none; margin: 0; font-size: 10.5pt; }
  a { color: inherit; text-decoration: none; }
  h2 { break-after: avoid; page-break-after: avoid; }
  h3 { break-after: avoid; page-break-after: avoid; }
  pre { white-space: pre-wrap; overflow-wrap: anywhere; break-inside: avoid; }
  nav { break-after: page; page-break-after: always; }
}
)css";

const char* const k_class_names[] = {"", "rw", "bi", "sc", "cell", "num", "str", "com"};
static_assert(std::size(k_class_names) == SCL_COMMENT + 1);

void html_escaped(Out& o, std::string_view s) {
    std::string clean = utf8_clean(s);
    size_t from = 0;
    for (size_t i = 0; i < clean.size(); ++i) {
        const char* rep = nullptr;
        switch (clean[i]) {
        case '&': rep = "&amp;"; break;
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        case '"': rep = "&quot;"; break;
        case '\'': rep = "&#39;"; break;
        default: continue;
        }
        o.raw(std::string_view(clean).substr(from, i - from));
        o.raw(rep);
        from = i + 1;
    }
    o.raw(std::string_view(clean).substr(from));
}

void html_link(Out& o, const ExportCell& to, std::string_view shown, const char* cls = nullptr) {
    o.raw("<a href=\"#");
    o.raw(to.anchor);
    o.raw(cls ? "\" class=\"" : "");
    o.raw(cls ? cls : "");
    o.raw("\">");
    html_escaped(o, shown);
    o.raw("</a>");
}

void html_text(Out& o, const ExportCells& cells, std::string_view text) {
    size_t from = 0;
    text_link_scan(text, [&](size_t start, size_t end, CellHandle c) {
        const ExportCell* to = find_cell(cells, c);
        if (!to) return;
        html_escaped(o, text.substr(from, start - from));
        html_link(o, *to, text.substr(start, end - start));
        from = end;
    });
    html_escaped(o, text.substr(from));
}

void html_script(Out& o, const ExportCells& cells, std::string_view script) {
    for (const ScriptRun& r : script_runs(script)) {
        std::string_view part = script.substr(r.start, r.end - r.start);
        const ExportCell* to = r.cls == SCL_CELL ? find_cell(cells, named_at(part)) : nullptr;
        if (to) {
            html_link(o, *to, part, "cell");
        } else if (r.cls == SCL_PLAIN || r.cls == SCL_CELL) {
            html_escaped(o, part);
        } else {
            o.raw("<span class=\"");
            o.raw(k_class_names[r.cls]);
            o.raw("\">");
            html_escaped(o, part);
            o.raw("</span>");
        }
    }
}

void write_html(Out& o, const ExportCells& cells) {
    std::string title = web_title();
    o.raw("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
    html_escaped(o, title);
    o.raw("</title>\n<style>");
    o.raw(k_html_style);
    o.raw("</style>\n</head>\n<body>\n<header><h1>");
    html_escaped(o, title);
    o.raw("</h1></header>\n<nav id=\"index\">\n<h2>Cells</h2>\n<ol>\n");
    for (const ExportCell& e : cells) {
        o.raw("<li>");
        html_link(o, e, e.name);
        o.raw("</li>\n");
    }
    o.raw("</ol>\n</nav>\n<main>\n");
    for (const ExportCell& e : cells) {
        if (o.w.error != 0) break;
        o.raw("<section class=\"cell\" id=\"");
        o.raw(e.anchor);
        o.raw("\">\n<h2>");
        html_escaped(o, e.name);
        o.raw("</h2>\n");
        if (!e.text.empty()) {
            o.raw("<h3>Text</h3>\n<div class=\"text\">");
            html_text(o, cells, e.text);
            o.raw("</div>\n");
        }
        if (!e.value.empty()) {
            o.raw("<h3>Value</h3>\n<div class=\"value\">");
            html_escaped(o, e.value);
            o.raw("</div>\n");
        }
        if (!e.script.empty()) {
            o.raw("<h3>Script</h3>\n<pre class=\"script\"><code>");
            html_script(o, cells, e.script);
            o.raw("</code></pre>\n");
        }
        o.raw("<h3>Links here</h3>\n<p class=\"links-here\">");
        if (e.links_here.empty()) o.raw("<span class=\"none\">none</span>");
        for (size_t i = 0; i < e.links_here.size(); ++i) {
            if (i > 0) o.raw(", ");
            const ExportCell* from = find_cell(cells, e.links_here[i]);
            html_link(o, *from, from->name);
        }
        o.raw("</p>\n</section>\n");
    }
    o.raw("</main>\n</body>\n</html>\n");
}

// ---- Markdown ---------------------------------------------------------------------------

bool md_inline_special(char c) {
    switch (c) {
    case '\\':
    case '`':
    case '*':
    case '_':
    case '[':
    case ']':
    case '<':
    case '>':
    case '&':
    case '#':
    case '!':
    case '|':
    case '~': return true;
    default: return false;
    }
}

// Escapes one piece of a line. At the start of a line, the characters that
// would begin a block (list, heading underline, ordered list) are escaped
// too.
void md_escaped(Out& o, std::string_view s, bool line_start) {
    std::string clean = utf8_clean(s);
    std::string out;
    size_t digits = 0;
    while (line_start && digits < clean.size() && std::isdigit(uint8_t(clean[digits])))
        ++digits;
    for (size_t i = 0; i < clean.size(); ++i) {
        char c = clean[i];
        bool block = line_start && ((i == 0 && (c == '-' || c == '+' || c == '=')) ||
                                    (i == digits && digits > 0 && (c == '.' || c == ')')));
        if (md_inline_special(c) || block) out += '\\';
        out += c;
    }
    o.raw(out);
}

void md_link(Out& o, const ExportCell& to, std::string_view shown) {
    o.raw("[");
    md_escaped(o, shown, false);
    o.raw("](#");
    o.raw(to.anchor);
    o.raw(")");
}

// A text as one paragraph that renders with its lines, spaces and blank
// lines as written: lines end in hard breaks, and the spaces Markdown would
// strip (at either end of a line) are written as character references.
// Trailing line ends show nothing and are left out.
void md_paragraph(Out& o, const ExportCells* cells, std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t i = 0;;) {
        size_t end = text.find_first_of("\r\n", i);
        lines.push_back(text.substr(i, end == std::string_view::npos ? end : end - i));
        if (end == std::string_view::npos) break;
        i = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    for (size_t l = 0; l < lines.size(); ++l) {
        std::string_view line = lines[l];
        size_t lead = 0, trail = line.size();
        while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t'))
            ++lead;
        while (trail > lead && (line[trail - 1] == ' ' || line[trail - 1] == '\t'))
            --trail;
        for (size_t i = 0; i < lead; ++i)
            o.raw(line[i] == ' ' ? "&#32;" : "&#9;");
        std::string_view body = line.substr(lead, trail - lead);
        size_t from = 0;
        if (cells)
            text_link_scan(body, [&](size_t start, size_t end, CellHandle c) {
                const ExportCell* to = find_cell(*cells, c);
                if (!to) return;
                md_escaped(o, body.substr(from, start - from), from == 0);
                md_link(o, *to, body.substr(start, end - start));
                from = end;
            });
        md_escaped(o, body.substr(from), from == 0);
        for (size_t i = trail; i < line.size(); ++i)
            o.raw(line[i] == ' ' ? "&#32;" : "&#9;");
        o.raw(l + 1 < lines.size() ? "\\\n" : "\n");
    }
}

void md_code(Out& o, std::string_view script) {
    // The fence is longer than any run of backticks inside, so none closes it.
    size_t longest = 0, run = 0;
    for (char c : script) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    std::string fence(std::max<size_t>(3, longest + 1), '`');
    o.raw(fence);
    o.raw("\n");
    std::string clean = utf8_clean(script);
    std::string body;
    for (size_t i = 0; i < clean.size(); ++i) {
        if (clean[i] == '\r') {
            body += '\n';
            if (i + 1 < clean.size() && clean[i + 1] == '\n') ++i;
        } else {
            body += clean[i];
        }
    }
    o.raw(body);
    if (!body.empty() && body.back() != '\n') o.raw("\n");
    o.raw(fence);
    o.raw("\n");
}

void write_markdown(Out& o, const ExportCells& cells) {
    o.raw("# ");
    md_escaped(o, web_title(), false);
    o.raw("\n\n## Cells\n\n");
    for (const ExportCell& e : cells) {
        o.raw("- ");
        md_link(o, e, e.name);
        o.raw("\n");
    }
    for (const ExportCell& e : cells) {
        if (o.w.error != 0) break;
        o.raw("\n## <a id=\"");
        o.raw(e.anchor);
        o.raw("\"></a>");
        md_escaped(o, e.name, false);
        o.raw("\n");
        if (!e.text.empty()) {
            o.raw("\n### Text\n\n");
            md_paragraph(o, &cells, e.text);
        }
        if (!e.value.empty()) {
            o.raw("\n### Value\n\n");
            md_paragraph(o, nullptr, e.value);
        }
        if (!e.script.empty()) {
            o.raw("\n### Script\n\n");
            md_code(o, e.script);
        }
        o.raw("\n### Links here\n\n");
        if (e.links_here.empty()) o.raw("*none*");
        for (size_t i = 0; i < e.links_here.size(); ++i) {
            if (i > 0) o.raw(", ");
            md_link(o, *find_cell(cells, e.links_here[i]), find_cell(cells, e.links_here[i])->name);
        }
        o.raw("\n");
    }
}

// ---- DOT ---------------------------------------------------------------------------------

void dot_string(Out& o, std::string_view s) {
    std::string out = "\"";
    for (char c : utf8_clean(s)) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\r' || c == '\n') c = ' ';
        out += c;
    }
    out += '"';
    o.raw(out);
}

void write_dot(Out& o, const WebGraph& graph) {
    o.raw("// The link graph of a web: solid edges are links in cell texts, dashed\n"
          "// edges links in scripts.\ndigraph ");
    dot_string(o, web_title());
    o.raw(" {\n  graph [label=");
    dot_string(o, web_title());
    o.raw(", labelloc=t];\n  node [shape=box, style=rounded];\n");
    std::vector<std::string> anchors;
    for (CellHandle c : graph.cells)
        anchors.push_back(export_anchor(c));
    for (size_t i = 0; i < graph.cells.size(); ++i) {
        o.raw("  \"" + anchors[i] + "\" [label=");
        dot_string(o, graph.names[i]);
        o.raw("];\n");
    }
    for (const WebGraph::Edge& e : graph.edges) {
        o.raw("  \"" + anchors[e.from] + "\" -> \"" + anchors[e.to] + "\" [");
        o.raw(e.script ? "style=dashed, color=\"#800080\"" : "style=solid");
        o.raw("];\n");
    }
    o.raw("}\n");
}

} // namespace

bool export_format_parse(std::string_view word, ExportFormat* out) {
    struct Name {
        const char* word;
        ExportFormat fmt;
    };
    static const Name names[] = {{"html", EXPORT_HTML},
                                 {"md", EXPORT_MARKDOWN},
                                 {"markdown", EXPORT_MARKDOWN},
                                 {"dot", EXPORT_DOT}};
    for (const Name& n : names)
        if (word.size() == std::strlen(n.word) &&
            strncasecmp(word.data(), n.word, word.size()) == 0) {
            *out = n.fmt;
            return true;
        }
    return false;
}

const char* export_suffix(ExportFormat fmt) {
    switch (fmt) {
    case EXPORT_MARKDOWN: return "md";
    case EXPORT_DOT: return "dot";
    default: return "html";
    }
}

const char* export_error_text(int code) {
    if (code == SE_EXPORT_ONTO_WEB) return script_error_message(code);
    return code == SE_OPEN_WEB ? "Cannot create the export file" : "Cannot write the export file";
}

std::string export_anchor(CellHandle c) {
    static const char hex[] = "0123456789ABCDEF";
    std::string a = "cell-";
    for (char ch : cell_name_string(c)) {
        uint8_t b = uint8_t(ch);
        if (std::isalnum(b) && b < 0x80) {
            a += ch;
        } else {
            a += '-';
            a += hex[b >> 4];
            a += hex[b & 15];
        }
    }
    return a;
}

WebGraph web_graph(const WebGraphEdit& edit) {
    WebGraph g;
    std::unordered_map<CellHandle, uint32_t> index;
    web_for_each_cell([&](CellHandle c) {
        index.emplace(c, uint32_t(g.cells.size()));
        g.cells.push_back(c);
        g.names.push_back(cell_name_string(c));
        return true;
    });
    std::vector<CellHandle> text_links, script_links;
    for (uint32_t i = 0; i < g.cells.size(); ++i) {
        CellHandle c = g.cells[i];
        text_links.clear();
        script_links.clear();
        if (c == edit.cell)
            links_of(edit.text, edit.script, text_links, script_links);
        else
            links_of(text_to_string(cell_text(c)), text_to_string(cell_script(c)), text_links,
                     script_links);
        for (bool script : {false, true}) {
            std::vector<CellHandle> once;
            for (CellHandle n : script ? script_links : text_links)
                add_once(once, n);
            for (CellHandle n : once)
                if (auto to = index.find(n); to != index.end())
                    g.edges.push_back({i, to->second, script});
        }
    }
    return g;
}

int web_export_write(ExportFormat fmt, WriterSink sink, void* target) {
    Out o;
    writer_start_sink(o.w, sink, target);
    switch (fmt) {
    case EXPORT_HTML: write_html(o, gather()); break;
    case EXPORT_MARKDOWN: write_markdown(o, gather()); break;
    case EXPORT_DOT: write_dot(o, web_graph()); break;
    }
    return writer_flush(o.w);
}

namespace {

// An export never replaces a web: not the open web's own file (whatever
// link or name leads to it, even when it holds nothing yet), nor any other
// file that reads as a web, such as the web given where the export's file
// was meant. An earlier export reads as no web, so it is replaced freely.
bool export_would_replace_web(const std::string& path) {
    struct stat out, web;
    if (stat(path.c_str(), &out) != 0) return false;
    if (!web_file_name().empty() && stat(web_file_name().c_str(), &web) == 0 &&
        out.st_dev == web.st_dev && out.st_ino == web.st_ino)
        return true;
    return web_file_is_web(path);
}

} // namespace

int web_export(ExportFormat fmt, const std::string& path) {
    if (export_would_replace_web(path)) return SE_EXPORT_ONTO_WEB;
    return engine_guard([&] {
        return file_replace(path, [fmt](WriterSink sink, void* target) {
            return web_export_write(fmt, sink, target);
        });
    });
}

} // namespace tarvex
