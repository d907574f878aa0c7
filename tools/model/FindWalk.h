#pragma once
// Inner workings of StartFind that tests look at.
namespace tarnel {

// How long a worker may go without a step (a folder read, a block read)
// before the find says that its place does not answer and goes on without it.
inline constexpr int kFindQuietMilliseconds = 3000;

// The find threads alive in the process, those left behind on a mount that
// does not answer included.
int FindThreadsAlive();

} // namespace tarnel
