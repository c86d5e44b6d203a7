// The module's exception family. Exceptions carry a flag, a code and a message of at most 512
// bytes; they never cross the host boundary (the module base turns them into -104). Throw them
// with AS_THROW / AS_THROW_CODE, which first write the matching exception trace line.
// Host-facing header: compiles on its own.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <exception>

#include "common/trace.h"

namespace ascommon {

class AException : public std::exception {
  public:
    virtual int32_t GetCode() const = 0;
    virtual bool GetFlag() const = 0;
};

class ASException : public AException {
  public:
    static constexpr size_t kMessageSize = 512;

    ASException();  // code -1, empty message
    explicit ASException(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // With the code given first, for messages that show it ("... - CODE: %d MESSAGE: ...").
    ASException(int32_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));

    const char* what() const noexcept override;
    int32_t GetCode() const override { return m_code; }
    bool GetFlag() const override { return m_flag; }

  protected:
    struct Unformatted {};
    ASException(Unformatted, int32_t code);
    // Formats the message (cut at 512 bytes) and sets the code; a null format leaves the
    // message empty and sets the code to 0.
    void Format(int32_t code, const char* format, va_list args);

  private:
    bool m_flag;
    int32_t m_code;
    char m_message[kMessageSize + 1];
};

// Each subclass: from a format (the class's code) and from a code and a format (the format of the
// latter is checked where AS_THROW_CODE traces it).
#define AS_DECLARE_EXCEPTION(Name, Code)                                                 \
    class Name : public ASException {                                                    \
      public:                                                                            \
        explicit Name(const char* format, ...) __attribute__((format(printf, 2, 3)))     \
        : ASException(Unformatted(), Code) {                                             \
            va_list args;                                                                \
            va_start(args, format);                                                      \
            Format(Code, format, args);                                                  \
            va_end(args);                                                                \
        }                                                                                \
        Name(int32_t code, const char* format, ...) : ASException(Unformatted(), code) { \
            va_list args;                                                                \
            va_start(args, format);                                                      \
            Format(code, format, args);                                                  \
            va_end(args);                                                                \
        }                                                                                \
    }

AS_DECLARE_EXCEPTION(ASMemException, -2);
AS_DECLARE_EXCEPTION(ASBadPtrException, -1);
AS_DECLARE_EXCEPTION(ASBadCastException, -1);
AS_DECLARE_EXCEPTION(ASFileException, -1);

#undef AS_DECLARE_EXCEPTION

class ASInternalException : public ASException {
  public:
    explicit ASInternalException(const char* format, ...) __attribute__((format(printf, 2, 3)));
    ASInternalException(int32_t code, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
};

// Thrown on a bad index; carries no message, so what() answers "unknown exception".
class InvalidIndexException : public ASException {
  public:
    InvalidIndexException() : ASException(Unformatted(), -301) {}
};

}  // namespace ascommon

// Trace "<Class> - MESSAGE: <text>" at `level`, then throw Class with the same message.
#define AS_THROW_LEVEL(level, Cls, fmt, ...)                               \
    do {                                                                   \
        AS_TRACE_EXCEPTION(level, #Cls " - MESSAGE: " fmt, ##__VA_ARGS__); \
        throw ::ascommon::Cls(#Cls " - MESSAGE: " fmt, ##__VA_ARGS__);     \
    } while (0)

#define AS_THROW(Cls, fmt, ...) AS_THROW_LEVEL(1, Cls, fmt, ##__VA_ARGS__)

// Trace "<Class> - CODE: <code> MESSAGE: <text>" at level 1, then throw Class with that code and
// message.
#define AS_THROW_CODE(Cls, code, fmt, ...)                                                      \
    do {                                                                                        \
        AS_TRACE_EXCEPTION(1, #Cls " - CODE: %d MESSAGE: " fmt, static_cast<int>(code),         \
                           ##__VA_ARGS__);                                                      \
        throw ::ascommon::Cls((code), #Cls " - CODE: %d MESSAGE: " fmt, static_cast<int>(code), \
                              ##__VA_ARGS__);                                                   \
    } while (0)

// Trace "ASInternalException - CODE: <code> MESSAGE: <text>", then throw it with that code.
#define AS_THROW_INTERNAL_CODE(code, fmt, ...)                                                \
    do {                                                                                      \
        AS_TRACE_EXCEPTION(1, "ASInternalException - CODE: %d MESSAGE: " fmt,                 \
                           static_cast<int>(code), ##__VA_ARGS__);                            \
        throw ::ascommon::ASInternalException((code),                                         \
                                              "ASInternalException - CODE: %d MESSAGE: " fmt, \
                                              static_cast<int>(code), ##__VA_ARGS__);         \
    } while (0)
