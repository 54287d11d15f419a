#pragma once

// The kernel's thread calls under their own names. On Windows they are the real ones; elsewhere
// threads.cpp provides them over POSIX threads with the behaviour the program relies on:
//  - CreateThread runs the routine at once (creation flags must be 0) and writes a non-zero
//    identifier, unique within the process, before the routine starts;
//  - GetExitCodeThread reports STILL_ACTIVE until the routine has returned or the thread was
//    ended, then the routine's result or the code given to ExitThread/TerminateThread;
//  - ExitThread ends the calling thread at once and, as on Windows, runs no destructor of what is
//    on its stack (it may be called from inside a destructor);
//  - TerminateThread asks the thread to end at its next cancellation point (a sleep, a blocking
//    read or write, a wait) and returns at once; the thread's stack is unwound, so locks held by
//    scoped guards are released; a thread that never reaches such a point keeps running;
//  - Sleep(0) yields; other values sleep at least that many milliseconds;
//  - CloseHandle releases a thread handle; the thread itself goes on running if it has not ended.
#include "platform/win32_types.h"

#ifndef _WIN32
#include <cstddef>

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using SIZE_T = std::size_t;
using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

inline constexpr DWORD STILL_ACTIVE = 259;

// Null when the thread could not be created. Security attributes are ignored; a stack size of 0
// means the system's default.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
DWORD GetCurrentThreadId();
[[noreturn]] void ExitThread(DWORD exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
void Sleep(DWORD milliseconds);
BOOL CloseHandle(HANDLE thread);
#endif
