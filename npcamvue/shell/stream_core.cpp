// Core registry, attach, construction, destruction and the address.
#include "npcamvue/shell/stream_core.h"

#include <winsock2.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/plugin_instance.h"

namespace camvue {
namespace {

constexpr const char* kRegistryTag = "CoreRegistry";
constexpr const char* kUrlTag = "StreamCore::url";

// Built with the module (static construction), its items freed at unload.
CList g_registry;

// A copy of `length` bytes followed by two NUL bytes; null when memory is
// short or the length does not fit.
char* CopyText(const char* text, int length) {
    if (length < 0 || length > AlignedBlock::kMaxBytes - 2)
        return nullptr;
    auto* copy = reinterpret_cast<char*>(AlignedBlock::New(length + 2));
    if (copy != nullptr && length > 0)
        std::memcpy(copy, text, static_cast<size_t>(length));
    return copy;  // New zero-fills: the two NULs are there
}

StreamCore* FindCore(const char* id, int length) {
    for (int i = 0; i < g_registry.count; ++i) {
        auto* core = static_cast<StreamCore*>(g_registry.items[i]);
        if (core != nullptr && core->elementIdLength == length &&
            std::memcmp(core->elementId, id, static_cast<size_t>(length)) == 0)
            return core;
    }
    return nullptr;
}

void FreeSlots(StreamCore* core) {
    SpinLockGuard ring(core->frames.lock, "CoreDestroy");
    for (int i = 0; i < core->frames.count; ++i) {
        auto* slot = static_cast<FrameSlot*>(core->frames.items[i]);
        if (slot == nullptr)
            continue;
        AlignedBlock::Free(slot->data);
        std::free(slot);
        core->frames.items[i] = nullptr;
    }
    core->frames.count = 0;
}

void CloseIfHeld(HANDLE* handle) {
    if (*handle != nullptr)
        CloseHandle(*handle);
    *handle = nullptr;
}

}  // namespace

CList& CoreRegistry() {
    return g_registry;
}

StreamCore* CoreCreate() {
    auto* core = static_cast<StreamCore*>(std::calloc(1, sizeof(StreamCore)));
    if (core == nullptr)
        return nullptr;
    new (&core->frames) CList();
    new (&core->urlLock) SpinLock(kUrlTag);
    new (&core->decodeLock) SpinLock("StreamCore::decode");
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    for (int i = 0; i < StreamCore::kSlots; ++i) {
        auto* slot = static_cast<FrameSlot*>(std::calloc(1, sizeof(FrameSlot)));
        if (slot == nullptr || core->frames.Add(slot) < 0) {
            // A ring that is not whole would wrap at the wrong place.
            std::free(slot);
            FreeSlots(core);
            core->frames.~CList();
            WSACleanup();
            std::free(core);
            return nullptr;
        }
    }
    core->abortEvent = EventCreate(false, false);
    core->wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    core->quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    core->startedEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (core->abortEvent != nullptr && core->wakeEvent != nullptr && core->quitEvent != nullptr &&
        core->startedEvent != nullptr) {
        core->networkThread = CreateThread(nullptr, 0, NetworkThreadMain, core, 0, nullptr);
        if (core->networkThread != nullptr)
            WaitForSingleObject(core->startedEvent, INFINITE);
    }
    return core;
}

StreamCore* CoreAttach(PluginInstance* instance, const char* id, int length) {
    if (id == nullptr || length < 1)
        return nullptr;
    SpinLockGuard registry(g_registry.lock, kRegistryTag);
    StreamCore* core = FindCore(id, length);
    if (core == nullptr) {
        char* copy = CopyText(id, length);
        if (copy == nullptr)
            return nullptr;
        core = CoreCreate();
        if (core == nullptr || g_registry.Add(core) < 0) {
            AlignedBlock::Free(copy);
            CoreDestroy(core);
            return nullptr;
        }
        core->elementId = copy;
        core->elementIdLength = length;
    }
    InterlockedIncrement(&core->refCount);
    if (core->keepAlive) {
        InterlockedExchange(&core->redrawRequested, 1);
        SetEvent(core->wakeEvent);
    }
    if (instance != nullptr)
        instance->core = core;
    return core;
}

void CoreDestroy(StreamCore* core) {
    if (core == nullptr)
        return;
    g_registry.Remove(core);
    if (core->networkThread != nullptr) {
        SetEvent(core->quitEvent);
        EventSet(core->abortEvent);
        WaitForSingleObject(core->networkThread, INFINITE);
        CloseHandle(core->networkThread);
        core->networkThread = nullptr;
    }
    FreeSlots(core);
    CodecModule::FreeModule(core->codec);
    core->codec = nullptr;
    AlignedBlock::Free(core->elementId);
    core->elementId = nullptr;
    EventDestroy(core->abortEvent);
    core->abortEvent = nullptr;
    AlignedBlock::Free(core->url);
    core->url = nullptr;
    CloseIfHeld(&core->wakeEvent);
    CloseIfHeld(&core->quitEvent);
    CloseIfHeld(&core->startedEvent);
    WSACleanup();
    core->urlLock.~SpinLock();
    core->decodeLock.~SpinLock();
    core->frames.~CList();  // frees the ring's item array
    std::free(core);
}

bool CoreSetUrl(StreamCore* core, const char* url) {
    if (core == nullptr)
        return false;
    const size_t length = url != nullptr ? std::strlen(url) : 0;
    char* copy = nullptr;
    if (length > 0) {
        if (length > static_cast<size_t>(AlignedBlock::kMaxBytes - 2))
            return false;
        copy = CopyText(url, static_cast<int>(length));
    }
    SpinLockGuard guard(core->urlLock, kUrlTag);
    AlignedBlock::Free(core->url);
    core->url = copy;
    return copy != nullptr || length == 0;
}

}  // namespace camvue
