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
