// One budget for the working sets of all open charts: the read windows,
// tiles and stored-row indexes they hold while they are read. A host may
// hold a whole region of charts open; what they hold beyond their headers
// and index tables stays within the budget, taken from the charts least
// recently read, which build again what they need when they are read next.
//
// Every chart has an entry. A read begins (the chart becomes the most
// recent, and busy: nothing of it is taken while it reads) and ends with
// what the chart then holds. Until all fit, the others give back first
// what is cheapest to build again (the parts of their indexes least
// recently used: behind a chart read row by row, parts it is done with),
// least recently read chart first; then, still in that order, everything
// they hold; and where the chart alone holds more than the budget it trims
// its own. Charts read in turn whose working sets fit together thus keep
// them, instead of each taking the next one's whole working set just
// before it is needed. Releases run under the budget's lock, never while
// their chart is busy.
#pragma once

#include <cstdint>

struct BudgetEntry {
    BudgetEntry *older = nullptr;   // the list of entries, most recently read first
    BudgetEntry *newer = nullptr;
    int64_t held = 0;               // bytes the chart held when its last read ended
    bool busy = false;
    bool listed = false;
    // Gives back what the chart holds beyond `bytes` that is cheapest to
    // build again, least recently used first; returns what it then holds.
    int64_t (*shed)(BudgetEntry *entry, int64_t bytes) = nullptr;
    // Gives back everything the chart holds in working sets; it builds them
    // again when it is next read.
    void (*release)(BudgetEntry *entry) = nullptr;
    // Gives back what the chart holds beyond `bytes`, least recently used
    // first (called while its own read ends); returns what it then holds.
    int64_t (*trim)(BudgetEntry *entry, int64_t bytes) = nullptr;
};

// The budget by default: 64 MB in a 32-bit process, 256 MB in a 64-bit one.
int64_t budget_default();

// Sets the budget (`bytes` 0 or less: the default); the next read that
// ends brings what is held within it.
void budget_set(int64_t bytes);
int64_t budget_bytes();

// Bytes all entries held when their reads last ended.
int64_t budget_held();

// The functions through which a chart gives back what it holds.
struct BudgetGiveBack {
    int64_t (*shed)(BudgetEntry *entry, int64_t bytes);
    void (*release)(BudgetEntry *entry);
    int64_t (*trim)(BudgetEntry *entry, int64_t bytes);
};

// Enters a chart that holds nothing yet.
void budget_join(BudgetEntry *entry, const BudgetGiveBack &give_back);

// Takes a chart out (it is closing): after this nothing of it is released
// by another chart's read.
void budget_leave(BudgetEntry *entry);

// A read of the chart begins.
void budget_begin(BudgetEntry *entry);

// A read of the chart ends, the chart holding `held` bytes: other charts
// shed, then release, least recently read first, until all fit, and the
// chart trims its own to what the others leave.
void budget_end(BudgetEntry *entry, int64_t held);
