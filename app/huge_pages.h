#pragma once

// Large drawings become millions of small heap blocks.  With transparent
// huge pages in "madvise" mode (the usual default) the heap is faulted in
// 4 KiB at a time, which costs a tenth of a conversion; the C library backs
// its heap with huge pages when its tunable asks for it, and tunables are
// read only when a process starts.

namespace cadport {

// Starts the program again with the C library's huge-page tunable set,
// when that helps: transparent huge pages in "madvise" mode, no memory
// balloon that hands free huge pages back to the host (in such virtual
// machines every huge page is new to the host and costs more than it
// saves), the tunables not set by the user, no preloaded library (a
// debugger or profiler keeps the process it started), not under a
// sanitizer. Returns only when the program goes on as it is (including
// when starting again failed).
void RestartWithHugePageHeap(char** argv) noexcept;

// Makes the heap grow in steps of 64 MiB of address space. The heap of a
// reading thread then starts whole: its pages can be huge ones (a heap
// grown a page at a time never holds a whole huge page range), and it is
// not widened by a system call every few blocks. Untouched pages cost
// nothing.
void WidenHeapSteps() noexcept;

}  // namespace cadport
