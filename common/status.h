// Named result codes shared by the module's foundation, engines and filters: the general error
// codes of the error table (texts in aserrno.cpp) and the statuses that strings, containers and
// conversions return and keep as their last error. Engines with codes of their own name them in
// their headers (CMatchingList, CURLDB2, CBBFacilitator). Constants only; any thread.
#pragma once

#include <cstdint>

namespace ascommon {

// General error codes, as hosts see them through _as_set_err and the filters' results.
enum ErrorCode : int32_t {
    kErrInvalidInput = -101,
    kErrMemory = -102,
    kErrInvalidPointer = -103,
    kErrInternal = -104,  // an exception stopped the operation; the host's message says which
    kErrFatal = -105,
    kErrUndefined = -106,
    kErrFile = -201,
    kErrFileRead = -202,
    kErrFileWrite = -203,
    kErrFileOpen = -204,
    kErrNotInBlackbox = -301,
    kErrCoreInstantiated = -401,
    kErrCoreNotInstantiated = -402,
};

// Statuses of strings, containers and text conversions.
enum Status : int32_t {
    kOk = 0,
    kNullArgument = -1,  // a required pointer was null
    kNoBuffer = -2,      // memory could not be had; nothing was changed
    kIllFormed = -50,    // the text holds an ill-formed sequence (or nothing to copy)
    kShortBuffer = -51,  // the input ends inside a character, or the output is full
};

// Statuses of CMap::insert and CMap::erase besides kNoBuffer.
enum MapStatus : int32_t { kKeyAbsent = -450, kKeyPresent = -451 };

}  // namespace ascommon
