#pragma once

// Large drawings become millions of small heap blocks.  With transparent
// huge pages in "madvise" mode (the usual default) the heap is faulted in
// 4 KiB at a time, which costs a tenth of a conversion; the C library backs
// its heap with huge pages when its tunable asks for it, and tunables are
// read only when a process starts.

namespace cadport {

// Starts the program again with the C library's huge-page tunable set,
// when that helps: transparent huge pages in "madvise" mode, the tunables
// not set by the user, no preloaded library (a debugger or profiler keeps
// the process it started), not under a sanitizer.  Returns only when the
// program goes on as it is (including when starting again failed).
void RestartWithHugePageHeap(char** argv) noexcept;

}  // namespace cadport
