# Lists what the crash-time objects of an archive call outside themselves
# (nm -u) and fails when anything is not async-signal-safe.
#
#   cmake -DNM=<nm> -DARCHIVE=<lib.a> -DOBJECTS=<a.cpp.o;b.cpp.o> -P VXCrashCheckSymbols.cmake
#
# Symbols one crash-time object defines may be called by another. The allowed
# set: the async-signal-safe functions of POSIX the reporter uses (abort,
# clock_gettime, close, getuid, link, mkdir, open, readlink, rename,
# sigaction and the sigset helpers, time, unlink, write; and the string and
# memory functions POSIX made async-signal-safe in 2016, which the compiler
# may put in place of a plain loop), raw system calls (syscall, sched_yield), errno's location, and
# reads of data the C library set up before any crash (_r_debug, getauxval,
# SIGRTMAX's __libc_current_sigrtmax); in sanitizer builds (-DSANITIZED=ON)
# the sanitizers' hooks and the C++ unwinder's landing-pad entries their
# instrumentation adds (crash-time code throws nothing).
cmake_minimum_required(VERSION 3.25)
set(allowed
  abort clock_gettime close getuid link mkdir open readlink rename
  sigaction sigaddset sigemptyset sigfillset sigdelset sigprocmask
  time unlink write memcpy memset memmove memcmp memchr strlen strnlen strcmp strncmp
  syscall sched_yield __errno_location
  _r_debug getauxval __libc_current_sigrtmax _GLOBAL_OFFSET_TABLE_ __stack_chk_fail)
set(allowed_pattern "^(__asan_|__ubsan_|__tsan_|__sanitizer_)")
if(SANITIZED)
  list(APPEND allowed _Unwind_Resume __gxx_personality_v0)
endif()

foreach(var NM ARCHIVE OBJECTS)
  if(NOT ${var})
    message(FATAL_ERROR "VXCrashCheckSymbols: ${var} not given")
  endif()
endforeach()

function(symbols_of mode out)
  execute_process(COMMAND ${NM} -A ${mode} ${ARCHIVE} OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "VXCrashCheckSymbols: ${NM} ${mode} ${ARCHIVE} failed: ${error}")
  endif()
  string(REPLACE "\n" ";" lines "${text}")
  set(found)
  foreach(line IN LISTS lines)
    # archive:member:   [address] type symbol
    if(line MATCHES "^[^:]+:([^:]+):.* ([A-Za-z]) ([^ ]+)$")
      set(member ${CMAKE_MATCH_1})
      if(member IN_LIST OBJECTS)
        list(APPEND found "${member}|${CMAKE_MATCH_3}")
      endif()
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

symbols_of(--defined-only defined_entries)
set(defined)
foreach(entry IN LISTS defined_entries)
  string(REGEX REPLACE "^[^|]*\\|" "" symbol "${entry}")
  list(APPEND defined ${symbol})
endforeach()

symbols_of(-u undefined_entries)
set(seen_objects)
set(offending)
foreach(entry IN LISTS undefined_entries)
  string(REGEX REPLACE "\\|.*$" "" member "${entry}")
  string(REGEX REPLACE "^[^|]*\\|" "" symbol "${entry}")
  list(APPEND seen_objects ${member})
  if(symbol IN_LIST defined OR symbol IN_LIST allowed OR symbol MATCHES "${allowed_pattern}")
    continue()
  endif()
  list(APPEND offending "${member}: ${symbol}")
endforeach()

# Every object named must be in the archive (a renamed file would slip out).
execute_process(COMMAND ${NM} -A ${ARCHIVE} OUTPUT_VARIABLE all_text ERROR_QUIET)
foreach(object IN LISTS OBJECTS)
  string(FIND "${all_text}" ":${object}:" at)
  if(at EQUAL -1)
    list(APPEND offending "${object}: not in ${ARCHIVE}")
  endif()
endforeach()

if(offending)
  list(JOIN offending "\n  " text)
  message(FATAL_ERROR "crash-time code calls what a signal handler must not:\n  ${text}")
endif()
