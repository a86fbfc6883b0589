// The calling thread's error code, and the kinds of failure the library
// reports through it.
#pragma once

#include "sonivex.h"

namespace sonivex {

// Sets the calling thread's error code (BASS_ErrorGetCode reads it).
void SetError(int code);
int LastError();

// Helpers for the API functions: set the code and hand back the result.
template <typename T>
T Fail(int code, T result)
{
    SetError(code);
    return result;
}
template <typename T>
T Succeed(T result)
{
    SetError(BASS_OK);
    return result;
}

// The name of an error code ("BASS_ERROR_TIMEOUT"), for messages.
const char* ErrorName(int code);

}  // namespace sonivex
