// The locale's side of clock_text (posix/ and windows/clock_text.cpp): what
// the system's locale says about the shape of date and time texts.
#pragma once

#include "platform/clock_text.h"

namespace platform {

// The shape of the locale the environment chooses (on POSIX LC_TIME, which
// becomes the process's LC_TIME; on Windows the user's locale); the C
// locale's shape when it cannot be read. Main thread, at start.
TimeShape ShapeOfProcessLocale();

}  // namespace platform
