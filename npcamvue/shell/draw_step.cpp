#include "npcamvue/shell/draw_step.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/shell_seams.h"
#include "npcamvue/shell/stream_core.h"

namespace camvue {
namespace {

// Under the ring lock: the frame at readIndex into the instance's frame
// buffer, its description into the core, the slot emptied. False when there
// is none or the buffer cannot grow (the frame then stays in the ring).
bool TakeFrame(PluginInstance* instance, StreamCore* core, int32_t* length) {
    SpinLockGuard ring(core->frames.lock, "DrawStep");
    const int count = core->frames.count;
    if (count <= 0 || core->readIndex == core->writeIndex)
        return false;
    auto* slot = static_cast<FrameSlot*>(core->frames.items[core->readIndex]);
    if (slot == nullptr || slot->length <= 0 || slot->data == nullptr)
        return false;
    auto* buffer =
        static_cast<uint8_t*>(AlignedBlock::Reallocate(slot->length, instance->frameBuffer, false));
    instance->frameBuffer = buffer;
    if (buffer == nullptr)
        return false;
    std::memcpy(buffer, slot->data, static_cast<size_t>(slot->length));
    *length = slot->length;
    core->width = slot->width;
    core->height = slot->height;
    core->codecKind = slot->codecKind;
    core->key = slot->key;
    core->pts = slot->pts;
    slot->length = 0;
    core->readIndex = (core->readIndex + 1) % count;
    return true;
}

// Shows `picture` at the core's frame size, or returns false when it is too
// small for that size (the renderer would read past it).
bool ShowPicture(PluginInstance* instance, StreamCore* core, const uint8_t* picture, int size,
                 const RECT* override) {
    if (picture == nullptr || !PictureFits(core->width, core->height, size))
        return false;
    instance->renderer.sizeChanged = 0;
    instance->renderer.Show(core->width, core->height, picture, override);
    if (instance->renderer.sizeChanged) {
        instance->renderer.sizeChanged = 0;
        core->keepAlive = 0;
    }
    return true;
}

void DrawStatistics(HDC dc, HWND hwnd, StreamCore* core, int32_t length, int decoded) {
    RECT client = {};
    GetClientRect(hwnd, &client);
    FrameRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RECT inset = client;
    inset.left += 2;
    inset.top += 2;
    char text[512];
    const int n = FormatStatistics(
        text, sizeof text, static_cast<uint32_t>(core->framesReceived),
        static_cast<uint32_t>(core->width), static_cast<uint32_t>(core->height),
        static_cast<uint32_t>(core->key), static_cast<uint32_t>(length), core->pts,
        static_cast<uint32_t>(decoded), static_cast<uint32_t>(client.right - client.left),
        static_cast<uint32_t>(client.bottom - client.top));
    if (n > 0)
        g_shellSeams.drawText(dc, text, -1, &inset, DT_WORDBREAK);
}

}  // namespace

bool PictureFits(int width, int height, int size) {
    if (width <= 0 || height <= 0 || size <= 0)
        return false;
    const uint64_t need = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 / 2;
    return need <= static_cast<uint64_t>(size);
}

int FormatStatistics(char* out, size_t size, uint32_t framesReceived, uint32_t width,
                     uint32_t height, uint32_t key, uint32_t length, uint64_t pts, uint32_t decoded,
                     uint32_t clientWidth, uint32_t clientHeight) {
    const int n = std::snprintf(
        out, size, "[%05u][%ux%u] key=%u size=%7u time=%" PRIu64 " osize=%u [%ux%u]",
        framesReceived, width, height, key, length, pts, decoded, clientWidth, clientHeight);
    return n < 0 ? 0 : n;
}

void FallbackDrawing(HDC dc, PluginInstance* instance, HWND hwnd) {
    StreamCore* core = instance != nullptr ? instance->core : nullptr;
    if (dc == nullptr || hwnd == nullptr || core == nullptr)
        return;
    SpinLockGuard decoding(core->decodeLock, "FallbackDrawing");
    RECT client = {};
    GetClientRect(hwnd, &client);
    const uint8_t* picture = nullptr;
    int size = 0;
    if (CodecModule::LastPicture(core->codec, &picture, &size) &&
        ShowPicture(instance, core, picture, size, &instance->windowRect))
        return;
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FrameRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    core->keepAlive = 0;
    instance->renderer.sizeChanged = 0;
}

bool DrawStep(HDC dc, PluginInstance* instance, HWND hwnd) {
    if (dc == nullptr || hwnd == nullptr || instance == nullptr || instance->core == nullptr)
        return false;
    SpinLockGuard guard(instance->lock, "DrawStep");
    StreamCore* core = instance->core;
    SpinLockGuard decoding(core->decodeLock, "DrawStep");
    int32_t length = 0;
    if (!TakeFrame(instance, core, &length)) {
        FallbackDrawing(dc, instance, hwnd);
        return false;
    }
    if (CodecModule::Ensure(&core->codec, core->codecKind, g_shellSeams.codecFolder) < 0) {
        FallbackDrawing(dc, instance, hwnd);
        return true;
    }
    CodecModule::Announce(core->codec, core->width, core->height);
    const uint8_t* picture = nullptr;
    int size = 0;
    const int decoded =
        CodecModule::Decode(core->codec, instance->frameBuffer, length, &picture, &size, nullptr);
    if (CodecModule::Loaded(core->codec)) {
        if (picture == nullptr || core->width == 0 || core->height == 0 ||
            !ShowPicture(instance, core, picture, size, nullptr)) {
            FallbackDrawing(dc, instance, hwnd);
            core->keepAlive = 0;
            instance->renderer.sizeChanged = 0;
        }
    } else {
        DrawStatistics(dc, hwnd, core, length, decoded);
        core->keepAlive = 0;
        instance->renderer.sizeChanged = 0;
    }
    return true;
}

}  // namespace camvue
