// The test codec libraries record each entry call as a word appended to the
// process environment variable CAMVUE_ODD_LOG ("h264.dec_open ..."). The
// environment outlives the library, so a test can read which calls were made
// even after the binding has unloaded it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace camvue::odd {

constexpr const char* kLogVariable = "CAMVUE_ODD_LOG";

inline void Log(const char* event) {
    char log[4096] = "";
    const DWORD length = GetEnvironmentVariableA(kLogVariable, log, sizeof log);
    if (length >= sizeof log)
        log[0] = '\0';
    const size_t used = std::strlen(log);
    if (used + std::strlen(event) + 2 >= sizeof log)
        return;
    if (used != 0)
        std::strcat(log, " ");
    std::strcat(log, event);
    SetEnvironmentVariableA(kLogVariable, log);
}

// An address that faults when written, kept where the compiler cannot see
// its value.
inline volatile int* FaultAddress() {
    static volatile uintptr_t address = 16;
    return reinterpret_cast<volatile int*>(address);
}

inline void AccessViolation() {
    *FaultAddress() = 1;
}

inline int DivideByZero(int value) {
    static volatile int zero = 0;
    return value / zero;
}

}  // namespace camvue::odd
