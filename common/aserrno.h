// The error object behind _as_get_err, the per-thread error record it reads, the table of error
// codes and texts, and the default error hooks. Each thread has its own record (made on its first
// use, freed when the thread ends), so none of this needs a lock. Host-facing header.
#pragma once

#include <cstdint>

// Interface of the object _as_get_err returns; slot order is fixed.
class AbstractASErrno {
  public:
    virtual AbstractASErrno* SetText(const char* text) = 0;
    virtual AbstractASErrno* SetNumber(uint32_t number) = 0;
    virtual uint32_t GetNumber() = 0;
    virtual const char* GetText() = 0;
    virtual ~AbstractASErrno() {}
};

namespace ascommon {

// The calling thread's error record.
struct ErrorRecord {
    static constexpr int kTextSize = 4196;
    uint32_t number;
    char message[kTextSize];
    char scratch[kTextSize];
};

// The calling thread's record, made on first use with the C runtime allocator; null when it
// cannot be obtained.
ErrorRecord* ThreadErrorRecord();

class ASErrno : public AbstractASErrno {
  public:
    AbstractASErrno* SetText(const char* text) override;
    AbstractASErrno* SetNumber(uint32_t number) override;
    uint32_t GetNumber() override;
    const char* GetText() override;
};

// The text of a code from the code and family tables, or null when no table has one.
const char* GetErrorText(int32_t code);

// The default error hooks: they write to the calling thread's record.
int DefaultSetErrMsg(const char* format, ...) __attribute__((format(printf, 1, 2)));
int32_t DefaultSetErr(int32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));
AbstractASErrno* DefaultGetErr();

}  // namespace ascommon
