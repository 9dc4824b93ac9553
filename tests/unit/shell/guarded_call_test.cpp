// Guarded calls: processor exceptions inside end the call and nothing else;
// everything else (other threads, software exceptions, C++ exceptions,
// faults outside a guarded call) is left to the usual handlers; the caller's
// registers and floating-point state survive a fault.
#include "npcamvue/shell/guarded_call.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

extern "C" void camvue_test_wreck_and_fault(void*);

// Overwrites every register the caller expects to survive, leaves the
// floating-point unit in a mess (other rounding modes, a full x87 stack, the
// direction flag set) and then writes to address 16.
#if defined(__x86_64__)
__asm__(
    "    .text\n"
    "    .globl camvue_test_wreck_and_fault\n"
    "camvue_test_wreck_and_fault:\n"
    "    movabsq $0x5A5A5A5A5A5A5A5A, %rax\n"
    "    movq %rax, %rbx\n"
    "    movq %rax, %rbp\n"
    "    movq %rax, %rsi\n"
    "    movq %rax, %rdi\n"
    "    movq %rax, %r12\n"
    "    movq %rax, %r13\n"
    "    movq %rax, %r14\n"
    "    movq %rax, %r15\n"
    "    movq %rax, %xmm6\n"
    "    movq %rax, %xmm7\n"
    "    movq %rax, %xmm8\n"
    "    movq %rax, %xmm9\n"
    "    movq %rax, %xmm10\n"
    "    movq %rax, %xmm11\n"
    "    movq %rax, %xmm12\n"
    "    movq %rax, %xmm13\n"
    "    movq %rax, %xmm14\n"
    "    movq %rax, %xmm15\n"
    "    subq $8, %rsp\n"
    "    movl $0x7F80, (%rsp)\n"  // MXCSR: round toward zero
    "    ldmxcsr (%rsp)\n"
    "    movw $0x0C7F, (%rsp)\n"  // x87: round toward zero
    "    fldcw (%rsp)\n"
    "    fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n"
    "    std\n"
    "    movq $16, %rax\n"
    "    movl $1, (%rax)\n"
    "    ud2\n");
#elif defined(__i386__)
__asm__(
    "    .text\n"
    "    .globl _camvue_test_wreck_and_fault\n"
    "_camvue_test_wreck_and_fault:\n"
    "    movl $0x5A5A5A5A, %eax\n"
    "    movl %eax, %ebx\n"
    "    movl %eax, %ebp\n"
    "    movl %eax, %esi\n"
    "    movl %eax, %edi\n"
    "    subl $4, %esp\n"
    "    movw $0x0C7F, (%esp)\n"
    "    fldcw (%esp)\n"
    "    fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n fld1\n"
    "    std\n"
    "    movl $16, %eax\n"
    "    movl $1, (%eax)\n"
    "    ud2\n");
#endif

namespace camvue {
namespace {

volatile uintptr_t g_badAddress = 16;
volatile int g_zero = 0;
volatile bool g_recurse = true;

void WriteToBadAddress() {
    *reinterpret_cast<volatile int*>(g_badAddress) = 1;
}

// A software exception the tests' own handler continues (see
// SoftwareExceptionHandler); no handler of the system knows it.
constexpr DWORD kTestException = 0xE0C0FFEE;
std::atomic<int> g_testExceptionsSeen{0};
std::atomic<int> g_accessViolationsSeen{0};

LONG CALLBACK SoftwareExceptionHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == kTestException) {
        ++g_testExceptionsSeen;
        return EXCEPTION_CONTINUE_EXECUTION;  // RaiseException returns
    }
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters == 1 &&
        record->ExceptionInformation[0] == kTestException) {
        ++g_accessViolationsSeen;  // raised in software by the tests
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Registered last in line: it sees only what the guard passed on.
class LastHandler {
  public:
    LastHandler() : handle_(AddVectoredExceptionHandler(0, &SoftwareExceptionHandler)) {}
    ~LastHandler() { RemoveVectoredExceptionHandler(handle_); }

  private:
    void* handle_;
};

void RaiseSoftwareAccessViolation() {
    const ULONG_PTR marker = kTestException;
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 1, &marker);
}

TEST(GuardedCall, CompletedCallReportsNoFault) {
    int ran = 0;
    GuardedFault fault{1, &ran};
    EXPECT_TRUE(CallGuarded([&] { ran = 42; }, &fault));
    EXPECT_EQ(ran, 42);
    EXPECT_EQ(fault.code, 0u);
    EXPECT_EQ(fault.address, nullptr);
    EXPECT_EQ(LastGuardedFault().code, 0u);
    EXPECT_FALSE(InsideGuardedCall());
}

TEST(GuardedCall, ProcessorExceptionsEndTheCallAndTheNextCallWorks) {
    struct Case {
        const char* name;
        void (*body)(void*);
        DWORD code;
    };
    const Case cases[] = {
        {"write to a bad address", [](void*) { WriteToBadAddress(); }, EXCEPTION_ACCESS_VIOLATION},
        {"read of a bad address",
         [](void*) {
             const int value = *reinterpret_cast<volatile int*>(g_badAddress);
             g_zero = value;
         },
         EXCEPTION_ACCESS_VIOLATION},
        {"integer division by zero", [](void*) { g_zero = 7 / g_zero; },
         EXCEPTION_INT_DIVIDE_BY_ZERO},
        {"illegal instruction", [](void*) { __builtin_trap(); }, EXCEPTION_ILLEGAL_INSTRUCTION},
        {"breakpoint", [](void*) { __asm__ volatile("int3"); }, EXCEPTION_BREAKPOINT},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 50; ++round) {
            int after = 0;
            GuardedFault fault;
            ASSERT_FALSE(CallGuarded(c.body, nullptr, &fault)) << c.name;
            EXPECT_EQ(fault.code, c.code) << c.name;
            EXPECT_NE(fault.address, nullptr) << c.name;
            EXPECT_EQ(LastGuardedFault().code, c.code) << c.name;
            ASSERT_TRUE(CallGuarded([&] { after = round + 1; })) << c.name;
            EXPECT_EQ(after, round + 1);
            EXPECT_EQ(LastGuardedFault().code, 0u);
        }
    }
}

// A result written before the fault stays written; nothing after it runs.
TEST(GuardedCall, TheCallStopsAtTheFault) {
    volatile int before = 0;  // the compiler may not move these stores past the fault
    volatile int after = 0;
    EXPECT_FALSE(CallGuarded([&] {
        before = 1;
        WriteToBadAddress();
        after = 1;
    }));
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 0);
}

#if defined(__x86_64__) || defined(__i386__)
// Values the caller keeps in callee-saved registers (or on its stack) across
// the call, and its floating-point state, are as they were before the fault.
TEST(GuardedCall, FaultLeavesTheCallersRegistersAndFloatingPointState) {
#if defined(__x86_64__)
    const unsigned mxcsr = _mm_getcsr();
#endif
    unsigned short controlWord = 0;
    __asm__ volatile("fnstcw %0" : "=m"(controlWord));

    static volatile uint64_t seed = 12345;
    const uint64_t s = seed;
    uint64_t v[10];
    double d[10];
    for (int i = 0; i < 10; ++i) {
        v[i] = s * static_cast<uint64_t>(2 * i + 3) + static_cast<uint64_t>(i);
        d[i] = static_cast<double>(s) / static_cast<double>(i + 2);
    }
    // Kept in locals the optimizer places in registers across the calls.
    uint64_t a = v[0], b = v[1], c = v[2], e = v[3], f = v[4], g = v[5], h = v[6], k = v[7],
             m = v[8], n = v[9];
    double x0 = d[0], x1 = d[1], x2 = d[2], x3 = d[3], x4 = d[4], x5 = d[5], x6 = d[6], x7 = d[7],
           x8 = d[8], x9 = d[9];
    for (int round = 0; round < 3; ++round) {
        GuardedFault fault;
        ASSERT_FALSE(CallGuarded(&camvue_test_wreck_and_fault, nullptr, &fault));
        EXPECT_EQ(fault.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
        a += 1, b += 2, c += 3, e += 4, f += 5, g += 6, h += 7, k += 8, m += 9, n += 10;
        x0 += 1, x1 += 2, x2 += 3, x3 += 4, x4 += 5, x5 += 6, x6 += 7, x7 += 8, x8 += 9, x9 += 10;
    }
    const uint64_t ints[10] = {a, b, c, e, f, g, h, k, m, n};
    const double doubles[10] = {x0, x1, x2, x3, x4, x5, x6, x7, x8, x9};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(ints[i], v[i] + 3u * static_cast<uint64_t>(i + 1)) << "integer " << i;
        EXPECT_EQ(doubles[i], d[i] + 3.0 * (i + 1)) << "double " << i;
    }

#if defined(__x86_64__)
    // Control bits only: the status flags are sticky and may have been set
    // by the computations above.
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, mxcsr & ~0x3Fu);
    uint64_t flags = 0;
    __asm__ volatile("pushfq\n popq %0" : "=r"(flags));
#else
    uint32_t flags = 0;
    __asm__ volatile("pushfl\n popl %0" : "=r"(flags));
#endif
    EXPECT_EQ(flags & 0x400u, 0u) << "direction flag still set";
    unsigned short controlWordAfter = 0;
    __asm__ volatile("fnstcw %0" : "=m"(controlWordAfter));
    EXPECT_EQ(controlWordAfter, controlWord);
    // With the x87 stack still full of the faulting code's values this
    // would give NaN.
    volatile long double three = 3.0L;
    const long double nine = three * three;
    EXPECT_EQ(nine, 9.0L);
}
#endif

TEST(GuardedCall, NestedCallsCatchTheirOwnFaults) {
    bool innerCompleted = true;
    volatile int afterInner = 0;  // stores the compiler may not move past the fault
    GuardedFault outerFault;
    const bool outerCompleted = CallGuarded(
        [&] {
            innerCompleted = CallGuarded([] { WriteToBadAddress(); });
            afterInner = 1;
            g_zero = 7 / g_zero;  // now the outer call faults
            afterInner = 2;
        },
        &outerFault);
    EXPECT_FALSE(innerCompleted);
    EXPECT_EQ(afterInner, 1);
    EXPECT_FALSE(outerCompleted);
    EXPECT_EQ(outerFault.code, static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
    // And the chain is empty again: a completed outer call around a
    // completed inner one.
    EXPECT_TRUE(CallGuarded([] { EXPECT_TRUE(CallGuarded([] {})); }));
}

TEST(GuardedCall, CppExceptionsInsideTheCallAreNotTakenForFaults) {
    int caught = 0;
    EXPECT_TRUE(CallGuarded([&] {
        for (int i = 0; i < 20; ++i) {
            try {
                throw std::runtime_error("inside");
            } catch (const std::exception&) {
                ++caught;
            }
        }
    }));
    EXPECT_EQ(caught, 20);
    EXPECT_EQ(LastGuardedFault().code, 0u);
}

// A C++ exception leaving the body goes through the guard to the caller,
// and the guard is not left armed behind it: a software access violation
// raised afterwards, outside any guarded call, is not taken for ours.
TEST(GuardedCall, CppExceptionLeavingTheBodyReachesTheCaller) {
    LastHandler handler;
    for (int i = 0; i < 3; ++i) {
        bool caught = false;
        bool inside = false;
        try {
            CallGuarded([&] {
                inside = InsideGuardedCall();
                throw std::runtime_error("out of the body");
            });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "out of the body";
        }
        EXPECT_TRUE(caught);
        EXPECT_TRUE(inside);
        EXPECT_FALSE(InsideGuardedCall()) << "the guard stayed armed behind the exception";
    }
    const int before = g_accessViolationsSeen.load();
    RaiseSoftwareAccessViolation();
    EXPECT_EQ(g_accessViolationsSeen.load(), before + 1) << "a stale guard took it";
    EXPECT_FALSE(CallGuarded([] { WriteToBadAddress(); }));
}

TEST(GuardedCall, SoftwareExceptionsInsideTheCallGoToTheirHandlers) {
    LastHandler handler;
    const int before = g_testExceptionsSeen.load();
    int after = 0;
    EXPECT_TRUE(CallGuarded([&] {
        RaiseException(kTestException, 0, 0, nullptr);
        after = 1;
    }));
    EXPECT_EQ(after, 1);
    EXPECT_EQ(g_testExceptionsSeen.load(), before + 1);
}

// Outside a guarded call the guard takes nothing, even while another thread
// sits inside one.
TEST(GuardedCall, ExceptionsOutsideAGuardedCallAreNotTaken) {
    LastHandler handler;
    ASSERT_TRUE(CallGuarded([] {}));  // the guard's handler is installed
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool otherCompleted = false;
    std::thread other([&] {
        otherCompleted = CallGuarded([&] {
            SetEvent(inside);
            WaitForSingleObject(release, 10000);
        });
    });
    ASSERT_EQ(WaitForSingleObject(inside, 10000), WAIT_OBJECT_0);
    const int before = g_accessViolationsSeen.load();
    RaiseSoftwareAccessViolation();
    EXPECT_EQ(g_accessViolationsSeen.load(), before + 1) << "swallowed outside a guarded call";
    SetEvent(release);
    other.join();
    EXPECT_TRUE(otherCompleted) << "the other thread's call was ended by our exception";
    CloseHandle(inside);
    CloseHandle(release);
}

#if GTEST_HAS_DEATH_TEST
TEST(GuardedCallDeathTest, FaultAfterAGuardedCallStillEndsTheProcess) {
    EXPECT_DEATH(
        {
            CallGuarded([] { WriteToBadAddress(); });
            CallGuarded([] {});
            WriteToBadAddress();
        },
        "");
}
#endif

TEST(GuardedCall, ThreadsFaultingAtOnceEachCatchTheirOwn) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> caught{0};
    std::atomic<int> completed{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                GuardedFault fault;
                const bool faulting = ((i + t) % 2) == 0;
                const bool done = faulting ? CallGuarded([] { WriteToBadAddress(); }, &fault)
                                           : CallGuarded([] { g_zero = 0; }, &fault);
                if (done == faulting)
                    ++wrong;
                else if (done)
                    ++completed;
                else if (fault.code == EXCEPTION_ACCESS_VIOLATION)
                    ++caught;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(caught.load(), kThreads * kRounds / 2);
    EXPECT_EQ(completed.load(), kThreads * kRounds / 2);
}

// Deep recursion in foreign code: caught, again and again on one thread
// (the stack's guard page is put back each time).
int Recurse(int depth) {
    volatile char stack[512];
    stack[0] = static_cast<char>(depth);
    if (g_recurse)
        return Recurse(depth + 1) + stack[0];
    return 0;
}

TEST(GuardedCall, StackOverflowIsCaughtEveryTime) {
    std::vector<DWORD> codes;
    int after = 0;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            GuardedFault fault;
            if (!CallGuarded([] { g_zero = Recurse(0); }, &fault))
                codes.push_back(fault.code);
        }
        after = 1;
    });
    worker.join();
    EXPECT_EQ(codes, std::vector<DWORD>(3, EXCEPTION_STACK_OVERFLOW));
    EXPECT_EQ(after, 1);
}

TEST(GuardedCall, OnlyProcessorExceptionsCount) {
    for (DWORD code :
         {EXCEPTION_ACCESS_VIOLATION, EXCEPTION_INT_DIVIDE_BY_ZERO, EXCEPTION_ILLEGAL_INSTRUCTION,
          EXCEPTION_STACK_OVERFLOW, EXCEPTION_FLT_INVALID_OPERATION, EXCEPTION_PRIV_INSTRUCTION})
        EXPECT_TRUE(IsProcessorException(code)) << std::hex << code;
    // C++ exceptions of GCC (x64 SEH) and MSVC, debugger output, thread
    // naming, guard pages, single steps and ordinary software codes.
    for (DWORD code : {0x20474343ul, 0x21474343ul, 0x22474343ul, 0xE06D7363ul, 0x40010006ul,
                       0x4001000Aul, 0x406D1388ul, 0x80000001ul, 0x80000004ul, kTestException})
        EXPECT_FALSE(IsProcessorException(code)) << std::hex << code;
}

}  // namespace
}  // namespace camvue
