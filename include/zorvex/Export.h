#pragma once

#if defined(_WIN32)
#  if defined(ZORVEX_BUILDING_RUNTIME)
#    define ZORVEX_API __declspec(dllexport)
#  else
#    define ZORVEX_API __declspec(dllimport)
#  endif
#else
#  define ZORVEX_API __attribute__((visibility("default")))
#endif

// The few inline paths whose call would cost more than their work.
#if defined(__GNUC__)
#  define ZORVEX_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#  define ZORVEX_ALWAYS_INLINE inline
#endif
