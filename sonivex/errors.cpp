#include "errors.h"

namespace sonivex {

namespace {
thread_local int t_lastError = BASS_OK;
}

void SetError(int code)
{
    t_lastError = code;
}
int LastError()
{
    return t_lastError;
}

const char* ErrorName(int code)
{
    switch (code) {
        case BASS_OK:
            return "BASS_OK";
        case BASS_ERROR_INIT:
            return "BASS_ERROR_INIT";
        case BASS_ERROR_ALREADY:
            return "BASS_ERROR_ALREADY";
        case BASS_ERROR_HANDLE:
            return "BASS_ERROR_HANDLE";
        case BASS_ERROR_ILLPARAM:
            return "BASS_ERROR_ILLPARAM";
        case BASS_ERROR_CONNECT:
            return "BASS_ERROR_CONNECT";
        case BASS_ERROR_TIMEOUT:
            return "BASS_ERROR_TIMEOUT";
        case BASS_ERROR_FORMAT:
            return "BASS_ERROR_FORMAT";
        case BASS_ERROR_NOPLAY:
            return "BASS_ERROR_NOPLAY";
        case BASS_ERROR_HTTP:
            return "BASS_ERROR_HTTP";
        case BASS_ERROR_TLS:
            return "BASS_ERROR_TLS";
        case BASS_ERROR_NOHOST:
            return "BASS_ERROR_NOHOST";
        case BASS_ERROR_NOTAUDIO:
            return "BASS_ERROR_NOTAUDIO";
        default:
            return "BASS_ERROR_UNKNOWN";
    }
}

}  // namespace sonivex
