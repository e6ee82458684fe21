/* Preloaded into the emulated 32-bit Wine processes of the test bed only.
 *
 * The emulator hands signal handlers a context whose trap number is -1, and
 * Wine's 32-bit ntdll decides what a fault was from that number: every access
 * violation would become an unexpected trap and Wine's own guard pages would
 * break. This wraps sigaction for the fault signals and, when the trap number
 * is -1, fills in the one the processor would have given before the real
 * handler runs.
 *
 * Built freestanding for i386 (no i386 headers on the build machine), so the
 * few types are declared here with the i386 glibc layout. */

enum { SIGILL_ = 4, SIGTRAP_ = 5, SIGBUS_ = 7, SIGFPE_ = 8, SIGSEGV_ = 11, NSIG_ = 65 };
enum { SA_SIGINFO_ = 4 };
#define SI_KERNEL_ 0x80
#define RTLD_NEXT_ ((void*)-1l)

typedef struct {
    int si_signo;
    int si_errno;
    int si_code;
} siginfo_head;

typedef void (*info_handler)(int, siginfo_head*, void*);

struct k_sigaction { /* glibc's struct sigaction on i386 */
    void* handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};

/* ucontext_t on i386: uc_flags, uc_link, uc_stack (3 words), then the
 * general registers; the trap number is register 12. */
enum { GREGS_OFFSET_WORDS = 5, REG_TRAPNO_ = 12 };

extern void* dlsym(void* handle, const char* name);

typedef int (*sigaction_fn)(int, const struct k_sigaction*, struct k_sigaction*);

static sigaction_fn real_sigaction;
static volatile info_handler saved[NSIG_];

static int is_fault(int sig) {
    return sig == SIGSEGV_ || sig == SIGBUS_ || sig == SIGILL_ || sig == SIGFPE_ || sig == SIGTRAP_;
}

static int trap_for(int sig, int code) {
    switch (sig) {
    case SIGSEGV_: return code == SI_KERNEL_ ? 13 : 14; /* protection fault : page fault */
    case SIGBUS_: return 17;                           /* alignment check */
    case SIGILL_: return 6;                            /* invalid opcode */
    case SIGFPE_: return code == 1 ? 0 : code == 2 ? 4 : 16; /* divide, overflow, x87 */
    case SIGTRAP_: return code == 2 ? 1 : 3;           /* single step : breakpoint */
    }
    return -1;
}

static void fixup(int sig, siginfo_head* info, void* context) {
    int* gregs = (int*)context + GREGS_OFFSET_WORDS;
    if (context && gregs[REG_TRAPNO_] == -1) gregs[REG_TRAPNO_] = trap_for(sig, info ? info->si_code : 0);
    info_handler handler = (sig > 0 && sig < NSIG_) ? saved[sig] : 0;
    if (handler) handler(sig, info, context);
}

int sigaction(int sig, const struct k_sigaction* act, struct k_sigaction* old) {
    if (!real_sigaction) real_sigaction = (sigaction_fn)dlsym(RTLD_NEXT_, "sigaction");
    if (!real_sigaction) return -1;
    if (!is_fault(sig)) return real_sigaction(sig, act, old);

    info_handler previous = saved[sig];
    int rc;
    if (act && (act->flags & SA_SIGINFO_) && (unsigned long)act->handler > 1) {
        struct k_sigaction wrapped = *act;
        wrapped.handler = (void*)fixup;
        rc = real_sigaction(sig, &wrapped, old);
        if (rc == 0) saved[sig] = (info_handler)act->handler;
    } else {
        rc = real_sigaction(sig, act, old);
        if (rc == 0 && act) saved[sig] = 0;
    }
    /* The caller sees its own handler, never the wrapper. */
    if (rc == 0 && old && old->handler == (void*)fixup) old->handler = (void*)previous;
    return rc;
}
