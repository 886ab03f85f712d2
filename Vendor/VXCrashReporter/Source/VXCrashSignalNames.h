// Names of signals and of their si_code values, by this system's numbers.
#pragma once

// "SIGSEGV" and the like, or nullptr for a number without a name.
const char *vxcrash_async_signal_signame(int signo);

// "SEGV_MAPERR", "SI_USER" and the like, or nullptr when the code has no name
// for that signal.
const char *vxcrash_async_signal_sigcode(int signo, int code);
