#pragma once

#include "platform/Exception.h"

// A request to stop the running fetch or extraction, made when the session ends (SIGTERM, SIGINT).
// Long steps look at it at their pump points and give up there, so the program can end at once.
void RequestAbort() noexcept; // safe to call from a signal handler
bool AbortRequested() noexcept;
void ClearAbortRequest() noexcept;

// The error with which a step gives up on an abort request.
class AbortedError final : public Exception {
public:
    AbortedError() : Exception(QStringLiteral("Operation aborted")) {}
};

// Raises AbortedError when an abort has been requested.
void ThrowIfAbortRequested();
