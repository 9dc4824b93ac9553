// XTypeManager: the process's registry of type descriptors, keyed by name.
//
// Lookups scan the entries without holding the lock: they only take it, by
// spinning on a non-blocking attempt, to count themselves as readers and to
// note how many entries there are. Whatever changes the list or an entry
// holds the lock and first waits for the reader count to drop to 0, so no
// scan ever meets an entry that is being changed or a list being regrown.
#pragma once

#include <windows.h>

#include <cstddef>

#include "kiv.basis/includes/kiv_malloc_array.h"
#include "kiv.type/type.h"

class XTypeManager {
  public:
    static constexpr const char* kTypeName = "XTypeManager";

    // A new, empty registry with init count 1; null when kiv.memory gives
    // nothing.
    static XTypeManager* Create();
    // Destroys every entry, last first, then the registry itself.
    static void Destroy(XTypeManager* manager);

    XTypeManager();
    XTypeManager(const XTypeManager&) = delete;
    XTypeManager& operator=(const XTypeManager&) = delete;
    ~XTypeManager();

    // The descriptor registered under name, registering it for module when
    // absent (in the first free entry, else a new one). Null only when
    // memory runs out.
    _Type* TypeOf(const char* module, const char* name);
    // Gives back for reuse every entry that module registered and frees the
    // data of their method records; the records stay with the descriptors.
    void FreeTypes(const char* module);

    CRITICAL_SECTION lock;
    XMallocArray<XType*, 5> types;
    volatile LONG init_count = 1;
    volatile LONG reader_count = 0;

  private:
    // The optimistic step: null when no entry matched.
    _Type* Lookup(const char* name);
    // The matching descriptor among the first count entries, or null.
    _Type* Scan(const char* name, uint32_t count) const;
    // Spins until no lookup is scanning; the lock is held.
    void WaitForReaders();
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(XTypeManager, lock) == 0);
static_assert(offsetof(XTypeManager, types) == 24);
static_assert(offsetof(XTypeManager, init_count) == 40);
static_assert(offsetof(XTypeManager, reader_count) == 44);
static_assert(sizeof(XTypeManager) == 48);
#elif defined(_WIN64)
static_assert(offsetof(XTypeManager, lock) == 0);
static_assert(offsetof(XTypeManager, types) == 40);
static_assert(offsetof(XTypeManager, init_count) == 64);
static_assert(offsetof(XTypeManager, reader_count) == 68);
static_assert(sizeof(XTypeManager) == 72);
#endif
#pragma GCC diagnostic pop
