#include "Vendor/VXCrashReporter/Source/VXCrashSignalNames.h"

#include <csignal>

namespace {

struct Name {
    int number;
    const char *name;
};

#define NAME(x) \
    { x, #x }

const Name kSignals[] = {
    NAME(SIGHUP),  NAME(SIGINT),    NAME(SIGQUIT), NAME(SIGILL),  NAME(SIGTRAP),   NAME(SIGABRT), NAME(SIGBUS),
    NAME(SIGFPE),  NAME(SIGKILL),   NAME(SIGUSR1), NAME(SIGSEGV), NAME(SIGUSR2),   NAME(SIGPIPE), NAME(SIGALRM),
    NAME(SIGTERM), NAME(SIGSTKFLT), NAME(SIGCHLD), NAME(SIGCONT), NAME(SIGSTOP),   NAME(SIGTSTP), NAME(SIGTTIN),
    NAME(SIGTTOU), NAME(SIGURG),    NAME(SIGXCPU), NAME(SIGXFSZ), NAME(SIGVTALRM), NAME(SIGPROF), NAME(SIGWINCH),
    NAME(SIGIO),   NAME(SIGPWR),    NAME(SIGSYS),
};

struct Code {
    int signo;  // 0: any signal
    int code;
    const char *name;
};

#define CODE(s, x) \
    { s, x, #x }

// The kernel's numbers (include/uapi/asm-generic/siginfo.h), also for the
// codes that older C library headers do not name yet.
const Code kCodes[] = {
    CODE(SIGILL, ILL_ILLOPC),
    CODE(SIGILL, ILL_ILLOPN),
    CODE(SIGILL, ILL_ILLADR),
    CODE(SIGILL, ILL_ILLTRP),
    CODE(SIGILL, ILL_PRVOPC),
    CODE(SIGILL, ILL_PRVREG),
    CODE(SIGILL, ILL_COPROC),
    CODE(SIGILL, ILL_BADSTK),
    {SIGILL, 9, "ILL_BADIADDR"},
    CODE(SIGFPE, FPE_INTDIV),
    CODE(SIGFPE, FPE_INTOVF),
    CODE(SIGFPE, FPE_FLTDIV),
    CODE(SIGFPE, FPE_FLTOVF),
    CODE(SIGFPE, FPE_FLTUND),
    CODE(SIGFPE, FPE_FLTRES),
    CODE(SIGFPE, FPE_FLTINV),
    CODE(SIGFPE, FPE_FLTSUB),
    {SIGFPE, 14, "FPE_FLTUNK"},
    {SIGFPE, 15, "FPE_CONDTRAP"},
    CODE(SIGSEGV, SEGV_MAPERR),
    CODE(SIGSEGV, SEGV_ACCERR),
    CODE(SIGSEGV, SEGV_BNDERR),
    CODE(SIGSEGV, SEGV_PKUERR),
    {SIGSEGV, 5, "SEGV_ACCADI"},
    {SIGSEGV, 6, "SEGV_ADIDERR"},
    {SIGSEGV, 7, "SEGV_ADIPERR"},
    {SIGSEGV, 8, "SEGV_MTEAERR"},
    {SIGSEGV, 9, "SEGV_MTESERR"},
    {SIGSEGV, 10, "SEGV_CPERR"},
    CODE(SIGBUS, BUS_ADRALN),
    CODE(SIGBUS, BUS_ADRERR),
    CODE(SIGBUS, BUS_OBJERR),
    CODE(SIGBUS, BUS_MCEERR_AR),
    CODE(SIGBUS, BUS_MCEERR_AO),
    CODE(SIGTRAP, TRAP_BRKPT),
    CODE(SIGTRAP, TRAP_TRACE),
    CODE(SIGTRAP, TRAP_BRANCH),
    CODE(SIGTRAP, TRAP_HWBKPT),
    {SIGTRAP, 5, "TRAP_UNK"},
    {SIGTRAP, 6, "TRAP_PERF"},
    CODE(SIGCHLD, CLD_EXITED),
    CODE(SIGCHLD, CLD_KILLED),
    CODE(SIGCHLD, CLD_DUMPED),
    CODE(SIGCHLD, CLD_TRAPPED),
    CODE(SIGCHLD, CLD_STOPPED),
    CODE(SIGCHLD, CLD_CONTINUED),
    CODE(SIGIO, POLL_IN),
    CODE(SIGIO, POLL_OUT),
    CODE(SIGIO, POLL_MSG),
    CODE(SIGIO, POLL_ERR),
    CODE(SIGIO, POLL_PRI),
    CODE(SIGIO, POLL_HUP),
    {SIGSYS, 1, "SYS_SECCOMP"},
    {SIGSYS, 2, "SYS_USER_DISPATCH"},
    // Codes any signal may carry (who sent it).
    CODE(0, SI_USER),
    CODE(0, SI_KERNEL),
    CODE(0, SI_QUEUE),
    CODE(0, SI_TIMER),
    CODE(0, SI_MESGQ),
    CODE(0, SI_ASYNCIO),
    CODE(0, SI_SIGIO),
    CODE(0, SI_TKILL),
    {0, -7, "SI_DETHREAD"},
    {0, -60, "SI_ASYNCNL"},
};

}  // namespace

const char *vxcrash_async_signal_signame(int signo) {
    for (const Name &n : kSignals) {
        if (n.number == signo) return n.name;
    }
    return nullptr;
}

const char *vxcrash_async_signal_sigcode(int signo, int code) {
    // A kernel code is positive and means something per signal; the sender
    // codes are zero or negative (and SI_KERNEL) for every signal.
    for (const Code &c : kCodes) {
        if (c.signo == signo && c.code == code && code > 0 && code != SI_KERNEL) return c.name;
    }
    for (const Code &c : kCodes) {
        if (c.signo == 0 && c.code == code) return c.name;
    }
    return nullptr;
}
