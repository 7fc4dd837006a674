#include "ui/DialogRegistry.h"

#include <map>

namespace quenvar {

namespace {

struct Table {
    CRITICAL_SECTION lock;
    std::map<HWND, ModelessDialog*> dialogs;
    Table() { InitializeCriticalSection(&lock); }
};

// Built on first use and never destroyed: windows may still be routed while
// static objects are torn down at exit.
Table& TheTable() {
    static Table* table = new Table;
    return *table;
}

class Hold {
public:
    explicit Hold(Table& table) : table_(table) { EnterCriticalSection(&table_.lock); }
    ~Hold() { LeaveCriticalSection(&table_.lock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Table& table_;
};

}  // namespace

void DialogRegistry::Add(HWND window, ModelessDialog* dialog) {
    Table& table = TheTable();
    Hold hold(table);
    table.dialogs[window] = dialog;
}

void DialogRegistry::Remove(HWND window) {
    Table& table = TheTable();
    Hold hold(table);
    table.dialogs.erase(window);
}

ModelessDialog* DialogRegistry::Find(HWND window) {
    Table& table = TheTable();
    Hold hold(table);
    auto it = table.dialogs.find(window);
    return it == table.dialogs.end() ? nullptr : it->second;
}

size_t DialogRegistry::Count() {
    Table& table = TheTable();
    Hold hold(table);
    return table.dialogs.size();
}

}  // namespace quenvar
