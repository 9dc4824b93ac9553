#include "kiv.type/manager.h"

#include <cstring>

XTypeManager* XTypeManager::Create() {
    return KivNew<XTypeManager>();
}

void XTypeManager::Destroy(XTypeManager* manager) {
    if (manager == nullptr) {
        return;
    }
    EnterCriticalSection(&manager->lock);
    manager->WaitForReaders();
    while (manager->types.Count() > 0) {
        const uint32_t last = manager->types.Count() - 1;
        // Releasing the descriptor destroys it with its records and their data.
        KivDestroy(manager->types.At(last));
        manager->types.RemoveAt(last);
    }
    LeaveCriticalSection(&manager->lock);
    KivDestroy(manager);
}

XTypeManager::XTypeManager() {
    InitializeCriticalSection(&lock);
}

XTypeManager::~XTypeManager() {
    types.Clear();
    DeleteCriticalSection(&lock);
}

_Type* XTypeManager::TypeOf(const char* module, const char* name) {
    _Type* found = Lookup(name);
    if (found != nullptr) {
        return found;
    }

    // Registration: with the lock held and no scan running, look again (the
    // name may have come in since), else take a free entry or add one.
    EnterCriticalSection(&lock);
    WaitForReaders();
    found = Scan(name, types.Count());
    if (found == nullptr) {
        for (uint32_t i = 0; i < types.Count(); ++i) {
            _Type* type = types.At(i)->object;
            if (type->type_name == nullptr) {
                type->type_name = name;
                type->module_name = module;
                found = type;
                break;
            }
        }
    }
    if (found == nullptr) {
        XType* entry = KivNew<XType>();
        if (entry != nullptr && entry->object != nullptr) {
            entry->object->type_name = name;
            entry->object->module_name = module;
            if (types.Add(entry) != types.kNoIndex) {
                found = entry->object;
                entry = nullptr;
            }
        }
        KivDestroy(entry);  // only an entry that could not be added
    }
    LeaveCriticalSection(&lock);
    return found;
}

void XTypeManager::FreeTypes(const char* module) {
    EnterCriticalSection(&lock);
    // A scan still under way may hold a name pointer of this module, which is
    // about to be unloaded; let it finish before the entries change.
    WaitForReaders();
    for (uint32_t i = 0; i < types.Count(); ++i) {
        _Type* type = types.At(i)->object;
        if (type->module_name == nullptr || std::strcmp(type->module_name, module) != 0) {
            continue;
        }
        type->type_name = nullptr;
        type->module_name = nullptr;
        for (uint32_t j = 0; j < type->method_infos.Count(); ++j) {
            _TypeMethodInfo* record = type->method_infos.At(j);
            if (record != nullptr) {
                record->FreeData();
            }
        }
    }
    LeaveCriticalSection(&lock);
}

_Type* XTypeManager::Lookup(const char* name) {
    while (!TryEnterCriticalSection(&lock)) {
        SwitchToThread();
    }
    InterlockedIncrement(&reader_count);
    const uint32_t count = types.Count();
    LeaveCriticalSection(&lock);

    _Type* found = Scan(name, count);
    InterlockedDecrement(&reader_count);
    return found;
}

_Type* XTypeManager::Scan(const char* name, uint32_t count) const {
    for (uint32_t i = 0; i < count; ++i) {
        _Type* type = types.items[i]->object;
        if (type->type_name != nullptr && std::strcmp(type->type_name, name) == 0) {
            return type;
        }
    }
    return nullptr;
}

void XTypeManager::WaitForReaders() {
    while (InterlockedCompareExchange(&reader_count, 0, 0) != 0) {
        SwitchToThread();
    }
}
