// message-box-answer: answers the message boxes another program of the same
// desktop shows, the way a user would: reads each box's caption and text,
// prints them, presses OK. With --lock FILE it first opens FILE without any
// sharing and holds it until it ends, like a program that has it in use.
//   message-box-answer [--lock FILE] [--wait MS] [--quiet MS]
// --wait: how long to wait for the first box (default 60000); --quiet: how
// long no further box may appear before it ends (default 1500). Exit code 0
// when at least one box was answered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Found {
    HWND text = nullptr;
};

BOOL CALLBACK FindText(HWND child, LPARAM parameter) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (_stricmp(name, "Static") == 0 && GetWindowTextLengthA(child) > 0) {
        reinterpret_cast<Found*>(parameter)->text = child;
        return FALSE;
    }
    return TRUE;
}

bool AnswerOne() {
    HWND box = FindWindowA("#32770", nullptr);
    if (box == nullptr || !IsWindowVisible(box)) {
        return false;
    }
    char caption[256] = {};
    GetWindowTextA(box, caption, sizeof caption);
    Found found;
    EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(&found));
    char text[2048] = {};
    if (found.text != nullptr) {
        GetWindowTextA(found.text, text, sizeof text);
    }
    std::printf("caption: %s\ntext: %s\n", caption, text);
    HWND ok = GetDlgItem(box, IDOK);
    if (ok != nullptr) {
        SendMessageA(ok, BM_CLICK, 0, 0);
    } else {
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    for (int i = 0; i < 500 && IsWindow(box); ++i) {
        Sleep(10);
    }
    std::printf("pressed: OK\n");
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD wait_ms = 60000, quiet_ms = 1500;
    HANDLE locked = INVALID_HANDLE_VALUE;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--lock") == 0) {
            locked = CreateFileA(argv[i + 1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            std::printf("lock: %s\n", locked != INVALID_HANDLE_VALUE ? "held" : "failed");
            std::fflush(stdout);
        } else if (std::strcmp(argv[i], "--wait") == 0) {
            wait_ms = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
        } else if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet_ms = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
        }
    }
    int answered = 0;
    DWORD since = GetTickCount();
    while (GetTickCount() - since < (answered == 0 ? wait_ms : quiet_ms)) {
        if (AnswerOne()) {
            ++answered;
            since = GetTickCount();
        } else {
            Sleep(20);
        }
    }
    if (locked != INVALID_HANDLE_VALUE) {
        CloseHandle(locked);
    }
    std::printf("answered: %d\n", answered);
    return answered > 0 ? 0 : 1;
}
