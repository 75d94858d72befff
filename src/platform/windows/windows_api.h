// <windows.h> for the platform's Windows files: the lean set, and no min and
// max macros (libstdc++ asks for that too).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
