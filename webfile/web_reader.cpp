// The tolerant web file reader: a tag state machine over the byte reader,
// read records that become cells only once the whole file has been read, and
// the settings words. Whatever the file holds, the reader either loads it or
// releases everything it made.
#include "webfile/web_file.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/byte_reader.h"
#include "settings/setting_table.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvex {

namespace {

// The tags of the cells and of the file's structure; a setting's tag is
// T_SETTING plus its SettingId.
enum Tag : int {
    T_EOF,
    T_CELL,
    T_CNAME,
    T_TEXT,
    T_VAL,
    T_FORM,
    T_SCRIPT,
    T_OPTS,
    T_SCRFONT,
    T_STATWIN,
    T_SETTING
};

constexpr const char* k_tags[T_SETTING] = {"eof",  "cell",   "cname", "text",    "val",
                                           "form", "script", "opts",  "scrfont", "statwin"};

constexpr size_t WORD_MAX = 31;                // tag names and escape words
constexpr TextLen COPY_MAX = TEXT_SCRATCH_MAX; // contents copied out of their Text
constexpr size_t PENDING_MAX = 512;            // bytes gathered before they go to the Text

// A read record: one ListNode per `cname`, in file order.
constexpr int REC_NAME = LIST_PAYLOAD + 0;   // Text
constexpr int REC_TEXT = LIST_PAYLOAD + 2;   // Text
constexpr int REC_VALUE = LIST_PAYLOAD + 4;  // Value
constexpr int REC_SCRIPT = LIST_PAYLOAD + 6; // Text
static_assert(record_fits(REC_SCRIPT + sizeof(Text)), "cell record layout");

NodeHandle take_field(NodeHandle n, int off) {
    NodeHandle h = node_get_u16(n, off);
    node_set_u16(n, off, 0);
    return h;
}

void record_release(NodeHandle r) {
    text_free(take_field(r, REC_NAME));
    text_free(take_field(r, REC_TEXT));
    value_free(take_field(r, REC_VALUE));
    text_free(take_field(r, REC_SCRIPT));
    node_free(r);
}

struct Reader {
    ByteReader bytes;
    Text content = 0;    // what has been collected since the previous tag
    std::string pending; // bytes not yet appended to content
    NodeHandle first = 0, last = 0;
    // The records in name order (as cell names compare), so that a name
    // finds an earlier record of the same name without a walk over them all,
    // which made reading a large web quadratic. Names the writer wrote come
    // in order and go to the end at once.
    std::vector<NodeHandle> by_name;
    bool bad = false;
    // A zero byte is never content: the old writer let one through in tag
    // names and escape words, and reading stopped at it, so a save cost the
    // rest of the web. Zeros are dropped and counted once more bytes follow
    // them (padding at the end is no damage).
    long zeros_waiting = 0;
    long zeros_dropped = 0;

    void add(uint8_t b) {
        pending.push_back(static_cast<char>(b));
        if (pending.size() >= PENDING_MAX) flush();
    }
    void add(std::string_view s) {
        for (char c : s)
            add(static_cast<uint8_t>(c));
    }
    void flush() {
        if (pending.empty()) return;
        if (content == 0)
            content = text_from_bytes(pending);
        else
            text_append_bytes(content, pending);
        pending.clear();
    }
    // The collected content, handed to the caller; 0 when empty.
    Text take_content() {
        flush();
        Text t = content;
        content = 0;
        if (t != 0 && text_length(t) == 0) {
            text_free(t);
            t = 0;
        }
        return t;
    }

    void remove_record(NodeHandle r) {
        if (r == first) first = list_next(r);
        if (r == last) last = list_prev(r);
        list_unlink(r);
        record_release(r);
    }
    void release_all() {
        pending.clear();
        Text t = content;
        content = 0;
        text_free(t);
        while (first != 0)
            remove_record(first);
    }
};

// The content as bytes, at most COPY_MAX of them.
std::string content_string(Text t) {
    std::string s(COPY_MAX + 1, '\0');
    s.resize(text_to_buffer(s.data(), t, COPY_MAX));
    return s;
}

// A number setting's content as a 16-bit integer: the decimal integer it
// starts with, 0 when there is none or it lies outside -32768..32767.
long content_integer(const std::string& s) {
    int16_t n = 0;
    int16_from_text(n, s.c_str());
    return n;
}

void apply_setting(SettingId id, const std::string& s) {
    const SettingRow& row = setting_row(id);
    switch (row.kind) {
    case SK_WORD: {
        // The whole content names the word.
        int w = s.find('\0') == std::string::npos ? setting_file_value(id, s.c_str()) : -1;
        if (w >= 0) setting_set_number(id, w);
        break;
    }
    case SK_NUMBER:
        setting_set_number(id, setting_clamp(content_integer(s), row.lo, row.hi));
        break;
    case SK_TEXT: row.set_text(s.c_str()); break;
    }
}

// Puts a Text into a field of the last record, releasing what it held.
void record_set_text(Reader& r, int field, Text t) {
    Text old = take_field(r.last, field);
    text_free(old);
    node_set_u16(r.last, field, t);
}

// The closing tag `tag` ends the content collected since the previous tag.
void act_on_closing(Reader& r, int tag) {
    Text t = r.take_content();
    switch (tag) {
    case T_CNAME: {
        std::string name = content_string(t);
        // Names are taken as written: no normalising.
        if (name.size() != text_length(t) || !name_is_valid(name.c_str())) {
            text_free(t);
            r.bad = true;
            return;
        }
        // The last record of a name wins.
        auto before = [](NodeHandle rec, Text name) {
            return text_compare(node_get_u16(rec, REC_NAME), name) < 0;
        };
        size_t at = r.by_name.size();
        if (at != 0 && !before(r.by_name.back(), t))
            at =
                std::lower_bound(r.by_name.begin(), r.by_name.end(), t, before) - r.by_name.begin();
        if (at != r.by_name.size() && text_compare(node_get_u16(r.by_name[at], REC_NAME), t) == 0) {
            r.remove_record(r.by_name[at]);
            r.by_name.erase(r.by_name.begin() + at);
        }
        r.content = t; // owned by the reader until the record holds it
        NodeHandle rec = node_alloc(ListNode);
        r.content = 0;
        node_set_u16(rec, REC_NAME, t);
        r.by_name.insert(r.by_name.begin() + at, rec);
        if (r.last == 0)
            r.first = rec;
        else
            list_insert_after(rec, r.last);
        r.last = rec;
        return;
    }
    case T_TEXT:
    case T_SCRIPT:
    case T_FORM:
        if (r.last == 0) break;
        record_set_text(r, tag == T_TEXT ? REC_TEXT : REC_SCRIPT, t);
        return;
    case T_VAL: {
        if (r.last == 0) break;
        r.content = t;
        NodeHandle v = value_new();
        r.content = 0;
        if (t != 0) {
            value_set_text(v, t);
            if (number_text_looks_numeric(content_string(t))) value_to_number(v);
        }
        value_free(take_field(r.last, REC_VALUE));
        node_set_u16(r.last, REC_VALUE, v);
        return;
    }
    case T_CELL:
    case T_OPTS:
    case T_EOF:
    case T_SCRFONT:
    case T_STATWIN: break;
    default: {
        std::string s = content_string(t);
        text_free(t);
        apply_setting(static_cast<SettingId>(tag - T_SETTING), s);
        return;
    }
    }
    text_free(t);
}

int tag_lookup(const std::string& name) {
    for (int i = 0; i < T_SETTING; ++i)
        if (name == k_tags[i]) return i;
    for (int i = 0; i < S_COUNT; ++i) {
        const char* tag = setting_row(static_cast<SettingId>(i)).tag;
        if (tag && name == tag) return T_SETTING + i;
    }
    return -1;
}

// The next byte, zero bytes dropped and counted once more bytes follow them.
int next_byte(Reader& r) {
    for (;;) {
        int c = byte_reader_next(r.bytes);
        if (c == 0) {
            ++r.zeros_waiting;
            continue;
        }
        if (c != BYTE_END) {
            r.zeros_dropped += r.zeros_waiting;
            r.zeros_waiting = 0;
        }
        return c;
    }
}

// What the bytes before the first tag say of a file: the first tag's number
// (>= 0), or one of these.
constexpr int HEAD_EMPTY = -1;   // nothing but blanks: an empty web
constexpr int HEAD_NOT_WEB = -2; // something else before any known tag

// Reads the blanks and the first tag of a file. The writer starts every web
// with a tag, and a hand-made web starts with one too; a file that starts
// with anything else (an HTML page, a Markdown export, a binary) is no web,
// and taking it as one gave an empty web that a save wrote over the file.
// Blanks before the first tag are no content.
int read_head(Reader& r, bool& closing) {
    std::string word;
    bool in_tag = false;
    for (;;) {
        int c = next_byte(r);
        // A file cut short inside its first tag held nothing yet.
        if (c == BYTE_END) return HEAD_EMPTY;
        if (!in_tag) {
            // The bytes of a UTF-8 byte-order mark count as blanks: an
            // editor may have put one there.
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0xEF || c == 0xBB ||
                c == 0xBF)
                continue;
            if (c != '<') return HEAD_NOT_WEB;
            in_tag = true;
        } else if (c == '/') {
            closing = true;
        } else if (c == '>') {
            int tag = tag_lookup(word);
            return tag < 0 ? HEAD_NOT_WEB : tag;
        } else if (word.size() < WORD_MAX) {
            word.push_back(static_cast<char>(c));
        } else {
            return HEAD_NOT_WEB; // longer than any tag
        }
    }
}

// A known tag with the content collected before it; true when reading ends
// there.
bool deliver_tag(Reader& r, int tag, bool closing) {
    if (closing)
        act_on_closing(r, tag);
    else
        text_free(r.take_content());
    return r.bad || tag == T_EOF;
}

// Reads tags until the end, an `eof` tag or a bad name.
void read_tags(Reader& r) {
    enum { TEXT, ESCAPE, TAG } state = TEXT;
    std::string word;
    bool closing = false;
    for (;;) {
        int c = next_byte(r);
        if (state == ESCAPE) {
            if (c == BYTE_END) {
                r.add(word);
                return;
            }
            if (c == ';') {
                r.add(word == "amp" ? "&" : word == "lt" ? "<" : word);
                state = TEXT;
                continue;
            }
            if (c != '<' && word.size() < WORD_MAX) {
                word.push_back(static_cast<char>(c));
                continue;
            }
            // A lone "&" of a hand-made file: what follows it stays text, and
            // no tag is swallowed by it. The byte is taken as text below.
            r.add(word);
            state = TEXT;
        }
        if (state == TEXT) {
            if (c == BYTE_END) return;
            if (c == '&' || c == '<') {
                state = c == '&' ? ESCAPE : TAG;
                word.clear();
                closing = false;
            } else {
                r.add(static_cast<uint8_t>(c));
            }
            continue;
        }
        if (c == BYTE_END) return;
        if (c == '/') {
            closing = true;
        } else if (c == '>') {
            state = TEXT;
            int tag = tag_lookup(word);
            if (tag < 0) {
                r.add(word);
                continue;
            }
            if (deliver_tag(r, tag, closing)) return;
        } else if (word.size() < WORD_MAX) {
            word.push_back(static_cast<char>(c));
        }
    }
}

// Hands a record's fields to its cell (a new cell, or the one of that name).
void record_to_cell(NodeHandle rec) {
    std::string name = text_to_string(node_get_u16(rec, REC_NAME));
    CellHandle c = cell_find(name.c_str());
    if (c == 0) c = cell_create_unlimited(name.c_str(), false); // the table is rebuilt once
    if (c == 0) return;
    Text old_text = cell_get(c, CF_TEXT);
    cell_put(c, CF_TEXT, 0);
    text_free(old_text);
    Text old_script = cell_get(c, CF_SCRIPT);
    cell_put(c, CF_SCRIPT, 0);
    text_free(old_script);
    NodeHandle old_value = cell_get(c, CF_VALUE);
    cell_put(c, CF_VALUE, 0);
    valuelist_free(old_value);
    cell_put(c, CF_TEXT, take_field(rec, REC_TEXT));
    cell_put(c, CF_SCRIPT, take_field(rec, REC_SCRIPT));
    cell_put(c, CF_VALUE, take_field(rec, REC_VALUE));
    cell_mark_script_changed(c);
}

// Middle-first, so that a file written in name order gives a balanced tree:
// the middle record of a run, then the run after it, then the run before.
void records_to_cells(Reader& r) {
    std::vector<NodeHandle> recs;
    for (NodeHandle rec = r.first; rec != 0; rec = list_next(rec))
        recs.push_back(rec);
    struct Run {
        size_t from, to;
    };
    std::vector<Run> runs{{0, recs.size()}};
    while (!runs.empty()) {
        Run run = runs.back();
        runs.pop_back();
        if (run.from >= run.to) continue;
        size_t mid = run.from + (run.to - run.from) / 2;
        NodeHandle rec = recs[mid];
        record_to_cell(rec);
        r.remove_record(rec);
        runs.push_back({run.from, mid});
        runs.push_back({mid + 1, run.to});
    }
}

} // namespace

void web_start_fresh() {
    web_set_modified(false);
    web_clear();
    cell_create_unlimited("home");
    settings_defaults();
    navigation_reset();
}

int web_read(std::FILE* f) {
    Reader r;
    byte_reader_start(r.bytes, f);
    bool closing = false;
    int first = read_head(r, closing);
    if (first == HEAD_NOT_WEB && r.bytes.error == 0) return status_error(SE_NOT_A_WEB);
    web_start_fresh();
    int rc = 0;
    try {
        if (first < 0 || !deliver_tag(r, first, closing)) read_tags(r);
        if (r.bad) {
            r.release_all();
            status_flash("Bad Input File");
            rc = SE_BAD_WEB_FILE;
        } else {
            text_free(r.take_content()); // text after the last element
            records_to_cells(r);
            rc = r.bytes.error;
        }
    } catch (const NodeExhausted&) {
        // Everything the reader held goes; the cells made so far stay.
        r.release_all();
        guard_request_reclaim();
        status_error(SE_OUT_OF_MEMORY);
        rc = SE_OUT_OF_MEMORY;
    }
    cell_table_rebuild();
    navigation_reset();
    // The web differs from the file once zeros were dropped from it: a save
    // should write the mended file.
    bool mended = rc == 0 && r.zeros_dropped != 0;
    web_set_modified(mended);
    if (mended) {
        std::string msg = std::to_string(r.zeros_dropped) +
                          (r.zeros_dropped == 1 ? " zero byte dropped" : " zero bytes dropped");
        status_flash(msg.c_str());
    }
    return rc;
}

bool web_file_is_web(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    FilePtr f;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) f.reset(fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
        return false;
    }
    std::setvbuf(f.get(), nullptr, _IONBF, 0);
    Reader r;
    byte_reader_start(r.bytes, f.get());
    bool closing = false;
    return read_head(r, closing) >= 0;
}

} // namespace tarvex
