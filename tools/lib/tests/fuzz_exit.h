// For a fuzz target of the tools' code that ends the process on bad input
// (a malformed PCI listing, a command-line word it does not take): the
// end of the process becomes the end of the input. Linked with
// -Wl,--wrap=exit,--wrap=fopen,--wrap=fclose (toolfuzz_exit_trap in
// tools/lib/tests/CMakeLists.txt): while Trapped runs, exit jumps back to
// it with the status, and the streams the code opened and left open are
// closed there, as the end of the process would close them. The frames
// the jump leaves keep whatever they allocated, as a process that ends
// does: such a target runs without the leak check (-detect_leaks=0).
#pragma once

#include <functional>

namespace toolfuzz {

// Runs `code`: -1 when it returned, else the status it ended the process
// with.
int Trapped(const std::function<void()>& code);

}  // namespace toolfuzz
