// The help window. Its pages are made from the text the Help Topics menu
// writes to the console: a line in capitals is a section heading, lines
// indented by two spaces are a table (a term, two or more spaces, what it
// means; a line indented further goes on with the meaning), the other lines
// are paragraphs. The name of another topic in a topic links to it.
//
// A window of its own rather than a dock: help is read beside the work,
// often on another part of the screen, and a dock would take room from the
// panes and the docks it explains.
#include "shell/help_window.h"

#include "shell/help_topics.h"
#include "shell/panes.h"
#include "shell/search.h"

#include <QApplication>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <vector>

namespace tarvex {

namespace {

const QString SCHEME = QStringLiteral("help");
// Characters of a topic shown around the first word found, each side.
constexpr int SNIPPET_REACH = 70;

// A piece of a page: a heading, a paragraph or a table, and the anchor a
// search result leads to.
struct Block {
    QString anchor;
    QString plain; // what the search reads
    QString html;
};

struct Topic {
    QString page; // "script-language"
    QString title;
    std::vector<Block> blocks;
};

QString page_of_title(const QString& title) { return title.toLower().replace(' ', '-'); }

// "THE WEB MAP" as a heading reads: "The web map".
QString heading_text(const QString& line) {
    QString text = line.toLower();
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

bool is_heading(const QString& line) {
    static const QRegularExpression letters("[A-Z].*[A-Z]");
    return !line.startsWith(' ') && line == line.toUpper() && letters.match(line).hasMatch();
}

QString link(const QString& href, const QString& text) {
    return QString("<a href=\"%1:%2\">%3</a>").arg(SCHEME, href, text);
}

// Escaped text with the names of the other topics made links.
QString linked(const QString& text, const QString& self) {
    QString html = text.toHtmlEscaped();
    for (int t = 1; t <= HELP_TOPIC_COUNT; ++t) {
        QString title = help_topic_title(t);
        if (title == self) continue;
        html.replace(QRegularExpression("\\b" + QRegularExpression::escape(title) + "\\b"),
                     link(page_of_title(title), title));
    }
    return html;
}

// The blocks of a topic's text, its first line (the topic's name) left out.
std::vector<Block> parse_topic(const QString& text, const QString& self) {
    static const QRegularExpression gap("\\s{2,}");
    std::vector<Block> blocks;
    QStringList paragraph;
    std::vector<std::pair<QString, QString>> rows; // term, meaning
    // The anchor goes inside the block's first element: on its own it
    // would make an empty line.
    auto anchor_tag = [](const QString& name) { return QString("<a name=\"%1\"></a>").arg(name); };
    auto next_anchor = [&] { return QString("p%1").arg(blocks.size()); };
    auto flush = [&] {
        if (!paragraph.isEmpty()) {
            QString plain = paragraph.join(' ');
            QString name = next_anchor();
            blocks.push_back(
                {name, plain, "<p>" + anchor_tag(name) + linked(plain, self) + "</p>"});
            paragraph.clear();
        }
        if (rows.empty()) return;
        QString name = next_anchor();
        QString plain;
        QString html = "<table cellspacing=\"0\" cellpadding=\"2\">";
        for (const auto& [term, what] : rows) {
            // A term alone takes the whole row.
            html += QString("<tr><td style=\"white-space:pre; font-family:monospace\"") +
                    (what.isEmpty() ? " colspan=\"2\">" : ">") +
                    (plain.isEmpty() ? anchor_tag(name) : QString()) + term.toHtmlEscaped() +
                    "&nbsp;&nbsp;</td>";
            if (!what.isEmpty()) html += "<td>" + linked(what, self) + "</td>";
            html += "</tr>";
            plain += term + "  " + what + "\n";
        }
        blocks.push_back({name, plain, html + "</table>"});
        rows.clear();
    };
    const QStringList lines = text.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.trimmed().isEmpty()) {
            flush();
        } else if (is_heading(line)) {
            flush();
            QString title = heading_text(line);
            QString name = page_of_title(title);
            blocks.push_back(
                {name, title, "<h2>" + anchor_tag(name) + title.toHtmlEscaped() + "</h2>"});
        } else if (line.startsWith("  ")) {
            if (!paragraph.isEmpty()) flush();
            QString body = line.mid(2);
            if (body.startsWith(' ') && !rows.empty()) {
                QString& what = rows.back().second;
                what = what.isEmpty() ? body.trimmed() : what + " " + body.trimmed();
                continue;
            }
            QRegularExpressionMatch m = gap.match(body);
            if (m.hasMatch())
                rows.emplace_back(body.left(m.capturedStart()), body.mid(m.capturedEnd()));
            else
                rows.emplace_back(body.trimmed(), QString());
        } else {
            if (!rows.empty()) flush();
            paragraph << line.trimmed();
        }
    }
    flush();
    return blocks;
}

const std::vector<Topic>& topics() {
    static const std::vector<Topic> all = [] {
        std::vector<Topic> t;
        for (int n = 1; n <= HELP_TOPIC_COUNT; ++n) {
            QString title = help_topic_title(n);
            t.push_back({page_of_title(title), title,
                         parse_topic(QString::fromUtf8(help_topic_text(n)), title)});
        }
        return t;
    }();
    return all;
}

QString topic_html(const Topic& topic) {
    QString html = "<h1>" + topic.title.toHtmlEscaped() + "</h1>";
    for (const Block& b : topic.blocks)
        html += b.html;
    return html;
}

QString contents_html() {
    QString html = "<h1>Tarvex Help</h1><p>The topics of the Help menu. F1 opens the topic of "
                   "the pane you work in; the search field above finds the topics that hold "
                   "the words you type (Ctrl+F).</p><ul>";
    for (const Topic& t : topics()) {
        QStringList sections;
        for (const Block& b : t.blocks)
            if (b.html.contains("<h2>")) sections << link(t.page + "#" + b.anchor, b.plain);
        html += "<li><b>" + link(t.page, t.title) + "</b>";
        if (!sections.isEmpty()) html += "<br>" + sections.join(", ");
        html += "</li>";
    }
    return html + "</ul>";
}

QStringList search_words(const QString& query) {
    return query.toLower().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
}

bool holds_all(const QString& text, const QStringList& words) {
    for (const QString& w : words)
        if (!text.contains(w, Qt::CaseInsensitive)) return false;
    return true;
}

// The part of a block around the first word found, the words in bold.
QString snippet(const QString& plain, const QStringList& words) {
    QString text = plain.simplified();
    qsizetype at = text.size();
    for (const QString& w : words) {
        qsizetype i = text.indexOf(w, 0, Qt::CaseInsensitive);
        if (i >= 0) at = std::min(at, i);
    }
    qsizetype from = std::max<qsizetype>(0, at - SNIPPET_REACH);
    if (from > 0) from = std::min(at, text.indexOf(' ', from) + 1); // a whole word first
    qsizetype to = text.lastIndexOf(' ', at + 2 * SNIPPET_REACH);
    if (to <= at || at + 2 * SNIPPET_REACH >= text.size()) to = at + 2 * SNIPPET_REACH;
    QString cut = text.mid(from, to - from);
    QString html = (from > 0 ? "..." : "") + cut.toHtmlEscaped() +
                   (from + cut.size() < text.size() ? "..." : "");
    // In one pass, so that a word is not found inside the marks of another.
    QStringList escaped;
    for (const QString& w : words)
        escaped << QRegularExpression::escape(w.toHtmlEscaped());
    html.replace(QRegularExpression("(" + escaped.join('|') + ")",
                                    QRegularExpression::CaseInsensitiveOption),
                 "<b>\\1</b>");
    return html;
}

// The topics that hold every word, each with the places that do (or, when
// the words are spread over a topic, the places that hold one of them).
QString search_html(const QString& query) {
    QStringList words = search_words(query);
    QString html = "<h1>Search: " + query.toHtmlEscaped() + "</h1>";
    if (words.isEmpty()) return html + "<p>Type words in the search field and press Enter.</p>";
    int found = 0;
    for (const Topic& t : topics()) {
        QString whole;
        for (const Block& b : t.blocks)
            whole += b.plain + "\n";
        if (!holds_all(t.title + "\n" + whole, words)) continue;
        ++found;
        QString places;
        for (bool every : {true, false}) {
            for (const Block& b : t.blocks) {
                bool hit = every ? holds_all(b.plain, words)
                                 : std::any_of(words.begin(), words.end(), [&](const QString& w) {
                                       return b.plain.contains(w, Qt::CaseInsensitive);
                                   });
                if (hit) places += "<li>" + link(t.page + "#" + b.anchor, snippet(b.plain, words));
            }
            if (!places.isEmpty()) break;
        }
        html += "<h3>" + link(t.page, t.title) + "</h3><ul>" + places + "</ul>";
    }
    if (found == 0) html += "<p>No topic holds " + query.toHtmlEscaped() + ".</p>";
    return html;
}

QString page_html(const QUrl& url) {
    QString page = url.path();
    if (page == "search") return search_html(url.query(QUrl::FullyDecoded));
    for (const Topic& t : topics())
        if (t.page == page) return topic_html(t);
    return contents_html();
}

// A browser whose pages are made here rather than read from files.
class HelpBrowser : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& url) override {
        if (url.scheme() == SCHEME && type == QTextDocument::HtmlResource) return page_html(url);
        return QTextBrowser::loadResource(type, url);
    }
};

class HelpWindow : public QWidget {
  public:
    explicit HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
        setObjectName("help_window");
        setWindowTitle("Tarvex Help");
        resize(660, 580);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        auto* top = new QHBoxLayout();
        auto button = [&](QStyle::StandardPixmap icon, const QString& tip) {
            auto* b = new QToolButton(this);
            b->setIcon(style()->standardIcon(icon));
            b->setToolTip(tip);
            b->setAutoRaise(true);
            b->setFocusPolicy(Qt::NoFocus);
            top->addWidget(b);
            return b;
        };
        QToolButton* back = button(QStyle::SP_ArrowBack, "Back (Alt+Left)");
        QToolButton* forward = button(QStyle::SP_ArrowForward, "Forward (Alt+Right)");
        auto* contents = new QToolButton(this);
        contents->setText("Contents");
        contents->setAutoRaise(true);
        contents->setFocusPolicy(Qt::NoFocus);
        top->addWidget(contents);
        search_ = new QLineEdit(this);
        search_->setObjectName("help_search");
        search_->setPlaceholderText("Search the help");
        search_->setClearButtonEnabled(true);
        top->addWidget(search_, 1);
        layout->addLayout(top);
        browser_ = new HelpBrowser(this);
        browser_->setObjectName("help_browser");
        layout->addWidget(browser_, 1);

        back->setEnabled(false);
        forward->setEnabled(false);
        connect(back, &QToolButton::clicked, browser_, &QTextBrowser::backward);
        connect(forward, &QToolButton::clicked, browser_, &QTextBrowser::forward);
        connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
        connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
        connect(contents, &QToolButton::clicked, this, [this] { open("contents"); });
        connect(search_, &QLineEdit::returnPressed, this,
                [this] { open("search?" + search_->text()); });
        connect(browser_, &QTextBrowser::sourceChanged, this, [this] { mark_words(); });
        const std::pair<QKeySequence, std::function<void()>> keys[] = {
            {QKeySequence::Find,
             [this] {
                 search_->setFocus(Qt::ShortcutFocusReason);
                 search_->selectAll();
             }},
            {QKeySequence::Back, [this] { browser_->backward(); }},
            {QKeySequence::Forward, [this] { browser_->forward(); }},
            {QKeySequence::HelpContents, [this] { open("contents"); }},
            {QKeySequence(Qt::Key_Escape), [this] { close(); }},
        };
        for (const auto& [k, act] : keys)
            connect(new QShortcut(k, this), &QShortcut::activated, this, act);
    }

    void open(const QString& page) {
        if (page.startsWith("search?")) {
            words_ = search_words(page.mid(7));
            search_->setText(page.mid(7));
        }
        browser_->setSource(QUrl(SCHEME + ":" + page), QTextDocument::HtmlResource);
        mark_words();
    }

  private:
    // The words last searched for, marked wherever they are shown.
    void mark_words() {
        if (search_->text().isEmpty()) words_.clear();
        QList<QTextEdit::ExtraSelection> marks;
        QTextDocument* doc = browser_->document();
        for (const QString& w : words_)
            for (QTextCursor c = doc->find(w); !c.isNull(); c = doc->find(w, c)) {
                QTextEdit::ExtraSelection mark;
                mark.cursor = c;
                mark.format.setBackground(QColor(255, 236, 128));
                marks << mark;
            }
        browser_->setExtraSelections(marks);
    }

    QLineEdit* search_ = nullptr;
    HelpBrowser* browser_ = nullptr;
    QStringList words_;
};

QPointer<HelpWindow> g_window;

// The dock a widget sits in, by its name, "" when in none.
QString dock_of(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (qobject_cast<const QDockWidget*>(w)) return w->objectName();
    return {};
}

// Beside the main window when the screen has room there, else at the
// screen's right edge, over the docks rather than the panes.
void place_beside(QWidget* help, const QWidget* main) {
    if (!main || !main->screen()) return;
    QRect screen = main->screen()->availableGeometry();
    QRect frame = main->frameGeometry();
    int x = frame.right() + 1 + help->width() <= screen.right() ? frame.right() + 1
                                                                : screen.right() - help->width();
    int y = std::clamp(frame.top(), screen.top(),
                       std::max(screen.top(), screen.bottom() - help->height()));
    help->move(std::max(screen.left(), x), y);
}

} // namespace

std::string help_page_of(const QWidget* widget) {
    switch (slot_of_window(widget)) {
    case SLOT_SCRIPT: return "script-language";
    case SLOT_CONSOLE: return "script-language#input-and-output";
    case SLOT_NAME_BOX:
    case SLOT_LIST: return "overview#moving-around";
    case SLOT_PLOT: return "overview#the-plot";
    case SLOT_TEXT:
    case SLOT_VALUE: return "overview";
    default: break;
    }
    if (widget && search_bar_owns(widget)) return "overview#find-and-replace";
    QString dock = dock_of(widget);
    if (dock == "values_dock" || dock == "stack_dock" || dock == "breakpoints_dock")
        return "debugging";
    if (dock == "cells_dock" || dock == "links_dock") return "overview#moving-around";
    if (dock == "web_map") return "overview#the-web-map";
    return "overview";
}

void help_window_show(const std::string& page) {
    // The pane the focus slot names when the keys came while no widget of
    // the main window had the focus (another window was active).
    QWidget* focused = QApplication::focusWidget();
    if (!focused || focused->window() != shell_windows().main) focused = slot_window(focus_slot());
    QString name = QString::fromStdString(page.empty() ? help_page_of(focused) : page);
    if (!g_window) {
        g_window = new HelpWindow(shell_windows().main);
        place_beside(g_window, shell_windows().main);
    }
    g_window->open(name);
    // The keys scroll the page from the start; Ctrl+F goes to the search.
    g_window->findChild<QTextBrowser*>("help_browser")->setFocus(Qt::OtherFocusReason);
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
}

QWidget* help_window() { return g_window; }

} // namespace tarvex
