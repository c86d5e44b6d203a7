// Per-thread error records, the error text tables and the default error hooks.
#include "common/aserrno.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ascommon {

namespace {

// Owns the calling thread's record and frees it when the thread ends.
struct RecordHolder {
    ErrorRecord* record = nullptr;
    bool failed = false;
    ~RecordHolder() { std::free(record); }
};

thread_local RecordHolder t_holder;

ASErrno g_errno;

struct CodeText {
    int32_t code;
    const char* text;
};

const CodeText kCodeTexts[] = {
    {-101, "invalid input"},
    {-102, "memory allocation"},
    {-103, "invalid pointer"},
    {-104, "internal error"},
    {-105, "fatal error"},
    {-106, "undefined error"},
    {-201, "file error"},
    {-202, "file read error"},
    {-203, "file write error"},
    {-204, "file open error"},
    {-301, "element not found in blackbox"},
    {-401, "core instanciated error"},
    {-402, "core not instanciated error"},
};

const char* Family80000000Text(uint32_t code) {
    switch (code) {
        case 0x80000001u:
            return "Unknown error";
        case 0x80000002u:
            return "Broken pipe";
        case 0x80000003u:
            return "The specified entity is busy";
        default:
            return nullptr;
    }
}

struct FamilyRow {
    uint32_t family;  // the upper 16 bits, lower bits clear
    const char* (*text)(uint32_t code);
};

const FamilyRow kFamilies[] = {{0x80000000u, Family80000000Text}};

void FormatInto(char* out, const char* format, va_list args) {
    out[0] = '\0';
    if (format != nullptr) std::vsnprintf(out, ErrorRecord::kTextSize, format, args);
}

}  // namespace

ErrorRecord* ThreadErrorRecord() {
    RecordHolder& holder = t_holder;
    if (holder.record == nullptr && !holder.failed) {
        holder.record = static_cast<ErrorRecord*>(std::calloc(1, sizeof(ErrorRecord)));
        holder.failed = holder.record == nullptr;
    }
    return holder.record;
}

const char* GetErrorText(int32_t code) {
    const uint32_t bits = static_cast<uint32_t>(code);
    for (const FamilyRow& row : kFamilies) {
        if ((bits & 0xFFFF0000u) == row.family) {
            if (const char* text = row.text(bits)) return text;
        }
    }
    for (const CodeText& row : kCodeTexts) {
        if (row.code == code) return row.text;
    }
    return nullptr;
}

AbstractASErrno* ASErrno::SetText(const char* text) {
    if (ErrorRecord* record = ThreadErrorRecord()) {
        record->message[0] = '\0';
        if (text != nullptr) {
            std::strncpy(record->message, text, ErrorRecord::kTextSize - 1);
            record->message[ErrorRecord::kTextSize - 1] = '\0';
        }
    }
    return this;
}

AbstractASErrno* ASErrno::SetNumber(uint32_t number) {
    if (ErrorRecord* record = ThreadErrorRecord()) record->number = number;
    return this;
}

uint32_t ASErrno::GetNumber() {
    ErrorRecord* record = ThreadErrorRecord();
    return record ? record->number : 0;
}

const char* ASErrno::GetText() {
    ErrorRecord* record = ThreadErrorRecord();
    if (record == nullptr) return std::strerror(0);  // no record: number 0
    const uint32_t n = record->number;
    if (n == 0) {
        std::snprintf(record->scratch, sizeof record->scratch, "%s", std::strerror(0));
        return record->scratch;
    }
    if (record->message[0] != '\0') return record->message;
    if (const char* text = GetErrorText(static_cast<int32_t>(n))) return text;
    std::snprintf(record->scratch, sizeof record->scratch, "Unknown error %08x", n);
    return record->scratch;
}

int DefaultSetErrMsg(const char* format, ...) {
    ErrorRecord* record = ThreadErrorRecord();
    if (record == nullptr) return 0;
    va_list args;
    va_start(args, format);
    FormatInto(record->message, format, args);
    va_end(args);
    return 0;
}

int32_t DefaultSetErr(int32_t code, const char* format, ...) {
    ErrorRecord* record = ThreadErrorRecord();
    if (record == nullptr) return code;
    record->number = static_cast<uint32_t>(code);
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        FormatInto(record->message, format, args);
        va_end(args);
    }
    return code;
}

AbstractASErrno* DefaultGetErr() {
    return &g_errno;
}

}  // namespace ascommon
