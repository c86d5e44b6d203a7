// Error records, error texts, the exception family and trace line format.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <tuple>

#include "common/aserrno.h"
#include "common/asexception.h"
#include "common/trace.h"
#include "host/host_hooks.h"

using ascommon::ASErrno;

TEST(ErrorTextTest, Tables) {
    const std::pair<int32_t, const char*> rows[] = {
        {-101, "invalid input"},
        {-102, "memory allocation"},
        {-104, "internal error"},
        {-204, "file open error"},
        {-301, "element not found in blackbox"},
        {-401, "core instanciated error"},
        {-402, "core not instanciated error"},
        {static_cast<int32_t>(0x80000001u), "Unknown error"},
        {static_cast<int32_t>(0x80000002u), "Broken pipe"},
        {static_cast<int32_t>(0x80000003u), "The specified entity is busy"},
        {static_cast<int32_t>(0x80000004u), nullptr},  // the family has no text for it
        {-100, nullptr},
        {12345, nullptr},
    };
    for (const auto& [code, text] : rows) {
        EXPECT_STREQ(ascommon::GetErrorText(code), text) << code;
    }
}

// Number 0 reads as strerror(0); otherwise a message wins while it is not empty, then the tables,
// then "Unknown error <hex>".
TEST(ASErrnoTest, GetTextPrefersTheMessageThenTheTables) {
    const std::tuple<int64_t, const char*, std::string> rows[] = {
        {-102, nullptr, "memory allocation"},
        {-103, "x", "x"},
        {-103, nullptr, "invalid pointer"},
        {0x80000004u, nullptr, "Unknown error 80000004"},
        {777, nullptr, "Unknown error 00000309"},
        {0, "x", std::strerror(0)},  // number 0 wins even over a message
    };
    ASErrno err;
    for (const auto& [number, message, text] : rows) {
        EXPECT_EQ(err.SetText(message)->SetNumber(static_cast<uint32_t>(number))->GetText(), text);
    }
}

TEST(ASErrnoTest, DefaultHooksKeepOneRecordPerThread) {
    ascommon::DefaultSetErr(-101, "main thread");
    std::thread other([] {
        EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(), 0u);
        ascommon::DefaultSetErr(-102, "other thread");
        ascommon::DefaultSetErrMsg("changed %d", 2);
        EXPECT_STREQ(ascommon::DefaultGetErr()->GetText(), "changed 2");
        EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(), static_cast<uint32_t>(-102));
    });
    other.join();
    EXPECT_STREQ(ascommon::DefaultGetErr()->GetText(), "main thread");
    EXPECT_EQ(ascommon::DefaultSetErr(-105, nullptr), -105);
    EXPECT_STREQ(ascommon::DefaultGetErr()->GetText(), "main thread");  // no format: kept

    const std::string big(5000, 'q');  // texts are cut to the record's size
    ascommon::DefaultGetErr()->SetText(big.c_str())->SetNumber(1);
    EXPECT_EQ(std::strlen(ascommon::DefaultGetErr()->GetText()), 4195u);
    ascommon::DefaultSetErr(-1, "%s", big.c_str());
    EXPECT_EQ(std::strlen(ascommon::DefaultGetErr()->GetText()), 4195u);
}

// Each row is a copy of the exception, so copying (a full 512-byte message included) is
// covered too.
TEST(ExceptionTest, CodesAndMessages) {
    const std::string big(600, 'w');
    const std::tuple<ascommon::ASException, int32_t, std::string> rows[] = {
        {ascommon::ASException(), -1, "unknown exception"},
        {ascommon::ASMemException("m"), -2, "m"},
        {ascommon::ASBadPtrException("p"), -1, "p"},
        {ascommon::ASBadCastException("c"), -1, "c"},
        {ascommon::ASFileException("f"), -1, "f"},
        {ascommon::ASFileException(-9, "f %d", 9), -9, "f 9"},
        {ascommon::ASInternalException("i"), -3, "i"},
        {ascommon::ASInternalException(-77, "i %d", 1), -77, "i 1"},
        {ascommon::InvalidIndexException(), -301, "unknown exception"},
        {ascommon::ASMemException(nullptr), 0, "unknown exception"},  // null format: code 0
        {ascommon::ASException("%s", big.c_str()), -1, big.substr(0, 512)},
    };
    for (const auto& [e, code, what] : rows) {
        EXPECT_EQ(e.GetCode(), code) << what;
        EXPECT_EQ(e.what(), what);
        EXPECT_FALSE(e.GetFlag()) << what;
    }
}

TEST(TraceTest, SourceBaseName) {
    EXPECT_STREQ(ascommon::SourceBaseName(nullptr), "[no file]");
    EXPECT_STREQ(ascommon::SourceBaseName("bwfilter.cpp"), "bwfilter.cpp");
    EXPECT_STREQ(ascommon::SourceBaseName("as\\Molvex\\Molvex.cpp"), "Molvex.cpp");
    EXPECT_STREQ(ascommon::SourceBaseName("/src/as/Molvex/Molvex.cpp"), "Molvex.cpp");
}

TEST(TraceTest, ThrowWritesTheExceptionLineThenThrowsTheSameText) {
    host::CaptureTraces(4);
    host::TakeTraces();
    try {
        AS_THROW(ASBadPtrException, "I/O blackbox pointer is NULL");
    } catch (const ascommon::ASBadPtrException& e) {
        EXPECT_STREQ(e.what(), "ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL");
    }
    try {
        AS_THROW_INTERNAL_CODE(0, "Null locker data in auto_locker!");
    } catch (const ascommon::ASInternalException& e) {
        EXPECT_STREQ(e.what(),
                     "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!");
        EXPECT_EQ(e.GetCode(), 0);
    }
    AS_TRACE(3, "a notice from a source file whose name is longer than twenty: %d", 5);
    AS_TRACE_FULL_AT(4, "dir\\a_source_name_longer_than_twenty.cpp", 7, AS_TRACE_PREFIX "x\n");
    const auto lines = host::TakeTraces();
    host::CaptureTraces(0);
    ASSERT_EQ(lines.size(), 4u);
    const std::string where = R"( \[[0-9A-F]{8}\]\[ {5}errors_test\.cpp:\d+ *\] - )";
    const std::regex exceptionLine(R"(\[ANTISPAM EXCEPTION\])" + where +
                                   "ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL\n");
    const std::regex plainLine(R"(\[ANTISPAM          \])" + where + "a notice .*: 5\n");
    EXPECT_TRUE(std::regex_match(lines[0], exceptionLine)) << lines[0];
    EXPECT_NE(lines[1].find("] - ASInternalException - CODE: 0 MESSAGE: Null locker data"),
              std::string::npos);
    EXPECT_TRUE(std::regex_match(lines[2], plainLine)) << lines[2];
    EXPECT_NE(lines[3].find("][a_source_name_longer_than_twenty.cpp:7   ] - x\n"),
              std::string::npos)
        << lines[3];
}
