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

// Makes SIGINT, SIGTERM and SIGHUP request a cancellation (handler: see
// above), each also calling extra (async-signal-safe, may be null) with the
// signal. A signal ignored when the program started stays ignored, as under
// nohup or in a background job; one left blocked is unblocked in the calling thread.
void requestCancellationOnTerminationSignals(void (*extra)(int signalNumber) = nullptr);

// Ends the process the way signalNumber would have ended it, after the
// clean-up, so a calling shell sees the real cause; 128 + signalNumber as the
// exit status where the signal can't be raised.
[[noreturn]] void dieOfSignal(int signalNumber);

}  // namespace ni
