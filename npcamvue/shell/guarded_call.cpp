// How the guard works.
//
// CallGuarded pushes a GuardFrame on a per-thread chain (a Win32 TLS slot)
// and calls camvue_guard_call(frame, fn, arg), a thunk in assembly below.
// The thunk saves every callee-saved register of the platform ABI on its own
// stack, records its stack pointer in frame->sp (the recovery point), and
// calls fn(arg); when fn returns, the thunk returns 0.
//
// A vectored exception handler, registered first in line once per process,
// sees every exception of every thread before any frame-based handler. It
// acts only when the faulting thread has an armed GuardFrame and the code is
// a processor exception; then it rewrites the faulting thread's context:
// stack pointer := frame->sp, instruction pointer := camvue_guard_resume, and
// returns EXCEPTION_CONTINUE_EXECUTION. The system resumes the thread there,
// inside the thunk with the thunk's own stack frame back in place; the resume
// path resets the floating-point state (x87 stack emptied, x87 control word
// and, on x64, MXCSR as they were at the call; direction flag cleared),
// restores the saved registers in the thunk's normal epilogue and returns 1.
// To the compiler camvue_guard_call is an ordinary function that returns
// once, so no setjmp/longjmp (and no unwinding through foreign frames, which
// x64 SEH unwinding does not allow safely) is involved.
//
// x64: callee-saved are rbx, rbp, rdi, rsi, r12-r15, xmm6-xmm15, MXCSR's
// control bits and the x87 control word. The thunk has unwind data
// (.seh_* directives on x64, DWARF CFI on x86), so a C++ exception that
// leaves fn unwinds through it to the caller.
// x86: callee-saved are ebx, esi, edi, ebp and the x87 control word. The
// thread's SEH registration chain (fs:[0]) is saved as well: the faulting
// code may have linked records on the stack we abandon, and the chain must
// not point there afterwards. MXCSR is left alone on x86 (an i686 processor
// may have no SSE).
#include "npcamvue/shell/guarded_call.h"

#include <malloc.h>
#include <windows.h>

#include <cstdint>

namespace camvue {
namespace {

struct GuardFrame {
    uintptr_t sp;          // offset 0, written by the thunk: the recovery point
    GuardFrame* previous;  // the enclosing guarded call of this thread, if any
    bool fired;            // the handler redirected this call already
    DWORD code;
    const void* address;
};
static_assert(offsetof(GuardFrame, sp) == 0, "the thunk stores the recovery point at offset 0");

}  // namespace
}  // namespace camvue

extern "C" {
// Returns 0 when fn(arg) returned, 1 when the handler resumed at
// camvue_guard_resume (the handler's target, which sits inside it). `frame` is a
// GuardFrame.
int camvue_guard_call(void* frame, void (*fn)(void*), void* arg);
void camvue_guard_resume();
}

#if defined(__x86_64__)
// Stack of the thunk below the eight pushed registers (rsp is 16-byte
// aligned there): 0..31 home space for fn, 32..191 xmm6-xmm15, 192 MXCSR,
// 196 x87 control word, 200 bytes in all.
__asm__(
    "    .text\n"
    "    .p2align 4\n"
    "    .globl camvue_guard_call\n"
    "    .def camvue_guard_call; .scl 2; .type 32; .endef\n"
    "    .seh_proc camvue_guard_call\n"
    "camvue_guard_call:\n"
    "    pushq %rbp\n"
    "    .seh_pushreg %rbp\n"
    "    pushq %rbx\n"
    "    .seh_pushreg %rbx\n"
    "    pushq %rdi\n"
    "    .seh_pushreg %rdi\n"
    "    pushq %rsi\n"
    "    .seh_pushreg %rsi\n"
    "    pushq %r12\n"
    "    .seh_pushreg %r12\n"
    "    pushq %r13\n"
    "    .seh_pushreg %r13\n"
    "    pushq %r14\n"
    "    .seh_pushreg %r14\n"
    "    pushq %r15\n"
    "    .seh_pushreg %r15\n"
    "    subq $200, %rsp\n"
    "    .seh_stackalloc 200\n"
    "    movaps %xmm6, 32(%rsp)\n"
    "    .seh_savexmm %xmm6, 32\n"
    "    movaps %xmm7, 48(%rsp)\n"
    "    .seh_savexmm %xmm7, 48\n"
    "    movaps %xmm8, 64(%rsp)\n"
    "    .seh_savexmm %xmm8, 64\n"
    "    movaps %xmm9, 80(%rsp)\n"
    "    .seh_savexmm %xmm9, 80\n"
    "    movaps %xmm10, 96(%rsp)\n"
    "    .seh_savexmm %xmm10, 96\n"
    "    movaps %xmm11, 112(%rsp)\n"
    "    .seh_savexmm %xmm11, 112\n"
    "    movaps %xmm12, 128(%rsp)\n"
    "    .seh_savexmm %xmm12, 128\n"
    "    movaps %xmm13, 144(%rsp)\n"
    "    .seh_savexmm %xmm13, 144\n"
    "    movaps %xmm14, 160(%rsp)\n"
    "    .seh_savexmm %xmm14, 160\n"
    "    movaps %xmm15, 176(%rsp)\n"
    "    .seh_savexmm %xmm15, 176\n"
    "    .seh_endprologue\n"
    "    stmxcsr 192(%rsp)\n"
    "    fnstcw 196(%rsp)\n"
    "    movq %rsp, (%rcx)\n"  // frame->sp: armed from here on
    "    movq %rdx, %rax\n"
    "    movq %r8, %rcx\n"
    "    callq *%rax\n"
    "    xorl %eax, %eax\n"
    ".Lcamvue_guard_leave:\n"
    "    movaps 32(%rsp), %xmm6\n"
    "    movaps 48(%rsp), %xmm7\n"
    "    movaps 64(%rsp), %xmm8\n"
    "    movaps 80(%rsp), %xmm9\n"
    "    movaps 96(%rsp), %xmm10\n"
    "    movaps 112(%rsp), %xmm11\n"
    "    movaps 128(%rsp), %xmm12\n"
    "    movaps 144(%rsp), %xmm13\n"
    "    movaps 160(%rsp), %xmm14\n"
    "    movaps 176(%rsp), %xmm15\n"
    "    addq $200, %rsp\n"
    "    popq %r15\n"
    "    popq %r14\n"
    "    popq %r13\n"
    "    popq %r12\n"
    "    popq %rsi\n"
    "    popq %rdi\n"
    "    popq %rbx\n"
    "    popq %rbp\n"
    "    retq\n"
    // Entered from the handler with rsp = frame->sp.
    "    .globl camvue_guard_resume\n"
    "camvue_guard_resume:\n"
    "    fninit\n"
    "    fldcw 196(%rsp)\n"
    "    ldmxcsr 192(%rsp)\n"
    "    cld\n"
    "    movl $1, %eax\n"
    "    jmp .Lcamvue_guard_leave\n"
    "    .seh_endproc\n");
#elif defined(__i386__)
// cdecl: 8(%ebp) frame, 12(%ebp) fn, 16(%ebp) arg. The CFI directives
// describe the frame as it is at the call of fn (ebp-based), which is all a
// C++ exception leaving fn needs to unwind through. Below the four pushed
// registers and the saved fs:[0] (at -16(%ebp)) the stack is aligned to 16
// for fn: 0 fn's argument, 4 ebp, 8 x87 control word; esp there is the
// recovery point, from which the resume path finds ebp again.
__asm__(
    "    .text\n"
    "    .p2align 4\n"
    "    .globl _camvue_guard_call\n"
    "    .def _camvue_guard_call; .scl 2; .type 32; .endef\n"
    "_camvue_guard_call:\n"
    "    .cfi_startproc\n"
    "    pushl %ebp\n"
    "    .cfi_def_cfa_offset 8\n"
    "    .cfi_offset %ebp, -8\n"
    "    movl %esp, %ebp\n"
    "    .cfi_def_cfa_register %ebp\n"
    "    pushl %ebx\n"
    "    .cfi_offset %ebx, -12\n"
    "    pushl %esi\n"
    "    .cfi_offset %esi, -16\n"
    "    pushl %edi\n"
    "    .cfi_offset %edi, -20\n"
    "    pushl %fs:0\n"
    "    movl 8(%ebp), %eax\n"
    "    movl 12(%ebp), %ecx\n"
    "    movl 16(%ebp), %edx\n"
    "    andl $-16, %esp\n"
    "    subl $16, %esp\n"
    "    movl %ebp, 4(%esp)\n"
    "    fnstcw 8(%esp)\n"
    "    movl %esp, (%eax)\n"  // frame->sp: armed from here on
    "    movl %edx, (%esp)\n"
    "    call *%ecx\n"
    "    xorl %eax, %eax\n"
    ".Lcamvue_guard_leave:\n"
    "    leal -16(%ebp), %esp\n"
    "    popl %fs:0\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n"
    // Entered from the handler with esp = frame->sp.
    "    .globl _camvue_guard_resume\n"
    "_camvue_guard_resume:\n"
    "    movl 4(%esp), %ebp\n"
    "    fninit\n"
    "    fldcw 8(%esp)\n"
    "    cld\n"
    "    movl $1, %eax\n"
    "    jmp .Lcamvue_guard_leave\n"
    "    .cfi_endproc\n");
#else
#error "guarded calls are implemented for x86 and x64 only"
#endif

namespace camvue {
namespace {

DWORD g_slot = TLS_OUT_OF_INDEXES;  // this thread's innermost GuardFrame

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* info) {
    // The TLS API, not thread_local: this runs on any thread of the process,
    // possibly one that never made a guarded call, and mingw's emulated TLS
    // may allocate on first use, which must not happen inside a fault.
    // TlsGetValue clears the last error; the interrupted code keeps its own.
    const DWORD lastError = GetLastError();
    auto* frame = static_cast<GuardFrame*>(TlsGetValue(g_slot));
    SetLastError(lastError);
    if (frame == nullptr || frame->sp == 0 || frame->fired)
        return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (!IsProcessorException(record->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    frame->fired = true;  // a fault on the way back is not caught again
    frame->code = record->ExceptionCode;
    frame->address = record->ExceptionAddress;
    CONTEXT* context = info->ContextRecord;
#if defined(__x86_64__)
    context->Rsp = frame->sp;
    context->Rip = reinterpret_cast<DWORD64>(&camvue_guard_resume);
#else
    context->Esp = frame->sp;
    context->Eip = reinterpret_cast<DWORD>(&camvue_guard_resume);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Registered on the first guarded call, removed when the module is unloaded
// (static destruction), so no handler is left pointing into freed code.
class Registration {
  public:
    Registration() {
        g_slot = TlsAlloc();
        if (g_slot != TLS_OUT_OF_INDEXES)
            handler_ = AddVectoredExceptionHandler(1, &GuardHandler);
    }
    ~Registration() {
        if (handler_ != nullptr)
            RemoveVectoredExceptionHandler(handler_);
        handler_ = nullptr;  // a guarded call after this one is refused
        if (g_slot != TLS_OUT_OF_INDEXES)
            TlsFree(g_slot);
        g_slot = TLS_OUT_OF_INDEXES;
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    bool ready() const { return handler_ != nullptr; }

  private:
    void* handler_ = nullptr;
};

thread_local GuardedFault t_lastFault;

}  // namespace

bool IsProcessorException(unsigned long code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
        case 0xC00002B4:  // STATUS_FLOAT_MULTIPLE_FAULTS
        case 0xC00002B5:  // STATUS_FLOAT_MULTIPLE_TRAPS
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_BREAKPOINT:
            return true;
        default:
            return false;
    }
}

namespace {

// This thread's innermost GuardFrame for as long as the scope lasts, also
// when a C++ exception leaves the guarded body (the thunk has unwind data on
// both architectures, so the exception passes through it to the caller).
class FrameScope {
  public:
    explicit FrameScope(GuardFrame* frame) : frame_(frame) {
        frame_->previous = static_cast<GuardFrame*>(TlsGetValue(g_slot));
        TlsSetValue(g_slot, frame_);
    }
    ~FrameScope() { TlsSetValue(g_slot, frame_->previous); }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

  private:
    GuardFrame* frame_;
};

}  // namespace

bool CallGuarded(void (*fn)(void*), void* arg, GuardedFault* fault) {
    static const Registration registration;
    GuardedFault outcome;
    bool completed = false;
    if (registration.ready()) {
        GuardFrame frame{};
        {
            FrameScope scope(&frame);
            completed = camvue_guard_call(&frame, fn, arg) == 0;
        }
        if (!completed) {
            outcome.code = frame.code;
            outcome.address = frame.address;
        }
        // A stack overflow used up the stack's guard page; put it back now
        // that the stack is unwound, so that the next one is caught too.
        if (outcome.code == EXCEPTION_STACK_OVERFLOW)
            _resetstkoflw();
    }
    t_lastFault = outcome;
    if (fault != nullptr)
        *fault = outcome;
    return completed;
}

GuardedFault LastGuardedFault() {
    return t_lastFault;
}

bool InsideGuardedCall() {
    return g_slot != TLS_OUT_OF_INDEXES && TlsGetValue(g_slot) != nullptr;
}

}  // namespace camvue
