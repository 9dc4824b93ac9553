#include "tools/page-host/step_source.h"

namespace pagehost {

StepSource::~StepSource() {
    // A reader blocked on standard input cannot be woken; the process ends
    // with it. One reading a file has finished or soon will.
    if (thread_ != nullptr) {
        if (ownsFile_)
            WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (ownsFile_ && file_ != nullptr)
        std::fclose(file_);
    if (ready_ != nullptr)
        CloseHandle(ready_);
}

bool StepSource::Open(const std::string& path, std::string* error) {
    if (path.empty() || path == "-") {
        file_ = stdin;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        ownsFile_ = true;
        if (file_ == nullptr) {
            *error = "cannot read " + path;
            return false;
        }
    }
    ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Reader, this, 0, nullptr);
    if (ready_ == nullptr || thread_ == nullptr) {
        *error = "cannot start the step reader";
        return false;
    }
    return true;
}

DWORD WINAPI StepSource::Reader(void* arg) {
    auto* self = static_cast<StepSource*>(arg);
    std::string line;
    int c;
    while ((c = std::fgetc(self->file_)) != EOF) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::lock_guard<std::mutex> hold(self->mutex_);
            self->lines_.push_back(line);
            line.clear();
            SetEvent(self->ready_);
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    std::lock_guard<std::mutex> hold(self->mutex_);
    if (!line.empty())
        self->lines_.push_back(line);
    self->ended_ = true;
    SetEvent(self->ready_);
    return 0;
}

bool StepSource::Take(std::string* line) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (lines_.empty())
        return false;
    *line = lines_.front();
    lines_.pop_front();
    return true;
}

bool StepSource::ended() {
    std::lock_guard<std::mutex> hold(mutex_);
    return ended_;
}

}  // namespace pagehost
