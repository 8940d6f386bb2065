#pragma once

#if defined(_WIN32)
#  if defined(ZORVEX_BUILDING_DIALOGS)
#    define ZORVEX_DIALOGS_API __declspec(dllexport)
#  else
#    define ZORVEX_DIALOGS_API __declspec(dllimport)
#  endif
#else
#  define ZORVEX_DIALOGS_API __attribute__((visibility("default")))
#endif
