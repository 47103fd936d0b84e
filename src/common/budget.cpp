#include "common/budget.h"

#include <atomic>

#include "platform/lock.h"

namespace {

struct Budget {
    Mutex lock;
    BudgetEntry *newest = nullptr;
    BudgetEntry *oldest = nullptr;
    int64_t held = 0;
};

Budget &the_budget() {
    static Budget b;
    return b;
}

std::atomic<int64_t> budget_set_to{0};   // 0: the default

void unlink(Budget &b, BudgetEntry *e) {
    if (e->newer != nullptr) e->newer->older = e->older;
    else b.newest = e->older;
    if (e->older != nullptr) e->older->newer = e->newer;
    else b.oldest = e->newer;
    e->older = e->newer = nullptr;
}

void link_newest(Budget &b, BudgetEntry *e) {
    e->older = b.newest;
    e->newer = nullptr;
    if (b.newest != nullptr) b.newest->newer = e;
    b.newest = e;
    if (b.oldest == nullptr) b.oldest = e;
}

}  // namespace

int64_t budget_default() { return sizeof(void *) == 4 ? INT64_C(64) << 20 : INT64_C(256) << 20; }

void budget_set(int64_t bytes) { budget_set_to.store(bytes > 0 ? bytes : 0); }

int64_t budget_bytes() {
    const int64_t set = budget_set_to.load();
    return set > 0 ? set : budget_default();
}

int64_t budget_held() {
    Budget &b = the_budget();
    b.lock.lock();
    const int64_t held = b.held;
    b.lock.unlock();
    return held;
}

void budget_join(BudgetEntry *entry, const BudgetGiveBack &give_back) {
    Budget &b = the_budget();
    b.lock.lock();
    *entry = BudgetEntry{};
    entry->shed = give_back.shed;
    entry->release = give_back.release;
    entry->trim = give_back.trim;
    entry->listed = true;
    link_newest(b, entry);
    b.lock.unlock();
}

void budget_leave(BudgetEntry *entry) {
    if (!entry->listed) return;
    Budget &b = the_budget();
    b.lock.lock();
    unlink(b, entry);
    b.held -= entry->held;
    entry->held = 0;
    entry->listed = false;
    b.lock.unlock();
}

void budget_begin(BudgetEntry *entry) {
    Budget &b = the_budget();
    b.lock.lock();
    if (entry->listed && b.newest != entry) {
        unlink(b, entry);
        link_newest(b, entry);
    }
    entry->busy = true;
    b.lock.unlock();
}

void budget_end(BudgetEntry *entry, int64_t held) {
    Budget &b = the_budget();
    const int64_t budget = budget_bytes();
    b.lock.lock();
    b.held += held - entry->held;
    entry->held = held;
    // The least recently read first; charts being read keep theirs.
    for (BudgetEntry *e = b.oldest; e != nullptr && b.held > budget; e = e->newer) {
        if (e == entry || e->busy || e->held == 0 || e->shed == nullptr) continue;
        const int64_t over = b.held - budget;
        const int64_t kept = e->shed(e, e->held > over ? e->held - over : 0);
        b.held += kept - e->held;
        e->held = kept;
    }
    for (BudgetEntry *e = b.oldest; e != nullptr && b.held > budget;) {
        BudgetEntry *newer = e->newer;
        if (e != entry && !e->busy && e->held > 0) {
            e->release(e);
            b.held -= e->held;
            e->held = 0;
        }
        e = newer;
    }
    if (b.held > budget && entry->trim != nullptr) {
        const int64_t others = b.held - entry->held;
        const int64_t kept = entry->trim(entry, budget - others > 0 ? budget - others : 0);
        b.held += kept - entry->held;
        entry->held = kept;
    }
    entry->busy = false;
    b.lock.unlock();
}
