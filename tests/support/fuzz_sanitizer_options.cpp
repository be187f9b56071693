// The address sanitizer's settings every fuzz target starts with (a run
// can still override them through ASAN_OPTIONS).
//
// The quarantine keeps freed memory out of use so that a later access to
// it is caught. At its default of 256 MB the allocator keeps handing out
// memory it has not touched for a long time, and the targets that make
// and free a device's worth of records for every input spend much of
// their time faulting pages in. 16 MB still holds what many inputs free
// (an access to memory an input freed is caught within the input, and for
// many inputs after it), the size fuzzing services commonly run with.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
