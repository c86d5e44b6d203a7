// Shared helpers of the test suites: the module loaded the way a host loads it, with one filter
// created, its settings and a session, and the calls every filter test makes. One test thread
// per fixture; the hooks and trace capture are process-wide (host/host_hooks.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "blackbox_keys.h"
#include "common/aserrno.h"
#include "host/blackbox_store.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace testing_support {

constexpr uint64_t kSession = 1;
constexpr char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";
enum FilterIndex : uint64_t { kBWFilter = 0, kURLFilter = 1, kMultiFilter = 2 };

// The folder of the module under test, where the companion libraries are built too.
inline std::string LibraryFolder() {
    const std::string path = host::DefaultModulePath();
    return path.substr(0, path.find_last_of("/\\"));
}

// The message the host's error hooks hold for this thread.
inline std::string HostError() {
    return ascommon::DefaultGetErr()->GetText();
}

// The black and white lists of command 5, put into its I/O blackbox as a host hands them over.
inline void PutLists(host::BlackBoxStore& io, const std::vector<std::u16string>& black,
                     const std::vector<std::u16string>& white) {
    io.PutObject(asbb::kBlackListItems, asbb::kWideTextList, host::NewWideTextList(black), true);
    io.PutObject(asbb::kWhiteListItems, asbb::kWideTextList, host::NewWideTextList(white), true);
}

// Keeps the trace lines, with their levels, that reach the capture while it lives (the lines
// go here instead of to host::TakeTraces). For traces whose level is part of the behaviour:
// errors at 1, survived failures at 2, notices at 3, per-item progress at 4. One test thread
// reads it; the hooks call the sink under their lock.
class LeveledTraces {
  public:
    LeveledTraces() {
        host::SetTraceSink([this](int32_t level, auto& line) { lines.emplace_back(level, line); });
    }
    ~LeveledTraces() { host::SetTraceSink(nullptr); }
    LeveledTraces(const LeveledTraces&) = delete;
    LeveledTraces& operator=(const LeveledTraces&) = delete;

    // The level of the first line holding `text`; 0 when no line does.
    int32_t Level(const std::string& text) const {
        for (const auto& [level, line] : lines) {
            if (line.find(text) != std::string::npos) return level;
        }
        return 0;
    }
    bool Contains(const std::string& text) const { return Level(text) != 0; }

    std::vector<std::pair<int32_t, std::string>> lines;  // in order; a test may clear them
};

// Loads the module, gets the factory with the host's hooks and keeps the traces up to level 4
// in m_traces; the factory is released at the end of each test.
class ModuleFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_library.Open(host::DefaultModulePath())) << m_library.error();
        host::CaptureTraces(4);
        m_factory = m_library.GetClassFactory(&host::HostHooks());
        ASSERT_NE(m_factory, nullptr);
    }

    void TearDown() override {
        if (m_factory != nullptr) m_library.ReleaseClassFactory();
        host::CaptureTraces(0);
    }

    // A filter of the factory reading m_settings.
    CAFilter* CreateFilter(uint64_t index) {
        auto* filter = static_cast<CAFilter*>(m_factory->CreateModule(index));
        filter->m_settings = &m_settings;
        return filter;
    }

    static int32_t Run(CAFilter* filter, host::Message& message, uint32_t verb,
                       BlackBox* extra = nullptr, uint64_t session = kSession) {
        ASEntity entity = {nullptr, nullptr, &message.blackbox(), extra};
        return filter->ProcessEntity(session, &entity, verb);
    }

    // Command 5 of the black/white list filter with both lists. The command only reads them:
    // it must write nothing back into the host's I/O blackbox.
    static int32_t LoadLists(CAFilter* filter, const std::vector<std::u16string>& black,
                             const std::vector<std::u16string>& white,
                             uint64_t session = kSession) {
        host::BlackBoxStore io;
        PutLists(io, black, white);
        const int32_t result = filter->ProcessCommand(session, asbb::kLoadLists, &io);
        EXPECT_EQ(io.SetCalls(asbb::kBlackListItems) + io.SetCalls(asbb::kWhiteListItems), 0u);
        return result;
    }

    LeveledTraces m_traces;
    CAFilter* filter = nullptr;  // the suite's filter, for the suites that make one
    host::ModuleLibrary m_library;
    host::SettingsStore m_settings;
    CAClassFactory* m_factory = nullptr;
};

// The extra blackbox of the black/white list filter's add and query verbs: selector 0 and
// empty texts leave their keys out.
inline void FillExtra(host::BlackBoxStore& extra, int32_t selector, const std::string& address,
                      const std::string& header = "") {
    if (selector != 0) extra.SetInt(asbb::kListSelector, selector);
    if (!address.empty()) extra.SetWideText(asbb::kAddress, host::WidenKey(address));
    if (!header.empty()) extra.SetWideText(asbb::kHeaderName, host::WidenKey(header));
}

// What the module wrote under `keys`, one word each: the number, the text in quotes, a list of
// wide texts in brackets, or "-" for a key never written. One string pins a row of verdicts.
inline std::string Verdicts(host::BlackBoxStore& box, const std::vector<uint32_t>& keys) {
    std::string out;
    for (uint32_t key : keys) {
        if (!out.empty()) out += ' ';
        if (!box.Has(key)) {
            out += '-';
        } else if (host::WideTextList* list = box.List(key)) {
            out += '[';
            for (uint64_t i = 0; i < list->size(); ++i) {
                const auto& item = list->at(i);  // ASCII in the tests: narrowed unit by unit
                out += (i ? "," : "") + std::string(item.c_str(), item.c_str() + item.length());
            }
            out += ']';
        } else if (box.Get(key, asbb::kText, asbb::kValue) != nullptr) {
            out += "'" + box.Text(key) + "'";
        } else {
            out += std::to_string(box.IntValue(key, -1));
        }
    }
    return out;
}

// Every test of the multipurpose filter switched on, with the size limit and the percent of
// Asian or Cyrillic characters allowed.
inline void SwitchOnMultiTests(host::SettingsStore& settings, int maxSize, int percent) {
    for (const char* key : {"SexuallyExplicit", "AsianCharsets", "CyrilicCharsets", "MaxFileSize",
                            "PercentOfAllowedAsianChars", "PercentOfAllowedCyrillicChars"}) {
        const std::string name = key;
        settings.SetInt(("/eml/filter/multi/" + name).c_str(), name == "MaxFileSize" ? maxSize
                                                               : name[0] == 'P'      ? percent
                                                                                     : 1);
    }
}

// Everything written to `file` so far, read from its start.
inline std::string ReadAll(FILE* file) {
    std::string text;
    char buffer[256];
    std::rewind(file);
    while (std::fgets(buffer, sizeof buffer, file)) text += buffer;
    return text;
}

}  // namespace testing_support
