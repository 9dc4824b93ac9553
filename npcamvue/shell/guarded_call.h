// Guarded calls into foreign code: a processor exception (access violation,
// illegal instruction, division by zero, stack overflow, ...) raised while
// the call runs ends the call instead of the process, as a __try/__except
// around it would. GCC has no __try, so the guard is built from a vectored
// exception handler and a small assembly thunk (guarded_call.cpp).
//
// Only exceptions of the calling thread, raised while its guarded call runs,
// are taken; software exceptions (C++ throws, debugger notifications,
// RaiseException with other codes) pass on to the usual handlers. The
// abandoned frames of the faulting code are not unwound: its destructors and
// __finally blocks do not run, and locks it held stay held.
//
// The compiler does not know that an instruction may leave the call: a body
// that faults in its own code (rather than in a foreign function it calls)
// must not count on ordinary stores made just before the fault (use
// volatile).
#pragma once

#include <type_traits>

namespace camvue {

struct GuardedFault {
    unsigned long code = 0;         // the exception code, 0 when the call completed
    const void* address = nullptr;  // where it was raised
};

// Runs fn(arg). True when it returned normally; false when a processor
// exception ended it (then `*fault`, if given, tells which) or the guard
// could not be set up (code 0).
bool CallGuarded(void (*fn)(void*), void* arg, GuardedFault* fault = nullptr);

// The same for any callable: CallGuarded([&] { result = Foreign(); }).
template <typename Body>
bool CallGuarded(Body&& body, GuardedFault* fault = nullptr) {
    using Plain = std::remove_reference_t<Body>;
    return CallGuarded([](void* p) { (*static_cast<Plain*>(p))(); },
                       const_cast<void*>(static_cast<const void*>(&body)), fault);
}

// The outcome of this thread's last guarded call (code 0: it completed).
GuardedFault LastGuardedFault();

// Whether the calling thread is inside a guarded call.
bool InsideGuardedCall();

// Whether `code` is one of the processor exceptions a guarded call catches.
bool IsProcessorException(unsigned long code);

}  // namespace camvue
