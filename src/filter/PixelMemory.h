#pragma once

#include <cstddef>
#include <cstdint>

// Memory for big pixel buffers, 64-byte aligned. A buffer that is let go on a thread that keeps
// (keepOnThisThread: the engine's workers) is kept for the next picture of the same thread:
// fresh memory costs the system a page fault and a page of zeroes for every 4 KB, which for a
// 15-megapixel picture is more time than the filter takes. Other threads (the window's, a
// preview's) let go at once, since nothing tells them when to stop keeping. Each keeping
// thread keeps at most six (a whole picture and its grey, or a JPEG decoder's coefficients, one
// block a colour), freed when it ends, and all threads together at most what setMostKept() says
// (256 MB unless told). Blocks of 4 MB and more are asked of the system in 2 MB pages on a
// keeping thread only: a thread that lets go at once would wait for fresh 2 MB pages to be made
// for every picture. Thread-safe (each thread has its own).
namespace PixelMemory {

// At least `bytes` bytes; `capacity` receives how many there are.
std::uint8_t* acquire(std::size_t bytes, std::size_t& capacity);
// Gives back a buffer with the capacity acquire() answered.
void release(std::uint8_t* buffer, std::size_t capacity) noexcept;
// The calling thread's picture has ended: what it kept through a whole picture without asking
// for it is let go, so that blocks the next pictures do not need stop adding to the peak.
void pictureEnded() noexcept;
// Lets go of all the calling thread's kept blocks at once, for a picture that needs none.
void letGoOfKept() noexcept;
// The most that all threads keep together, in bytes.
void setMostKept(std::size_t bytes);
// From now on the calling thread keeps what it lets go, until it ends.
void keepOnThisThread() noexcept;
// What all threads keep now, in bytes.
std::size_t keptNow() noexcept;
// How many bytes were taken fresh from the system so far, by all threads.
std::size_t freshBytes() noexcept;

}  // namespace PixelMemory
