// Read before each file that the portability check compiles (clang -include).
// The check compiles the C++ of the Apple build on Linux once more, against POSIX
// alone, so that a GNU or Linux call that macOS lacks fails here, where the team
// can run it. The libraries are read first, as on Linux; then the platform is
// Apple's, so that our code takes its Apple branches, as it does on a Mac.
#pragma once

// This machine's C++ library was built for glibc with its GNU extensions, and its
// own headers call two of them where these are set. Off, it uses POSIX calls only.
#include <bits/c++config.h>
#undef _GLIBCXX_USE_PTHREAD_COND_CLOCKWAIT
#undef _GLIBCXX_USE_PTHREAD_MUTEX_CLOCKLOCK
#undef _GLIBCXX_USE_PTHREAD_RWLOCK_CLOCKLOCK

// Libraries that pick their platform themselves, read as on Linux.
#if __has_include(<gtest/gtest.h>)
#include <gtest/gtest.h>
#endif
#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#endif
#if __has_include(<whisper.h>)
#include <whisper.h>
#endif
#if __has_include(<ggml-backend.h>)
#include <ggml-backend.h>
#endif

// What glibc declares even in POSIX mode but macOS does not have. Each name is
// poisoned once its header is read, so any later use of it is an error.
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <time.h>
#undef SOCK_CLOEXEC  // glibc names its enum's values by macros too
#undef SOCK_NONBLOCK
#pragma GCC poison SOCK_CLOEXEC SOCK_NONBLOCK    /* flags of socket(); set them with fcntl */
#pragma GCC poison clock_nanosleep timer_create  /* nanosleep, and dispatch timers */
#pragma GCC poison sem_timedwait                 /* named semaphores have no timed wait */
#pragma GCC poison pthread_barrier_init pthread_condattr_setclock
#pragma GCC poison posix_fallocate

// From here on, our code sees Apple's platform.
#undef __linux__
#undef __linux
#undef linux
#undef __gnu_linux__
#define __APPLE__ 1
#define __MACH__ 1
