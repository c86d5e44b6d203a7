// Shared helpers of the test suites: the module loaded the way a host loads it, with one filter
// created, its settings and a session, and the calls every filter test makes. One test thread
// per fixture; the hooks and trace capture are process-wide (host/host_hooks.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
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

// Loads the module, gets the factory with the host's hooks and captures traces up to level 4;
// the factory is released at the end of each test.
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
        host::TakeTraces();
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

    // Command 5 of the black/white list filter with both lists.
    static int32_t LoadLists(CAFilter* filter, const std::vector<std::u16string>& black,
                             const std::vector<std::u16string>& white,
                             uint64_t session = kSession) {
        host::BlackBoxStore io;
        io.PutObject(asbb::kBlackListItems, asbb::kWideTextList, host::NewWideTextList(black),
                     true);
        io.PutObject(asbb::kWhiteListItems, asbb::kWideTextList, host::NewWideTextList(white),
                     true);
        return filter->ProcessCommand(session, asbb::kLoadLists, &io);
    }

    host::ModuleLibrary m_library;
    host::SettingsStore m_settings;
    CAClassFactory* m_factory = nullptr;
};

// Keeps the trace lines, with their levels, that reach the capture while it lives (the lines
// go here instead of to TakeTraces). For traces whose level is part of the behaviour: errors
// at 1, survived failures at 2, notices at 3, per-item progress at 4. One test thread reads it.
class LeveledTraces {
  public:
    LeveledTraces() {
        host::SetTraceSink([this](int32_t level, const std::string& line) {
            m_lines.emplace_back(level, line);  // the hooks call the sink under their lock
        });
    }
    ~LeveledTraces() { host::SetTraceSink(nullptr); }
    LeveledTraces(const LeveledTraces&) = delete;
    LeveledTraces& operator=(const LeveledTraces&) = delete;

    // The level of the first line holding `text`; 0 when no line does.
    int32_t Level(const std::string& text) const {
        for (const auto& line : m_lines) {
            if (line.second.find(text) != std::string::npos) return line.first;
        }
        return 0;
    }

  private:
    std::vector<std::pair<int32_t, std::string>> m_lines;
};

// The extra blackbox of the black/white list filter's add and query verbs: selector 0 and
// empty texts leave their keys out.
inline void FillExtra(host::BlackBoxStore& extra, int32_t selector, const std::string& address,
                      const std::string& header = "") {
    if (selector != 0) extra.SetInt(asbb::kListSelector, selector);
    if (!address.empty()) extra.SetWideText(asbb::kAddress, host::WidenKey(address));
    if (!header.empty()) extra.SetWideText(asbb::kHeaderName, host::WidenKey(header));
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
