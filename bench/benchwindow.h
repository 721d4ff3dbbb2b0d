#pragma once

// How the harnesses that drive the window's own routines bring it up.

namespace meterlog {
class Form1;
}

namespace meterlog::bench {

// Runs the window's start-up on the meters linked as `com9` in its program folder. False, with a
// message naming the folder, when that port does not open.
bool loadOnMeters(Form1 &form, const char *folder);

} // namespace meterlog::bench
