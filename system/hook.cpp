#include "system/hook.h"

#include "runtime/errors.h"
#include "system/event.h"
#include "system/hook_internal.h"

HookData UninitializedHookFunc(int32_t, HookData, const HookContext&) {
    throw TRuntimeError(kUninitializedFunctionText);
}

int32_t THookTable::ReserveHookId() {
    if (lastId_ + 1 >= kHookTableSize) throw TRuntimeError("Too many hook ids");
    return ++lastId_;
}

void THookTable::InsertHook(int32_t id, THookFunc func, HookContext context, int32_t priority) {
    CheckIndex(id, kHookTableSize);
    auto hook = std::make_shared<THook>();
    hook->priority = priority;
    hook->func = func;
    hook->context = std::move(context);
    // Pass every entry of greater or equal priority, so equal priorities keep
    // the order in which they were added.
    std::shared_ptr<THook> last;
    for (auto entry = heads_[id]; entry && entry->priority >= priority; entry = entry->succ) last = entry;
    if (!last) {
        hook->succ = heads_[id];
        heads_[id] = hook;
    } else {
        hook->succ = last->succ;
        last->succ = hook;
    }
}

HookData THookTable::RunHookChain(int32_t id, HookData data) {
    CheckIndex(id, kHookTableSize);
    // Each entry is held while it runs, so a hook that removes itself does not
    // pull the ground from under the walk.
    for (auto entry = heads_[id]; entry;) {
        data = entry->func(id, std::move(data), entry->context);
        entry = entry->succ;
    }
    return data;
}

void THookTable::RemoveHookEntry(int32_t id, THookFunc func, const HookContext& context) {
    CheckIndex(id, kHookTableSize);
    std::shared_ptr<THook> prev;
    for (auto entry = heads_[id]; entry; prev = entry, entry = entry->succ) {
        if (entry->func == func && entry->context == context) {
            if (prev)
                prev->succ = entry->succ;
            else
                heads_[id] = entry->succ;
            return;
        }
    }
}

std::shared_ptr<THook> THookTable::Head(int32_t id) const {
    CheckIndex(id, kHookTableSize);
    return heads_[id];
}

namespace {
THookTable& ProcessHookTable() {
    static THookTable table;
    return table;
}
}  // namespace

int32_t ReserveProcessHookIdFirst() { return ProcessHookTable().ReserveHookId(); }

int32_t ReserveHookId() {
    (void)eventEmitHookId();  // the emit hook always takes the first id
    return ProcessHookTable().ReserveHookId();
}

void InsertHook(int32_t id, THookFunc func, HookContext context, int32_t priority) {
    ProcessHookTable().InsertHook(id, func, std::move(context), priority);
}

HookData RunHookChain(int32_t id, HookData data) { return ProcessHookTable().RunHookChain(id, std::move(data)); }

void RemoveHookEntry(int32_t id, THookFunc func, const HookContext& context) {
    ProcessHookTable().RemoveHookEntry(id, func, context);
}
