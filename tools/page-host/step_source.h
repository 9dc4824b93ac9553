// Step lines from a file or standard input, read on a thread of their own so
// that the main thread keeps pumping window messages while it waits.
#pragma once

#include <windows.h>

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace pagehost {

class StepSource {
  public:
    ~StepSource();
    bool Open(const std::string& path, std::string* error);  // "-" or "": standard input
    // The next line; false at the end. `pump` runs while waiting.
    template <typename Pump>
    bool Next(std::string* line, Pump pump) {
        for (;;) {
            if (Take(line))
                return true;
            if (ended())
                return Take(line);
            pump();
            MsgWaitForMultipleObjects(1, &ready_, FALSE, 50, QS_ALLINPUT);
        }
    }

  private:
    static DWORD WINAPI Reader(void* self);
    bool Take(std::string* line);
    bool ended();

    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    std::mutex mutex_;
    std::deque<std::string> lines_;
    bool ended_ = false;
};

}  // namespace pagehost
