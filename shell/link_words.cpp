// The link words: the cell names the panes style as links.
#include "shell/panes_state.h"

#include "frontend/frontend.h"
#include "web/cell.h"

#include <Qsci/qsciscintilla.h>

namespace tarvex {

void link_refresh() {
    std::string words;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        // Every name, however many: the panes link what the Links docks list.
        words += cell_name_string(e);
        words += ' ';
    }
    if (!words.empty()) words.pop_back();
    if (words == panes().link_words) return;
    panes().link_words = words;
    panes().link_set.clear();
    size_t from = 0;
    while (from < words.size()) {
        size_t space = words.find(' ', from);
        if (space == std::string::npos) space = words.size();
        panes().link_set.insert(fold_word(std::string_view(words).substr(from, space - from)));
        from = space + 1;
    }
    for (QsciScintilla* e : {panes().windows.text, panes().windows.script, panes().windows.value})
        restyle_whole(e);
}

} // namespace tarvex
