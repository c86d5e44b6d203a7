// Error records, error texts, the exception family and trace line format.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "common/aserrno.h"
#include "common/asexception.h"
#include "common/trace.h"
#include "host/host_hooks.h"

using ascommon::ASErrno;

TEST(ErrorTextTest, Tables) {
    struct Row {
        int32_t code;
        const char* text;  // null: no table has one
    } rows[] = {
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
    for (const Row& row : rows) {
        const char* text = ascommon::GetErrorText(row.code);
        if (row.text == nullptr) {
            EXPECT_EQ(text, nullptr) << row.code;
        } else {
            EXPECT_STREQ(text, row.text) << row.code;
        }
    }
}

TEST(ASErrnoTest, GetTextPrefersTheMessageThenTheTables) {
    ASErrno err;
    err.SetText(nullptr)->SetNumber(static_cast<uint32_t>(-102));
    EXPECT_STREQ(err.GetText(), "memory allocation");
    ascommon::DefaultSetErr(-104, "%s", "x");
    EXPECT_EQ(err.GetNumber(), static_cast<uint32_t>(-104));
    EXPECT_STREQ(err.GetText(), "x");
    err.SetNumber(static_cast<uint32_t>(-103));
    EXPECT_STREQ(err.GetText(), "x");  // the message wins while it is not empty
    err.SetText(nullptr);
    EXPECT_STREQ(err.GetText(), "invalid pointer");
    err.SetNumber(0x80000004u);
    EXPECT_STREQ(err.GetText(), "Unknown error 80000004");
    err.SetNumber(777);
    EXPECT_STREQ(err.GetText(), "Unknown error 00000309");
    err.SetNumber(0);
    EXPECT_STREQ(err.GetText(), std::strerror(0));
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
}

TEST(ASErrnoTest, TextsAreCut) {
    const std::string big(5000, 'q');
    ascommon::DefaultGetErr()->SetText(big.c_str());
    ascommon::DefaultGetErr()->SetNumber(1);
    EXPECT_EQ(std::strlen(ascommon::DefaultGetErr()->GetText()), 4195u);
    ascommon::DefaultSetErr(-1, "%s", big.c_str());
    EXPECT_EQ(std::strlen(ascommon::DefaultGetErr()->GetText()), 4195u);
}

TEST(ExceptionTest, CodesAndMessages) {
    EXPECT_EQ(ascommon::ASException().GetCode(), -1);
    EXPECT_STREQ(ascommon::ASException().what(), "unknown exception");
    EXPECT_EQ(ascommon::ASMemException("m").GetCode(), -2);
    EXPECT_EQ(ascommon::ASBadPtrException("p").GetCode(), -1);
    EXPECT_EQ(ascommon::ASBadCastException("c").GetCode(), -1);
    EXPECT_EQ(ascommon::ASFileException("f").GetCode(), -1);
    EXPECT_EQ(ascommon::ASInternalException("i").GetCode(), -3);
    EXPECT_EQ(ascommon::ASInternalException(-77, "i %d", 1).GetCode(), -77);
    EXPECT_STREQ(ascommon::ASInternalException(-77, "i %d", 1).what(), "i 1");
    EXPECT_FALSE(ascommon::ASInternalException("i").GetFlag());
    EXPECT_EQ(ascommon::InvalidIndexException().GetCode(), -301);
    EXPECT_EQ(ascommon::ASMemException(nullptr).GetCode(), 0);  // null format: code 0
    EXPECT_STREQ(ascommon::ASMemException(nullptr).what(), "unknown exception");

    const std::string big(600, 'w');
    ascommon::ASException cut("%s", big.c_str());
    EXPECT_EQ(std::string(cut.what()), big.substr(0, 512));
    ascommon::ASException copy(cut);
    EXPECT_EQ(std::string(copy.what()), big.substr(0, 512));
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
    EXPECT_NE(lines[3].find("][a_source_name_longer_than_twenty.cpp:7   ] - x\n"),
              std::string::npos)
        << lines[3];
    const std::regex exceptionLine(
        R"(\[ANTISPAM EXCEPTION\] \[[0-9A-F]{8}\]\[ {5}errors_test\.cpp:\d+ *\] - )"
        R"(ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL\n)");
    EXPECT_TRUE(std::regex_match(lines[0], exceptionLine)) << lines[0];
    EXPECT_NE(lines[1].find("] - ASInternalException - CODE: 0 MESSAGE: Null locker data"),
              std::string::npos);
    const std::regex plainLine(
        R"(\[ANTISPAM          \] \[[0-9A-F]{8}\]\[ {5}errors_test\.cpp:\d+ *\] - a notice .*: 5\n)");
    EXPECT_TRUE(std::regex_match(lines[2], plainLine)) << lines[2];
}
