#pragma once

// A picture's big blocks (the decoder's coefficients and work buffers, the file's bytes, the
// encoded output) are freed when it ends and asked for again by the next one. Returned to the
// system each time, every page of them would fault and be cleared again, which costs a
// progressive picture about a tenth of its time.

// Makes the process keep freed memory for reuse, in one pool for all threads. Once, before the
// workers start; later calls do nothing.
void KeepFreedMemory();

// Gives freed memory back to the system, for a process that goes idle (a window after a batch).
void ReturnFreedMemory();
