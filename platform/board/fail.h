// How the simulator ends a test that did something no hardware allows.
#pragma once

namespace orvsim {

// Prints "orvsim: <message>" on standard error and aborts the process.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvsim
