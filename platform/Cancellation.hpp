#pragma once

namespace ni {

// A running conversion or move can be asked to stop: by a signal (the handler
// only records it) or by the user's Cancel. Long loops check between files and
// end with an ErrorKind::Cancelled error, cleaning up outside the handler.

// Async-signal-safe. signalNumber is 0 for a cancel by the user.
void requestCancellation(int signalNumber = 0) noexcept;
bool cancellationRequested() noexcept;
// The signal that asked for the stop; 0 for a cancel by the user or none.
int cancellationSignal() noexcept;
// Forgets a request once it has been handled.
void clearCancellation() noexcept;

}  // namespace ni
