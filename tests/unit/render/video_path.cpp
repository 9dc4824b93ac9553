#include "tests/unit/render/video_path.h"

#include "npcamvue/shell/draw_step.h"
#include "npcamvue/shell/render_thread.h"
#include "npcamvue/shell/shell_seams.h"
#include "tests/unit/render/screen.h"

namespace camvue_test {
namespace {

std::mutex g_textMutex;
std::vector<std::string> g_texts;

int RecordText(HDC, const char* text, int, RECT*, UINT) {
    std::lock_guard<std::mutex> lock(g_textMutex);
    g_texts.emplace_back(text);
    return 1;
}

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path;
}

}  // namespace

TestInstance::TestInstance(const char* elementId, int x, int y, int w, int h, HWND parent,
                           bool directDraw) {
    instance_ = camvue::InstanceCreate();
    hwnd_ = MakeWindow(x, y, w, h, parent);
    instance_->hwnd = hwnd_;
    GetWindowRect(hwnd_, &instance_->windowRect);
    window_.window = hwnd_;
    window_.width = static_cast<uint32_t>(w);
    window_.height = static_cast<uint32_t>(h);
    instance_->npWindow = &window_;
    camvue::CoreAttach(instance_, elementId, static_cast<int>(strlen(elementId)));
    if (directDraw)
        instance_->renderer.Init(hwnd_, 720, 576, 1);
}

TestInstance::~TestInstance() {
    camvue::StopRenderThread(instance_);
    instance_->lock.Enter("TestInstance");
    camvue::StreamCore* core = instance_->core;
    if (core != nullptr && InterlockedDecrement(&core->refCount) == 0)
        camvue::CoreDestroy(core);
    instance_->renderer.Teardown();
    instance_->core = nullptr;
    instance_->lock.Leave();
    camvue::InstanceFree(instance_);
    DestroyWindow(hwnd_);
}

RECT TestInstance::screenRect() const {
    RECT r = {};
    GetWindowRect(hwnd_, &r);
    return r;
}

bool TestInstance::Draw() {
    HDC dc = GetDC(hwnd_);
    const bool took = camvue::DrawStep(dc, instance_, hwnd_);
    ReleaseDC(hwnd_, dc);
    return took;
}

void PushFrame(camvue::StreamCore* core, const std::vector<uint8_t>& frame, int key, int width,
               int height, uint64_t pts, int kind) {
    camvue::CoreFrameCallback(reinterpret_cast<camvue::FrameDescriptor*>(core),
                              reinterpret_cast<uintptr_t>(frame.data()), frame.size(),
                              static_cast<uintptr_t>(key), 0, 0, 0, static_cast<uintptr_t>(width),
                              static_cast<uintptr_t>(height), static_cast<uint32_t>(pts),
                              static_cast<uint32_t>(pts >> 32), 0, static_cast<uintptr_t>(kind));
}

std::string CodecFolder() {
    return WindowsPath(CAMVUE_CODEC_DIR);
}

std::string EmptyFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "camvue-no-codecs\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void TextLog::Install() {
    std::lock_guard<std::mutex> lock(g_textMutex);
    g_texts.clear();
    camvue::g_shellSeams.drawText = RecordText;
}

std::vector<std::string> TextLog::Take() {
    std::lock_guard<std::mutex> lock(g_textMutex);
    std::vector<std::string> out;
    out.swap(g_texts);
    return out;
}

}  // namespace camvue_test
