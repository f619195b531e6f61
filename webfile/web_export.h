// Exporting a web for reading elsewhere: one self-contained HTML page, a
// CommonMark document, or the link graph in Graphviz's DOT language. The
// exporters read the web and nothing else: they allocate no node and change
// no cell, setting or cache.
#pragma once

#include "io/buffered_writer.h"
#include "web/cell.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

enum ExportFormat { EXPORT_HTML, EXPORT_MARKDOWN, EXPORT_DOT };

// "html", "md" (or "markdown") and "dot", in any letter case.
bool export_format_parse(std::string_view word, ExportFormat* out);

// The anchor of a cell's section: "cell-" and the name with every byte that
// is not an ASCII letter or digit written as "-" and two hex digits, so it
// is unique per cell and safe in ids, URLs and DOT.
std::string export_anchor(CellHandle c);

// The words of the export file names, "html", "md", "dot".
const char* export_suffix(ExportFormat fmt);

// What a failed export says: the export file could not be created (-3) or
// written (-4), or it is a web (SE_EXPORT_ONTO_WEB).
const char* export_error_text(int code);

// The link graph of the web: every cell in name order, and an edge from a
// cell to each cell its text or its script names, once per target and kind;
// a cell's edges follow each other, its text's before its script's, each in
// the order first named.
struct WebGraph {
    struct Edge {
        uint32_t from, to; // indices into cells and names
        bool script;       // named in the script, not the text
        bool operator==(const Edge&) const = default;
    };
    std::vector<CellHandle> cells;
    std::vector<std::string> names;
    std::vector<Edge> edges;
};

// A cell being edited: its text and script are read from here instead of
// from the cell, so the graph can show edits not yet copied back.
struct WebGraphEdit {
    CellHandle cell = 0;
    std::string_view text, script;
};

// Reads the graph; allocates no node and changes nothing.
WebGraph web_graph(const WebGraphEdit& edit = {});

// Writes the web in fmt through sink: 0 or SE_WRITE_WEB (-4).
int web_export_write(ExportFormat fmt, WriterSink sink, void* target);

// Writes the web in fmt to path as a save does (a complete file or none):
// 0, SE_OPEN_WEB (-3), SE_WRITE_WEB (-4), or SE_EXPORT_ONTO_WEB when path
// is the web's own file (links followed) or another file that reads as a
// web (path is then untouched). Nothing is shown.
int web_export(ExportFormat fmt, const std::string& path);

} // namespace tarvex
