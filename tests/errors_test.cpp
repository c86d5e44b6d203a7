// Error records and the texts a host reads from them, the exception family and trace line format.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <tuple>

#include "common/aserrno.h"
#include "common/asexception.h"
#include "common/status.h"
#include "common/trace.h"
#include "host/host_hooks.h"

using namespace ascommon;

// Number 0 reads as strerror(0); otherwise a message wins while it is not empty, then the code
// and family tables (a few texts hosts show, spelled out here), then "Unknown error <hex>".
TEST(ASErrnoTest, GetTextPrefersTheMessageThenTheTables) {
    // clang-format off
    const std::tuple<int64_t, const char*, std::string> rows[] = {
        {kErrMemory, nullptr, "memory allocation"}, {kErrInvalidPointer, "x", "x"},
        {kErrCoreInstantiated, nullptr, "core instanciated error"},
        {kErrNotInBlackbox, nullptr, "element not found in blackbox"}, {0x80000002u, nullptr, "Broken pipe"},
        {0x80000004u, nullptr, "Unknown error 80000004"},  // the family has no text for it
        {-100, nullptr, "Unknown error ffffff9c"}, {0, "x", std::strerror(0)},  // 0 wins over a message
    };
    // clang-format on
    ASErrno err;
    for (const auto& [number, message, text] : rows)
        EXPECT_EQ(err.SetText(message)->SetNumber(static_cast<uint32_t>(number))->GetText(), text);
}

// One record per thread; a call without a format keeps the text; texts are cut to the record.
TEST(ASErrnoTest, DefaultHooksKeepOneRecordPerThread) {
    DefaultSetErr(kErrInvalidInput, "main thread");
    std::thread other([] {
        EXPECT_EQ(DefaultGetErr()->GetNumber(), 0u);
        DefaultSetErr(kErrMemory, "other %d", 2);
        EXPECT_STREQ(DefaultGetErr()->GetText(), "other 2");
    });
    other.join();
    EXPECT_EQ(DefaultSetErr(kErrFatal, nullptr), kErrFatal);
    EXPECT_STREQ(DefaultGetErr()->GetText(), "main thread");
    const std::string big(5000, 'q');
    DefaultGetErr()->SetText(big.c_str())->SetNumber(1);
    EXPECT_EQ(std::strlen(DefaultGetErr()->GetText()), 4195u);
    DefaultSetErr(-1, "%s", big.c_str());
    EXPECT_EQ(std::strlen(DefaultGetErr()->GetText()), 4195u);
}

// Each row is a copy of the exception, so copying (a full 512-byte message included) is
// covered too.
TEST(ExceptionTest, CodesAndMessages) {
    const std::string big(600, 'w');
    // clang-format off
    const std::tuple<ASException, int32_t, std::string> rows[] = {
        {ASException(), -1, "unknown exception"}, {ASMemException("m"), -2, "m"},
        {ASBadPtrException("p"), -1, "p"}, {ASBadCastException("c"), -1, "c"}, {ASFileException("f"), -1, "f"},
        {ASFileException(-9, "f %d", 9), -9, "f 9"}, {ASInternalException("i"), -3, "i"},
        {ASInternalException(-77, "i %d", 1), -77, "i 1"}, {InvalidIndexException(), -301, "unknown exception"},
        {ASMemException(nullptr), 0, "unknown exception"},  // null format: code 0
        {ASException("%s", big.c_str()), -1, big.substr(0, 512)},
    };
    // clang-format on
    for (const auto& [e, code, what] : rows)
        EXPECT_TRUE(e.GetCode() == code && e.what() == what && !e.GetFlag()) << what;
}

// An AS_THROW traces the exception's text (source file base name and line) before it throws
// it; trace lines pad the source name to 20 characters and keep longer ones whole.
TEST(TraceTest, ThrowWritesTheExceptionLineThenThrowsTheSameText) {
    // Base names after "/" (this file) and "\\" (the longer name) are read from the lines below.
    EXPECT_STREQ(SourceBaseName(nullptr), "[no file]");
    // clang-format off
    host::CaptureTraces(4); host::TakeTraces();
    try {
        AS_THROW(ASBadPtrException, "I/O blackbox pointer is NULL");
    } catch (const ASBadPtrException& e) {
        EXPECT_STREQ(e.what(), "ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL");
    }
    // clang-format on
    AS_TRACE(3, "a notice from a source file whose name is longer than twenty: %d", 5);
    AS_TRACE_FULL_AT(4, "dir\\a_source_name_longer_than_twenty.cpp", 7, AS_TRACE_PREFIX "x\n");
    const auto lines = host::TakeTraces();
    host::CaptureTraces(0);
    ASSERT_EQ(lines.size(), 3u);
    const std::string where = R"( \[[0-9A-F]{8}\]\[ {5}errors_test\.cpp:\d+ *\] - )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[ANTISPAM EXCEPTION\])" + where +
                                                      "ASBadPtrException - MESSAGE: I/O "
                                                      "blackbox pointer is NULL\n")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(R"(\[ANTISPAM          \])" + where + "a notice .*: 5\n")))
        << lines[1];
    EXPECT_NE(lines[2].find("][a_source_name_longer_than_twenty.cpp:7   ] - x\n"),
              std::string::npos)
        << lines[2];
}
