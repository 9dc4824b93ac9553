// setup-rtsp-plugin-x86.exe / setup-rtsp-plugin-x64.exe: installs the
// browser plug-in and its codec libraries for the machine.
#include <windows.h>

#include "setup/install_flow.h"

#if defined(_WIN64)
extern const char kKivOwnModuleName[] = "setup-rtsp-plugin-x64.exe";
#else
extern const char kKivOwnModuleName[] = "setup-rtsp-plugin-x86.exe";
#endif

namespace {

// Each outcome in a box of its own: no owner, the system's default caption.
class MessageBoxes : public SetupMessages {
  public:
    void Show(const char* text) override { MessageBoxA(nullptr, text, nullptr, MB_OK); }
};

}  // namespace

int main() {
    MessageBoxes boxes;
    return RunSetup(boxes, SetupPlaces());
}
