#include "kiv.gc/gc_manager.h"

#include <cstring>
#include <new>

#include "kiv.basis/includes/kiv_object.h"

uint64_t GcSystemClock() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

namespace {

constexpr DWORD kThreadNameException = 0x406D1388;
constexpr char kThreadName[] = "kiv objects collect";

LONG CALLBACK IgnoreThreadName(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kThreadNameException
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

// Names the thread for an attached debugger; nobody else sees the exception.
void NameThread(const char* name) {
    ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name),
                         static_cast<ULONG_PTR>(GetCurrentThreadId()), 0};
    void* handler = AddVectoredExceptionHandler(1, IgnoreThreadName);
    if (handler == nullptr) {
        return;
    }
    RaiseException(kThreadNameException, 0, 4, info);
    RemoveVectoredExceptionHandler(handler);
}

DWORD WINAPI ThreadMain(void* parameter) {
    GcThread* thread = static_cast<GcThread*>(parameter);
    NameThread(thread->name);
    while (WaitForSingleObject(thread->stop_event, 0) != WAIT_OBJECT_0) {
        if (thread->mode == 1 && thread->callback != nullptr) {
            thread->callback(thread->data);
        }
        SleepEx(thread->period_ms, TRUE);
    }
    return 0;
}

void CALLBACK WakeUp(ULONG_PTR) {}

void RunPass(void* data) {
    static_cast<GcManager*>(data)->Pass();
}

}  // namespace

GcManager* GcManager::Create(bool start_thread, DWORD period_ms) {
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(GcManager));
    if (memory == nullptr) {
        return nullptr;
    }
    GcManager* manager = new (memory) GcManager();
    InitializeCriticalSection(&manager->lock);
    manager->thread.mode = 1;
    manager->thread.period_ms = period_ms;
    if (start_thread && !manager->StartThread(period_ms)) {
        Destroy(manager);
        return nullptr;
    }
    manager->init_count = 1;
    return manager;
}

bool GcManager::StartThread(DWORD period_ms) {
    thread.stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread.name = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, sizeof kThreadName));
    if (thread.stop_event == nullptr || thread.name == nullptr) {
        return false;
    }
    std::memcpy(thread.name, kThreadName, sizeof kThreadName);
    thread.mode = 1;
    thread.period_ms = period_ms;
    thread.callback = RunPass;
    thread.data = this;
    thread.handle = CreateThread(nullptr, 0, ThreadMain, &thread, CREATE_SUSPENDED, &thread.id);
    if (thread.handle == nullptr) {
        return false;
    }
    ResumeThread(thread.handle);
    return true;
}

void GcManager::StopThread() {
    if (thread.handle != nullptr) {
        SetEvent(thread.stop_event);
        QueueUserAPC(WakeUp, thread.handle, 0);
        WaitForSingleObject(thread.handle, INFINITE);
        CloseHandle(thread.handle);
        thread.handle = nullptr;
    }
    if (thread.name != nullptr) {
        HeapFree(GetProcessHeap(), 0, thread.name);
        thread.name = nullptr;
    }
    if (thread.stop_event != nullptr) {
        CloseHandle(thread.stop_event);
        thread.stop_event = nullptr;
    }
}

void GcManager::Destroy(GcManager* manager) {
    if (manager == nullptr) {
        return;
    }
    manager->StopThread();
    // The objects still registered lose the collector's references; those
    // nobody else holds are destroyed and freed. One that a handle elsewhere
    // still holds stays alive for it instead of being freed under it.
    manager->CollectAll();
    DeleteCriticalSection(&manager->lock);
    manager->~GcManager();  // and with it the list, once
    HeapFree(GetProcessHeap(), 0, manager);
}

void GcManager::Add(XGCRef* object) {
    object->gc_lock = &lock;
    EnterCriticalSection(&lock);
    list.Add(object);
    LeaveCriticalSection(&lock);
}

void GcManager::Remove(XGCRef* object) {
    EnterCriticalSection(&lock);
    const uint32_t index = list.Find(object);
    if (index != GcList::kNoIndex) {
        list.Remove(index);
    }
    LeaveCriticalSection(&lock);
}

void GcManager::Statistics() {
    const uint64_t now = clock();
    if (last_statistics == 0) {
        last_statistics = now;
    } else if (now > last_statistics && now - last_statistics > kStatisticsInterval) {
        std::fprintf(statistics_stream, "GC manager , items count = %u\n", list.LiveCount());
        std::fflush(statistics_stream);
        last_statistics = now;
    }
}

void GcManager::Pass() {
    EnterCriticalSection(&lock);
    uint32_t index = list.length;
    LeaveCriticalSection(&lock);
    while (index > 0) {
        Statistics();
        Sleep(1);
        if (!TryEnterCriticalSection(&lock)) {
            continue;  // a client holds the lock: the same slot again
        }
        --index;
        XGCRef* object = list.Item(index);
        if (object != nullptr) {
            if (object->fresh == 1) {
                object->fresh = 0;  // survives this pass
            } else {
                list.Remove(index);
                object->RemoveGCRef(false);
            }
        }
        LeaveCriticalSection(&lock);
    }
    EnterCriticalSection(&lock);
    list.Trim();
    LeaveCriticalSection(&lock);
}

void GcManager::CollectAll() {
    EnterCriticalSection(&lock);
    for (uint32_t i = list.length; i-- > 0;) {
        XGCRef* object = list.Item(i);
        if (object != nullptr) {
            list.Remove(i);
            object->RemoveGCRef(false);
        }
    }
    LeaveCriticalSection(&lock);
}
