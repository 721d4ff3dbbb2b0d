#pragma once

// How the harnesses that drive the window's own routines bring it up.

namespace meterlog {
class Form1;
}

namespace meterlog::bench {

// Runs the window's start-up on the meters of its port box: `com9` in its program folder unless
// the harness chose another port. A network link connects in the background, so this waits for
// it, up to 3 s. False, with a message naming the port, when it does not open.
bool loadOnMeters(Form1 &form, const char *folder);

} // namespace meterlog::bench
