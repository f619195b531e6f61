// Exporting webs: what each format writes is read back with a real reader
// (libxml2's HTML parser, the cmark renderer, Graphviz's dot), over every
// acceptance web and over hostile texts.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "reports/pointers.h"
#include "web/links.h"
#include "webfile/web_export.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

// ---- reading HTML back ---------------------------------------------------------

std::string node_text(xmlNode* n) {
    xmlChar* c = xmlNodeGetContent(n);
    std::string s = c ? reinterpret_cast<const char*>(c) : "";
    xmlFree(c);
    return s;
}

std::string attr(xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

bool is(xmlNode* n, const char* tag) {
    return n && n->type == XML_ELEMENT_NODE && xmlStrcasecmp(n->name, BAD_CAST tag) == 0;
}

// Line ends as a reader sees them.
std::string lf(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\r')
            out += s[i];
        else if (i + 1 >= s.size() || s[i + 1] != '\n')
            out += '\n';
    }
    return out;
}

struct Page {
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc{nullptr, xmlFreeDoc};
    std::map<std::string, int> ids;
    std::vector<std::string> hrefs;
    std::set<std::string> tags;
    std::vector<std::string> handlers; // attributes named on...
    std::vector<xmlNode*> elements;    // document order

    explicit Page(const std::string& html) {
        doc.reset(htmlReadMemory(html.data(), int(html.size()), "page.html", "UTF-8",
                                 HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
        if (doc) walk(xmlDocGetRootElement(doc.get()));
    }
    void walk(xmlNode* n) {
        for (; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE) continue;
            elements.push_back(n);
            tags.insert(reinterpret_cast<const char*>(n->name));
            for (xmlAttr* a = n->properties; a; a = a->next) {
                std::string name = reinterpret_cast<const char*>(a->name);
                if (name == "id") ++ids[attr(n, "id")];
                if (name == "href") hrefs.push_back(attr(n, "href"));
                if (name.rfind("on", 0) == 0) handlers.push_back(name);
            }
            walk(n->children);
        }
    }
    xmlNode* by_id(const std::string& id) const {
        for (xmlNode* n : elements)
            if (attr(n, "id") == id) return n;
        return nullptr;
    }
    // Every internal link names exactly one element.
    void expect_links_resolve() const {
        for (const std::string& h : hrefs) {
            ASSERT_EQ(h.rfind('#', 0), 0u) << "external link " << h;
            auto it = ids.find(h.substr(1));
            EXPECT_TRUE(it != ids.end() && it->second == 1) << h;
        }
    }
};

// The element after the h3 of a field inside a cell's part of a page; the
// part runs from first to the next h2.
xmlNode* field_after(xmlNode* first, const char* heading) {
    for (xmlNode* n = first; n; n = n->next) {
        if (n != first && is(n, "h2")) break;
        if (!is(n, "h3") || node_text(n) != heading) continue;
        xmlNode* m = n->next;
        while (m && m->type != XML_ELEMENT_NODE)
            m = m->next;
        return m;
    }
    return nullptr;
}

// The heading of an HTML page's section.
xmlNode* heading_of(xmlNode* section) {
    xmlNode* h = section ? section->children : nullptr;
    while (h && !is(h, "h2"))
        h = h->next;
    return h;
}

std::string run_command(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

std::vector<CellHandle> live_cells() {
    std::vector<CellHandle> cells;
    web_for_each_cell([&](CellHandle c) {
        cells.push_back(c);
        return true;
    });
    return cells;
}

// The text of a field under a cell's heading; "" when there is none.
std::string field_text(xmlNode* heading, const char* field) {
    xmlNode* n = field_after(heading, field);
    return n ? node_text(n) : "";
}

// A cell's heading and fields as a page shows them: HTML keeps every line
// end; cmark renders Markdown back as written, without the line ends that
// close the text and the value, and with one closing the script.
void expect_cell_fields(xmlNode* heading, CellHandle c, bool markdown) {
    std::string name = cell_name_string(c);
    EXPECT_EQ(node_text(heading), name);
    auto trimmed = [&](std::string s) {
        while (markdown && !s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    };
    std::string script = lf(text_to_string(cell_script(c)));
    if (markdown && !script.empty() && script.back() != '\n') script += '\n';
    EXPECT_EQ(lf(field_text(heading, "Text")), trimmed(lf(text_to_string(cell_text(c))))) << name;
    std::string value = value_display(cell_value(c));
    EXPECT_EQ(field_text(heading, "Value"), markdown ? trimmed(lf(value)) : value) << name;
    EXPECT_EQ(lf(field_text(heading, "Script")), script) << name;
}

class ExportTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    void TearDown() override {
        text_links_discard_all();
        WebFileTest::TearDown();
    }
    std::string exported(ExportFormat fmt, const std::string& name = "out") {
        std::string p = path(name);
        EXPECT_EQ(web_export(fmt, p), 0);
        return file_bytes(p);
    }
    std::string cmark(const std::string& md) {
        put_file(path("page.md"), md);
        int status = -1;
        std::string html = run_command("cmark --unsafe '" + path("page.md") + "'", &status);
        EXPECT_EQ(status, 0);
        return html;
    }
    // cmark's page: a cell's part starts at the h2 holding its anchor.
    xmlNode* md_cell(const Page& page, CellHandle c) {
        xmlNode* a = page.by_id(export_anchor(c));
        return a ? a->parent : nullptr;
    }
    // A small web whose texts and script hold everything a reader could
    // misread.
    void make_hostile_web() {
        cell_set_text(cell_root(), hostile_text);
        CellHandle a = cell_create("a_b");
        cell_set_text(a, "Back to home.\r\n\r\n1. not a list\r\n- nor this\r\n===\r\n"
                         "    not code\r\n  # no heading  \r\n`tick` *em* _u_ [x](y) &amp; \\\r\n");
        cell_set_value_text(a, "</div><script>alert(1)</script>");
        cell_set_script(
            a, "out(\"<script>alert(1)</script>\") # </pre><img src=x onerror=alert(2)>\r\n"
               "set home = a_b + 1\r\n```\r\n");
        cell_set_text(cell_create("bad"), "broken \xff and \xc3 and \xc0\xaf and \x01 end");
    }
    const char* hostile_text = "<script>alert(1)</script> \"><img src=x onerror=alert(1)> see a_b";
};

TEST_F(ExportTest, EveryAcceptanceWebExportsToEachFormatAndReadsBack) {
    for (const std::string& web : acceptance_webs()) {
        SCOPED_TRACE(web);
        ASSERT_TRUE(web_open(web.c_str()).done());
        std::string before = saved("before.tvx");
        uint16_t used = nodes_in_use();
        Page page(exported(EXPORT_HTML, "out.html"));
        EXPECT_EQ(nodes_in_use(), used);
        ASSERT_TRUE(page.doc);
        page.expect_links_resolve();
        std::vector<CellHandle> cells = live_cells();
        int sections = 0;
        for (xmlNode* n : page.elements)
            sections += is(n, "section");
        EXPECT_EQ(sections, int(cells.size()));
        for (CellHandle c : cells) {
            std::string name = cell_name_string(c);
            xmlNode* s = page.by_id(export_anchor(c));
            ASSERT_TRUE(is(s, "section")) << name;
            xmlNode* h = heading_of(s);
            ASSERT_TRUE(h);
            expect_cell_fields(h, c, false);
            // Links here: the in-pointers of the text links and of the scripts.
            std::set<std::string> expected;
            for (PointerSource from : {PS_TEXT_LINKS, PS_SCRIPT_TOKENS})
                for (CellHandle y : in_pointers(c, from))
                    expected.insert(export_anchor(y));
            std::set<std::string> shown;
            xmlNode* here = field_after(h, "Links here");
            ASSERT_TRUE(here);
            for (xmlNode* a = here->children; a; a = a->next)
                if (is(a, "a")) shown.insert(attr(a, "href").substr(1));
            EXPECT_EQ(shown, expected) << name;
        }
        text_links_discard_all();

        // Markdown, read back by cmark: each cell's texts, and the index.
        Page md(cmark(exported(EXPORT_MARKDOWN, "out.md")));
        ASSERT_TRUE(md.doc);
        md.expect_links_resolve();
        int headings = 0;
        for (xmlNode* n : md.elements)
            headings += is(n, "h2");
        EXPECT_EQ(headings, int(cells.size()) + 1);
        for (CellHandle c : cells) {
            xmlNode* h2 = md_cell(md, c);
            ASSERT_TRUE(is(h2, "h2")) << cell_name_string(c);
            expect_cell_fields(h2, c, true);
        }

        // DOT, accepted by Graphviz.
        std::string dot = exported(EXPORT_DOT, "out.dot");
        for (CellHandle c : cells)
            EXPECT_NE(dot.find("\"" + export_anchor(c) + "\" [label="), std::string::npos);
        int status = -1;
        std::string svg = run_command("dot -Tsvg '" + path("out.dot") + "' 2>&1", &status);
        EXPECT_EQ(status, 0) << svg;
        EXPECT_NE(svg.find("</svg>"), std::string::npos);

        // Nothing in the web changed.
        EXPECT_FALSE(web_modified());
        EXPECT_EQ(saved("after.tvx"), before);
    }
}

TEST_F(ExportTest, HostileTextsStayTextInHtmlAndMarkdown) {
    make_hostile_web();
    Page page(exported(EXPORT_HTML));
    ASSERT_TRUE(page.doc);
    for (const char* tag : {"script", "img", "iframe", "object"})
        EXPECT_EQ(page.tags.count(tag), 0u) << tag;
    EXPECT_TRUE(page.handlers.empty());
    page.expect_links_resolve();

    xmlNode* home = page.by_id("cell-home");
    ASSERT_TRUE(home);
    xmlNode* text = field_after(heading_of(home), "Text");
    ASSERT_TRUE(text);
    EXPECT_EQ(node_text(text), hostile_text);
    // The one word that names a cell is the one link of the text.
    int links = 0;
    for (xmlNode* a = text->children; a; a = a->next)
        if (is(a, "a")) {
            ++links;
            EXPECT_EQ(node_text(a), "a_b");
            EXPECT_EQ(attr(a, "href"), "#cell-a-5Fb");
        }
    EXPECT_EQ(links, 1);

    xmlNode* ab = page.by_id("cell-a-5Fb");
    ASSERT_TRUE(ab);
    EXPECT_EQ(field_text(heading_of(ab), "Value"), "</div><script>alert(1)</script>");
    // Bad bytes become U+FFFD in both formats.
    const char* mended =
        "broken \xEF\xBF\xBD and \xEF\xBF\xBD and \xEF\xBF\xBD\xEF\xBF\xBD and \xEF\xBF\xBD end";
    xmlNode* bad = page.by_id("cell-bad");
    ASSERT_TRUE(bad);
    EXPECT_EQ(field_text(heading_of(bad), "Text"), mended);

    // Markdown escapes what it would misread: only the page's own structure
    // is seen (the title, the index list, one code block).
    Page md(cmark(exported(EXPORT_MARKDOWN)));
    ASSERT_TRUE(md.doc);
    std::map<std::string, int> count;
    for (xmlNode* n : md.elements)
        ++count[reinterpret_cast<const char*>(n->name)];
    for (const char* tag : {"script", "img", "strong", "ol", "blockquote", "hr", "code"})
        EXPECT_EQ(count[tag], 0 + (std::string(tag) == "code")) << tag;
    EXPECT_EQ(count["h1"], 1);
    EXPECT_EQ(count["ul"], 1);
    EXPECT_EQ(count["pre"], 1);
    EXPECT_TRUE(md.handlers.empty());
    md.expect_links_resolve();
    for (CellHandle c : live_cells())
        if (cell_name_string(c) != "bad") expect_cell_fields(md_cell(md, c), c, true);
    EXPECT_EQ(field_text(md_cell(md, cell_find("bad")), "Text"), mended);
}

TEST_F(ExportTest, ScriptsAreColouredAsTheLexerReadsThem) {
    cell_create("max"); // a builtin name never names a cell
    cell_create("total");
    cell_set_script(cell_root(), "set total = max(1, 2.5) * pi # 'note'\r\nout('a#b')");
    std::string html = exported(EXPORT_HTML);
    EXPECT_NE(
        html.find(
            "<code><span class=\"rw\">set</span> <a href=\"#cell-total\" class=\"cell\">total</a>"
            " = <span class=\"bi\">max</span>(<span class=\"num\">1</span>, "
            "<span class=\"num\">2.5</span>) * <span class=\"sc\">pi</span> "
            "<span class=\"com\"># &#39;note&#39;\r</span>\n<span class=\"rw\">out</span>("
            "<span class=\"str\">&#39;a</span><span class=\"com\">#b&#39;)</span></code>"),
        std::string::npos)
        << html;
    // The script link counts as a link to total, the builtin name not as one to max.
    Page page(html);
    EXPECT_NE(field_text(heading_of(page.by_id("cell-total")), "Links here").find("home"),
              std::string::npos);
    EXPECT_EQ(field_text(heading_of(page.by_id("cell-max")), "Links here"), "none");
}

TEST_F(ExportTest, DotHasOneEdgeStylePerLinkSource) {
    CellHandle a = cell_create("a");
    cell_create("b");
    cell_set_text(cell_root(), "see a, a and b");
    cell_set_script(cell_root(), "set b = a");
    cell_set_text(a, "quote \" and backslash \\");
    std::string dot = exported(EXPORT_DOT);
    auto count = [&](const std::string& s) { return occurrences(dot, s); };
    EXPECT_EQ(count("\"cell-home\" -> \"cell-a\" [style=solid]"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-b\" [style=solid]"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-a\" [style=dashed"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-b\" [style=dashed"), 1u);
    EXPECT_EQ(count(" -> "), 4u);
    int status = -1;
    run_command("dot -Tsvg '" + path("out") + "' >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
}

TEST_F(ExportTest, GraphListsEachLinkOncePerKindAndReadsEdits) {
    CellHandle a = cell_create("a");
    cell_create("b");
    cell_set_text(cell_root(), "b, a and b again");
    cell_set_script(a, "set home to b + home");
    WebGraph g = web_graph();
    ASSERT_EQ(g.names, (std::vector<std::string>{"a", "b", "home"}));
    using E = WebGraph::Edge;
    EXPECT_EQ(g.edges, (std::vector<E>{{0, 2, true}, {0, 1, true}, {2, 1, false}, {2, 0, false}}));
    // An edit not yet copied back is read in place of the cell's own fields.
    WebGraph edited = web_graph({a, "see b and b", ""});
    EXPECT_EQ(edited.edges, (std::vector<E>{{0, 1, false}, {2, 1, false}, {2, 0, false}}));
    EXPECT_EQ(web_graph().edges, g.edges);
}

TEST_F(ExportTest, AnchorsAreDistinctAndSafe) {
    std::set<std::string> anchors;
    for (const char* name : {"a_b", "ab", "a5Fb", "A1", "x_5F", "x5F_"}) {
        CellHandle c = cell_create(name);
        ASSERT_NE(c, 0) << name;
        std::string a = export_anchor(c);
        EXPECT_EQ(
            a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-"),
            std::string::npos);
        EXPECT_TRUE(anchors.insert(a).second) << a;
    }
    EXPECT_EQ(export_anchor(cell_find("a_b")), "cell-a-5Fb");
    // The same web exports to the same bytes.
    EXPECT_EQ(exported(EXPORT_HTML, "one"), exported(EXPORT_HTML, "two"));
}

TEST_F(ExportTest, FormatWords) {
    ExportFormat f;
    EXPECT_TRUE(export_format_parse("HTML", &f) && f == EXPORT_HTML);
    EXPECT_TRUE(export_format_parse("md", &f) && f == EXPORT_MARKDOWN);
    EXPECT_TRUE(export_format_parse("dot", &f) && f == EXPORT_DOT);
    EXPECT_FALSE(export_format_parse("htm", &f));
    EXPECT_FALSE(export_format_parse("", &f));
}

TEST_F(ExportTest, AFailedExportLeavesTheOldFile) {
    for (int i = 0; i < 60; ++i)
        cell_set_text(cell_create(("cell" + std::to_string(i)).c_str()), std::string(100, 'x'));
    std::string target = path("page.html");
    put_file(target, "old");
    web_save_fail_at(3); // a block write
    EXPECT_EQ(web_export(EXPORT_HTML, target), SE_WRITE_WEB);
    EXPECT_EQ(file_bytes(target), "old");
    EXPECT_EQ(listing(), "page.html ");
    web_save_fail_at(0);
    EXPECT_EQ(web_export(EXPORT_HTML, path("no/such/folder.html")), SE_OPEN_WEB);
    EXPECT_TRUE(ui.flashes.empty()); // the caller shows the failure
}

TEST_F(ExportTest, AnExportNeverReplacesAWeb) {
    // The open web is an empty file: only its identity tells it is the web.
    put_file(path("web.tvx"), "");
    ASSERT_TRUE(web_open(path("web.tvx").c_str()).done());
    cell_set_text(cell_root(), "work");
    ASSERT_TRUE(web_save_as(path("other.tvx").c_str()).done());
    ASSERT_TRUE(web_open(path("web.tvx").c_str()).done());
    fs::create_symlink("web.tvx", path("alias.html"));
    ::link(path("web.tvx").c_str(), path("hard.html").c_str());
    const std::string other = file_bytes(path("other.tvx"));
    for (const char* out : {"web.tvx", "alias.html", "hard.html", "other.tvx"}) {
        EXPECT_EQ(web_export(EXPORT_HTML, path(out)), SE_EXPORT_ONTO_WEB) << out;
        EXPECT_TRUE(fs::is_symlink(path("alias.html")));
    }
    EXPECT_EQ(file_bytes(path("web.tvx")), "");
    EXPECT_EQ(file_bytes(path("other.tvx")), other);
    EXPECT_EQ(export_error_text(SE_EXPORT_ONTO_WEB),
              std::string("The export file is a Tarvex web: not replaced"));
    // An earlier export is no web: it is replaced, and opening it as the web
    // (the arguments swapped) is refused.
    ASSERT_EQ(web_export(EXPORT_HTML, path("page.html")), 0);
    for (ExportFormat fmt : {EXPORT_HTML, EXPORT_MARKDOWN, EXPORT_DOT}) {
        EXPECT_EQ(web_export(fmt, path("page.html")), 0);
        std::string bytes = file_bytes(path("page.html"));
        EXPECT_EQ(web_open(path("page.html").c_str()).code, SE_NOT_A_WEB) << bytes;
        EXPECT_EQ(web_file_name(), path("web.tvx"));
    }
    web_new(); // the folder goes: later suites' files must not be sought there
}

} // namespace
} // namespace tarvex::test
