// The cell list: one item per cell in name order, and its filter.
#include "shell/panes_state.h"

#include "frontend/frontend.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <QTreeWidget>

namespace tarvex {

void list_refill() {
    if (!panes().windows.list) return;
    list_clear();
    panes().list_filling = true;
    // A sorted list places each new item by sorting again: filled unsorted
    // (in name order already) and sorted once, a big web's list fills in
    // n log n rather than n squared.
    QTreeWidget* list = panes().windows.list;
    bool sorted = list->isSortingEnabled();
    list->setSortingEnabled(false);
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) insert_item(e);
    list->setSortingEnabled(sorted);
    panes().list_filling = false;
    list_select_current();
}

void list_add(NodeHandle cell) {
    if (!panes().windows.list || cell == 0) return;
    panes().list_filling = true;
    if (!item_of_cell(cell)) insert_item(cell);
    panes().list_filling = false;
    list_select_current();
}

void list_remove(NodeHandle cell) {
    if (!panes().windows.list || cell == 0) return;
    QTreeWidgetItem* item = item_of_cell(cell);
    if (!item) return;
    panes().list_filling = true;
    for (auto it = panes().items.begin(); it != panes().items.end(); ++it)
        if (it->second == item) {
            panes().items.erase(it);
            break;
        }
    delete item;
    panes().list_filling = false;
}

void list_clear() {
    if (!panes().windows.list) return;
    panes().list_filling = true;
    panes().windows.list->clear();
    panes().items.clear();
    panes().list_filling = false;
}

void list_select_current() {
    if (!panes().windows.list) return;
    CellHandle c = current_cell();
    QTreeWidgetItem* item = c ? item_of_cell(c) : nullptr;
    panes().list_filling = true;
    if (item) {
        panes().windows.list->setCurrentItem(item);
        panes().windows.list->scrollToItem(item);
    }
    panes().list_filling = false;
    panes().windows.list->viewport()->update();
}

void list_follow_current() {
    QTreeWidget* list = panes().windows.list;
    if (!list) return;
    QTreeWidgetItem* item = list->currentItem();
    if (!item || list_item_cell(item) != current_cell()) list_select_current();
}

bool list_filling() { return panes().list_filling; }

void list_filter_set(const QString& filter) {
    panes().list_filter = fold_word(filter.toStdString());
    QTreeWidget* list = panes().windows.list;
    if (!list) return;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        item->setHidden(list_filter_hides(item->text(0).toStdString()));
    }
}

void* list_first_shown() {
    QTreeWidget* list = panes().windows.list;
    for (int i = 0; list && i < list->topLevelItemCount(); ++i)
        if (!list->topLevelItem(i)->isHidden()) return list->topLevelItem(i);
    return nullptr;
}

NodeHandle list_item_cell(const void* item) {
    auto* i = static_cast<const QTreeWidgetItem*>(item);
    return i ? NodeHandle(i->data(0, ROLE_CELL).toUInt()) : 0;
}

} // namespace tarvex
