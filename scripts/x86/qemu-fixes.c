/*
 * Preload library for 32-bit wine under qemu-i386 user-mode emulation (qemu
 * 7.2). It works around four emulator defects that wine trips over; each block
 * below names the defect it answers. Built by scripts/x86/setup.sh as an i386
 * shared object against the i386 tree's C library and loaded through
 * LD_PRELOAD inside that tree only.
 *
 * 1. MAP_FIXED_NOREPLACE is taken as a plain hint: the mapping lands elsewhere
 *    instead of failing. wine's address-space reservation then splinters into
 *    tens of thousands of mappings. mmap() emulates the flag.
 * 2. trapno in the signal frame is always -1, so every fault looks like an
 *    unknown trap. The fault signals' handlers are wrapped and trapno is
 *    rebuilt from the signal number and si_code.
 * 3. The descriptor table is one per process, so the TLS descriptor that
 *    set_thread_area / CLONE_SETTLS writes is shared by every thread. wine's
 *    own set_thread_area (entry -1) is made to fail, so it keeps %fs in
 *    per-thread LDT entries, and every thread gets its own LDT entry for the
 *    C library's %gs (the main thread at load, the others in pthread_create).
 * 4. The direction flag is not cleared on signal delivery. The handler
 *    wrapper clears it first thing.
 */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/ucontext.h>

#define EXPORT __attribute__((visibility("default")))
#define HIDDEN __attribute__((visibility("hidden")))

/* ------------------------------------------------------------------------- */
/* Raw system calls: this library interposes syscall() itself, and the signal */
/* path must not touch the C library's thread state.                         */

static long raw_syscall3(long nr, long a, long b, long c)
{
    long ret;
    __asm__ volatile("xchgl %%ebx, %%edi\n\t"
                     "int $0x80\n\t"
                     "xchgl %%ebx, %%edi"
                     : "=a"(ret)
                     : "0"(nr), "D"(a), "c"(b), "d"(c)
                     : "memory");
    return ret;
}

static void *next_symbol(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

/* ------------------------------------------------------------------------- */
/* 1. MAP_FIXED_NOREPLACE                                                     */

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void *(*mmap_fn)(void *, size_t, int, int, int, off_t);
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);

static void *check_noreplace(void *want, size_t len, int flags, void *got)
{
    if ((flags & MAP_FIXED_NOREPLACE) && got != MAP_FAILED && got != want) {
        munmap(got, len);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return got;
}

EXPORT void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    static mmap_fn real;
    if (!real) real = (mmap_fn)next_symbol("mmap");
    return check_noreplace(addr, len, flags, real(addr, len, prot, flags, fd, off));
}

EXPORT void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    static mmap64_fn real;
    if (!real) real = (mmap64_fn)next_symbol("mmap64");
    return check_noreplace(addr, len, flags, real(addr, len, prot, flags, fd, off));
}

/* ------------------------------------------------------------------------- */
/* 2 and 4. Fault signal handlers                                             */

typedef void (*action_fn)(int, siginfo_t *, void *);

/* The handler each fault signal really has, and whether it takes siginfo. */
static action_fn wrapped[_NSIG];
static int wrapped_siginfo[_NSIG];

static int is_fault_signal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

/* x86 exception vector for a fault signal, as the kernel would have left it. */
static int trap_number(int sig, int code)
{
    switch (sig) {
    case SIGSEGV:
        return code == SI_KERNEL ? 13 /* #GP */ : 14 /* #PF */;
    case SIGBUS:
        return code == BUS_ADRALN ? 17 /* #AC */ : 14;
    case SIGILL:
        return 6; /* #UD */
    case SIGFPE:
        if (code == FPE_INTDIV) return 0;  /* #DE */
        if (code == FPE_INTOVF) return 4;  /* #OF */
        return 16;                         /* #MF */
    case SIGTRAP:
        return code == TRAP_TRACE ? 1 /* #DB */ : 3 /* #BP */;
    }
    return -1;
}

HIDDEN void fault_fixup(int sig, siginfo_t *info, void *context)
{
    ucontext_t *uc = (ucontext_t *)context;
    if (uc && uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_number(sig, info ? info->si_code : 0);
    action_fn handler = wrapped[sig];
    if (!handler) return;
    if (wrapped_siginfo[sig])
        handler(sig, info, context);
    else
        ((void (*)(int))(void *)handler)(sig);
}

/* The entry the kernel (qemu) calls: clear DF before any compiled code runs. */
void fault_entry(int, siginfo_t *, void *);
__asm__(".text\n"
        ".type fault_entry, @function\n"
        "fault_entry:\n\t"
        "cld\n\t"
        "jmp fault_fixup\n"
        ".size fault_entry, .-fault_entry\n");

typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

EXPORT int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    static sigaction_fn real;
    if (!real) real = (sigaction_fn)next_symbol("sigaction");
    if (sig <= 0 || sig >= _NSIG || !is_fault_signal(sig)) return real(sig, act, old);

    struct sigaction mine;
    const struct sigaction *give = act;
    int takes_info = 0;
    action_fn handler = 0;
    if (act) {
        takes_info = (act->sa_flags & SA_SIGINFO) != 0;
        handler = takes_info ? act->sa_sigaction : (action_fn)(void *)act->sa_handler;
        if ((void *)handler != (void *)SIG_DFL && (void *)handler != (void *)SIG_IGN) {
            mine = *act;
            mine.sa_flags |= SA_SIGINFO;
            mine.sa_sigaction = fault_entry;
            give = &mine;
        } else {
            handler = 0;
        }
    }
    action_fn before = wrapped[sig];
    int before_info = wrapped_siginfo[sig];
    if (act) {
        /* Store first: a signal may arrive as soon as the kernel has it. */
        wrapped_siginfo[sig] = takes_info;
        __atomic_store_n(&wrapped[sig], handler, __ATOMIC_SEQ_CST);
    }
    int ret = real(sig, give, old);
    if (ret != 0 && act) {
        wrapped_siginfo[sig] = before_info;
        wrapped[sig] = before;
    }
    if (ret == 0 && old && old->sa_sigaction == fault_entry && before) {
        /* Report the handler the caller installed, not the wrapper. */
        if (before_info) {
            old->sa_sigaction = before;
        } else {
            old->sa_handler = (void (*)(int))(void *)before;
            old->sa_flags &= ~SA_SIGINFO;
        }
    }
    return ret;
}

/* ------------------------------------------------------------------------- */
/* 3. Per-thread descriptors                                                  */

enum { kFirstEntry = 1, kLastEntry = 511 }; /* wine keeps out of 0..511 */

static unsigned char entry_used[kLastEntry + 1];
static int entry_lock;
static unsigned short gdt_gs; /* the C library's own %gs selector (GDT) */
static pthread_key_t entry_key;
static int create_lock;

static void spin_lock(int *lock)
{
    while (__atomic_exchange_n(lock, 1, __ATOMIC_ACQUIRE)) sched_yield();
}

static void spin_unlock(int *lock)
{
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

static unsigned short get_gs(void)
{
    unsigned short sel;
    __asm__ volatile("movw %%gs, %0" : "=r"(sel));
    return sel;
}

static void set_gs(unsigned short sel)
{
    __asm__ volatile("movw %0, %%gs" ::"r"(sel) : "memory");
}

/* The thread control block: glibc keeps its own address at %gs:0. */
static unsigned long current_tcb(void)
{
    unsigned long tcb;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(tcb));
    return tcb;
}

static struct user_desc tls_descriptor(unsigned entry, unsigned long base)
{
    struct user_desc d = {0};
    d.entry_number = entry;
    d.base_addr = base;
    d.limit = 0xfffff;
    d.seg_32bit = 1;
    d.limit_in_pages = 1;
    d.useable = 1;
    return d;
}

/* Moves the calling thread's %gs to a fresh LDT entry with the same base.
   Returns the entry, or 0 when none is free (the thread stays on the GDT). */
static int move_gs_to_ldt(void)
{
    int entry = 0;
    spin_lock(&entry_lock);
    for (int i = kFirstEntry; i <= kLastEntry; i++) {
        if (!entry_used[i]) {
            entry_used[i] = 1;
            entry = i;
            break;
        }
    }
    spin_unlock(&entry_lock);
    if (!entry) return 0;
    struct user_desc d = tls_descriptor((unsigned)entry, current_tcb());
    if (raw_syscall3(SYS_modify_ldt, 0x11, (long)&d, sizeof d) != 0) {
        spin_lock(&entry_lock);
        entry_used[entry] = 0;
        spin_unlock(&entry_lock);
        return 0;
    }
    set_gs((unsigned short)((entry << 3) | 7));
    return entry;
}

static void release_entry(void *value)
{
    int entry = (int)(intptr_t)value;
    if (entry < kFirstEntry || entry > kLastEntry) return;
    spin_lock(&entry_lock);
    entry_used[entry] = 0;
    spin_unlock(&entry_lock);
}

struct start_block {
    void *(*fn)(void *);
    void *arg;
    sigset_t mask;
    int moved;
};

static void *thread_start(void *p)
{
    struct start_block *block = (struct start_block *)p;
    int entry = move_gs_to_ldt();
    if (entry) pthread_setspecific(entry_key, (void *)(intptr_t)entry);
    void *(*fn)(void *) = block->fn;
    void *arg = block->arg;
    sigset_t mask = block->mask;
    __atomic_store_n(&block->moved, 1, __ATOMIC_RELEASE);
    pthread_sigmask(SIG_SETMASK, &mask, 0);
    return fn(arg);
}

typedef int (*create_fn)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

EXPORT int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*fn)(void *),
                          void *arg)
{
    static create_fn real;
    if (!real) real = (create_fn)next_symbol("pthread_create");
    if (!gdt_gs) return real(thread, attr, fn, arg);

    struct start_block *block = (struct start_block *)malloc(sizeof *block);
    if (!block) return EAGAIN;
    block->fn = fn;
    block->arg = arg;
    block->moved = 0;

    /* No signal may reload %gs while it points at the shared descriptor; the
       new thread starts with everything blocked and restores the mask once
       it has its own entry. */
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &block->mask);
    spin_lock(&create_lock);

    /* The C library gives the new thread the descriptor entry of the
       caller's %gs: run on the GDT entry (pointed at our own block first)
       for the clone, then back on our LDT entry. */
    unsigned short own = get_gs();
    struct user_desc d = tls_descriptor(gdt_gs >> 3, current_tcb());
    raw_syscall3(SYS_set_thread_area, (long)&d, 0, 0);
    set_gs(gdt_gs);
    int ret = real(thread, attr, thread_start, block);
    set_gs(own);

    if (ret == 0) {
        while (!__atomic_load_n(&block->moved, __ATOMIC_ACQUIRE)) sched_yield();
    }
    spin_unlock(&create_lock);
    sigset_t mask = block->mask;
    free(block);
    pthread_sigmask(SIG_SETMASK, &mask, 0);
    return ret;
}

/* wine's set_thread_area(entry -1) goes through syscall(): refuse it. */
typedef long (*syscall_fn)(long, long, long, long, long, long, long);

EXPORT long syscall(long nr, ...)
{
    static syscall_fn real;
    if (!real) real = (syscall_fn)next_symbol("syscall");
    va_list ap;
    va_start(ap, nr);
    long a = va_arg(ap, long), b = va_arg(ap, long), c = va_arg(ap, long);
    long d = va_arg(ap, long), e = va_arg(ap, long), f = va_arg(ap, long);
    va_end(ap);
    if (nr == SYS_set_thread_area && a && ((struct user_desc *)a)->entry_number == (unsigned)-1) {
        errno = ENOSYS;
        return -1;
    }
    return real(nr, a, b, c, d, e, f);
}

__attribute__((constructor)) static void qemu_fixes_init(void)
{
    /* wine's preloader leaves %fs on a GDT entry of its own, which wine
       would then share between threads: start it without one. */
    unsigned short fs;
    __asm__ volatile("movw %%fs, %0" : "=r"(fs));
    if (fs && !(fs & 4)) __asm__ volatile("movw %0, %%fs" ::"r"((unsigned short)0));

    unsigned short gs = get_gs();
    if (!gs || (gs & 4)) return; /* not on the GDT: nothing to share */
    if (pthread_key_create(&entry_key, release_entry) != 0) return;
    if (move_gs_to_ldt()) gdt_gs = gs;
}
