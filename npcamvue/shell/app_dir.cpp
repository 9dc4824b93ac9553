// GetAppDirPath and SAFE_STRCAT, exported for callers that share the
// plug-in's AlignedBlock buffers; nothing inside the plug-in calls them.
#include <windows.h>

#include <cstring>
#include <string>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/np_exports.h"
#include "npcamvue/shell/shell_seams.h"

using camvue::AlignedBlock;

namespace {

constexpr int kStartCapacity = 4096;
constexpr int kCapacityStep = 512;
constexpr int kCapacityLimit = 0x100000;

// Bytes from the start of `text` that are readable, not NUL and 7-bit.
int MeasureSafe(const char* text) {
    if (text == nullptr)
        return 0;
    int length = 0;
    while (!IsBadReadPtr(text + length, 1) && text[length] != '\0' &&
           static_cast<unsigned char>(text[length]) < 0x80)
        ++length;
    return length;
}

// `buffer` as a block of at least `bytes`, old bytes kept; null (and the old
// block freed) when memory is short.
char* EnsureBytes(char* buffer, int bytes) {
    return static_cast<char*>(AlignedBlock::Reallocate(bytes, buffer, false));
}

}  // namespace

int GetAppDirPath(char*& buffer) {
    int capacity = kStartCapacity;
    DWORD length = 0;
    for (;;) {
        buffer = EnsureBytes(buffer, capacity);
        if (buffer == nullptr)
            return 0;
        length = camvue::g_shellSeams.hostFileName(buffer, static_cast<DWORD>(capacity));
        if (length < static_cast<DWORD>(capacity) || capacity + kCapacityStep >= kCapacityLimit)
            break;
        capacity += kCapacityStep;
    }
    // A truncated name may lack its NUL: look at the reported bytes only.
    const int end = length < static_cast<DWORD>(capacity) ? static_cast<int>(length) : capacity;
    int cut = -1;
    for (int i = end - 1; i >= 0 && cut < 0; --i)
        if (buffer[i] == '/')
            cut = i;
    for (int i = end - 1; i >= 0 && cut < 0; --i)
        if (buffer[i] == '\\')
            cut = i;
    if (cut < 0)
        return static_cast<int>(length);
    if (cut + 1 < capacity)
        buffer[cut + 1] = '\0';
    return cut + 1;
}

int SAFE_STRCAT(char*& buffer, const char* text) {
    const int added = MeasureSafe(text);
    // Copied first: `text` may lie inside the block that is about to move.
    const std::string piece(text != nullptr ? text : "", static_cast<size_t>(added));
    buffer = static_cast<char*>(AlignedBlock::GrowBy(added + 1, buffer));
    if (buffer == nullptr)
        return 0;
    const int kept = MeasureSafe(buffer);
    std::memcpy(buffer + kept, piece.data(), piece.size());
    buffer[kept + added] = '\0';
    return kept + added;
}
