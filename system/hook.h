#pragma once
// Hook chains: priority-ordered callback lists under a numeric hook id.
// Running a chain passes one object through every callback in turn.
//
// The table of 256 chain heads lives in a function-local static, made on
// first use, so no static-initialisation order matters. Main thread only.

#include <cstdint>
#include <memory>

// Root of whatever travels along a hook chain (events derive from it).
// Polymorphic so that a hook can test what it was given (dynamic_pointer_cast).
class THookObject {
public:
    virtual ~THookObject() = default;
};

// The object a chain carries; may be null.
using HookData = std::shared_ptr<THookObject>;
// The context a hook is registered with; may be null.
using HookContext = std::shared_ptr<void>;
// A hook callback: (hook id, data, context) -> data for the next hook.
using THookFunc = HookData (*)(int32_t id, HookData data, const HookContext& context);

// Raises the runtime's uninitialised-function error; the func of a new THook.
HookData UninitializedHookFunc(int32_t id, HookData data, const HookContext& context);

// One entry of a chain.
struct THook {
    std::shared_ptr<THook> succ;             // next entry, null at the end
    int32_t priority = 0;                    // higher runs earlier
    THookFunc func = UninitializedHookFunc;  // the callback
    HookContext context;                     // passed back to func on every call
};

// Number of hook ids (and chain heads in a table).
inline constexpr int32_t kHookTableSize = 256;

// A table of 256 chains with its own id counter. The module functions below
// work on the process-wide table; tests may make private tables.
class THookTable {
public:
    // Next hook id (0, 1, ... 255); the 257th call throws TRuntimeError("Too many hook ids").
    int32_t ReserveHookId();
    // Puts a new entry into chain id: after every entry of greater or equal priority.
    void InsertHook(int32_t id, THookFunc func, HookContext context, int32_t priority);
    // Runs data through chain id and returns the last result (data itself when empty).
    HookData RunHookChain(int32_t id, HookData data);
    // Unlinks the first entry of chain id with this func and context; nothing if none.
    void RemoveHookEntry(int32_t id, THookFunc func, const HookContext& context);
    // Head of chain id (for inspection).
    std::shared_ptr<THook> Head(int32_t id) const;

private:
    std::shared_ptr<THook> heads_[kHookTableSize];
    int32_t lastId_ = -1;
};

// Hook ids out of 0..255 raise the runtime's array-bounds error in all of these.

// Next hook id of the process-wide table. The event module's emit hook is
// always reserved first (id 0), whoever reserves first.
int32_t ReserveHookId();
// InsertHook on the process-wide table.
void InsertHook(int32_t id, THookFunc func, HookContext context, int32_t priority);
// RunHookChain on the process-wide table.
HookData RunHookChain(int32_t id, HookData data);
// RemoveHookEntry on the process-wide table.
void RemoveHookEntry(int32_t id, THookFunc func, const HookContext& context);
