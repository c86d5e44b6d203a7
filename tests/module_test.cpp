// The built library driven only as a host drives it: dlopen, the three exports and the virtual
// slots of the factory and the modules. Nothing of the module's objects is linked in.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/aserrno.h"
#include "common/asexception.h"
#include "host/blackbox_store.h"
#include "host/host_hooks.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

enum ModuleIndex : uint64_t { kBW = 0, kURL = 1, kMulti = 2 };

void QuietTrace(int32_t, const char*, ...) {}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(4);
        host::TakeTraces();
        factory = library.GetClassFactory(&host::HostHooks());
        ASSERT_NE(factory, nullptr);
    }

    void TearDown() override {
        if (factory) library.ReleaseClassFactory();
        host::CaptureTraces(0);
        host::TakeTraces();
    }

    CAModule* Create(uint64_t index) {
        CAModule* module = factory->CreateModule(index);
        module->m_settings = &settings;
        return module;
    }

    // A black/white list filter whose libraries are loaded, so that its sessions can open.
    CAFilter* ReadyBWFilter() {
        const std::string path = host::DefaultModulePath();
        settings.Set("/eml/global/SharedLibsPathNew", path.substr(0, path.find_last_of('/')));
        CAFilter* bw = Filter(kBW);
        EXPECT_EQ(bw->ApplySharedSettings(), 0) << HostErrorText();
        return bw;
    }

    CAFilter* Filter(uint64_t index) { return static_cast<CAFilter*>(Create(index)); }

    static std::string HostErrorText() { return ascommon::DefaultGetErr()->GetText(); }

    host::ModuleLibrary library;
    host::SettingsStore settings;
    CAClassFactory* factory = nullptr;
};

TEST_F(ModuleTest, VersionAndTypes) {
    uint32_t version[4] = {};
    library.GetASVersion(version);
    EXPECT_EQ(version[0], 2u);
    EXPECT_EQ(version[1], 21u);
    EXPECT_EQ(version[2], 1u);
    EXPECT_EQ(version[3], 1625u);

    ASSERT_EQ(factory->GetModuleCount(), 3u);
    EXPECT_STREQ(factory->GetModuleName(kBW)->c_str(), "Eml Blacklist/Whitelist Filter");
    EXPECT_STREQ(factory->GetModuleName(kURL)->c_str(), "Eml URL Filter");
    EXPECT_STREQ(factory->GetModuleName(kMulti)->c_str(), "Eml Multipurpose Filter");
    for (uint64_t bad : {uint64_t{3}, UINT64_MAX}) {
        try {
            factory->GetModuleName(bad);
            FAIL();
        } catch (const ascommon::InvalidIndexException& e) {
            EXPECT_EQ(e.GetCode(), -301);
        }
        EXPECT_THROW(factory->CreateModule(bad), ascommon::InvalidIndexException);
    }
}

TEST_F(ModuleTest, CreateModuleTracesAndGivesSeparateModules) {
    for (uint64_t index : {kBW, kURL, kMulti}) {
        CAModule* first = Create(index);
        CAModule* second = Create(index);
        const std::string name = factory->GetModuleName(index)->c_str();
        EXPECT_NE(first, second);
        EXPECT_STREQ(first->m_name.c_str(), name.c_str());
        EXPECT_EQ(first->m_kind, 1u);
        EXPECT_STREQ(first->m_fallbackName.c_str(), "");
        EXPECT_EQ(first->m_sharedDataReady, 1u);
        EXPECT_NE(first->m_sharedData, nullptr);
        EXPECT_NE(first->m_sharedData, second->m_sharedData);
        EXPECT_EQ(first->m_sessions.bucket_count(), 64u);
        const auto lines = host::TakeTraces();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[0].find("] - DE2ZE: Creating new module: [" + name + "]\n"),
                  std::string::npos);
        EXPECT_EQ(lines[0].rfind("[ANTISPAM          ] [", 0), 0u);
    }
}

TEST_F(ModuleTest, SharedDataFailureIsReportedAndTheModuleKept) {
    Create(kBW);  // the factory's module array exists from here on
    const uint64_t before = host::Counters().allocations;
    Create(kBW);
    const uint64_t perModule = host::Counters().allocations - before;
    host::FailAllocationNumber(perModule);  // the shared data is the last allocation
    CAModule* module = Create(kBW);
    host::FailAllocationNumber(0);
    EXPECT_EQ(module->m_sharedDataReady, 0u);
    EXPECT_EQ(module->m_sharedData, nullptr);
    EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(), static_cast<uint32_t>(-102));
    EXPECT_EQ(HostErrorText(), "Memory error while trying to allocate a new Shared data structure");
}

TEST_F(ModuleTest, SecondGetClassFactoryReturnsTheSameFactoryAndInstallsItsTable) {
    // A second table that allocates through the host hooks but keeps no trace lines.
    ASHookTable quiet = host::HostHooks();
    quiet._as_trace = QuietTrace;
    EXPECT_EQ(library.GetClassFactory(&quiet), factory);
    Create(kMulti);
    EXPECT_TRUE(host::TakeTraces().empty());
    library.ReleaseClassFactory();  // puts the first table back
    factory = library.GetClassFactory(&host::HostHooks());
    ASSERT_NE(factory, nullptr);
    Create(kMulti);
    EXPECT_TRUE(host::TraceContains("DE2ZE: Creating new module: [Eml Multipurpose Filter]"));
}

TEST_F(ModuleTest, IsEnabledMatrix) {
    struct Row {
        int global;  // -1: absent
        int own;     // -1: absent
        bool enabled;
    } rows[] = {
        {-1, -1, true}, {-1, 0, false}, {-1, 1, true}, {-1, 2, false},
        {1, 0, true},   {1, 2, true},   {2, 1, true},  {2, 2, false},  // global 2 is not "all on"
        {0, -1, true},  {0, 0, false},
    };
    const char* keys[] = {"/eml/filter/bwfilter/Enabled", "/eml/filter/urlfilter/Enabled",
                          "/eml/filter/multi/Enabled"};
    for (uint64_t index : {kBW, kURL, kMulti}) {
        CAModule* module = Create(index);
        for (const Row& row : rows) {
            settings.Clear();
            if (row.global >= 0) settings.SetInt("/eml/global/AllFiltersEnabled", row.global);
            if (row.own >= 0) settings.SetInt(keys[index], row.own);
            EXPECT_EQ(module->IsEnabled(1), row.enabled)
                << keys[index] << " global " << row.global << " own " << row.own;
        }
    }
    settings.Clear();
    settings.SetSessionInt(host::WidenKey("/eml/filter/multi/Enabled").c_str(), 9, 0);
    CAModule* multi = Create(kMulti);
    EXPECT_FALSE(multi->IsEnabled(9));  // the session's own value
    EXPECT_TRUE(multi->IsEnabled(8));
}

TEST_F(ModuleTest, UnitTestVerbModesAndReservedSlot) {
    for (uint64_t index : {kBW, kURL, kMulti}) {
        CAFilter* filter = Filter(index);
        host::TakeTraces();
        EXPECT_EQ(filter->UnitTest(), 1);
        EXPECT_TRUE(host::TraceContains(std::string("module [") + filter->m_name.c_str() +
                                        "] does not implement unit testing\n"));
        EXPECT_EQ(filter->ReservedOperation(), 0);
        for (uint32_t verb : {0u, 10u, 11u, 12u, 21u, 1804u}) {
            const uint8_t expected = index == kBW ? ((verb == 11 || verb == 12) ? 0 : 2) : 1;
            EXPECT_EQ(filter->GetVerbMode(verb), expected) << index << " verb " << verb;
        }
    }
}

TEST_F(ModuleTest, UnknownSessionsFailWithTheFilterMessage) {
    CAFilter* multi = Filter(kMulti);
    host::TakeTraces();
    EXPECT_EQ(multi->ApplySessionSettings(4242), -104);
    EXPECT_TRUE(host::TraceContains("invalid session or session not initialized for ID (4242)"));
    EXPECT_TRUE(host::TraceContains("ASInternalException - MESSAGE: No session data struct!\n"));
    EXPECT_TRUE(
        host::TraceContains("Module Eml Multipurpose Filter failed to apply session "
                            "settings with message: ASInternalException - MESSAGE: No "
                            "session data struct!\n"));
    EXPECT_EQ(HostErrorText(), "ASInternalException - MESSAGE: No session data struct!");
    EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(), static_cast<uint32_t>(-104));
}

TEST_F(ModuleTest, ExceptionInProcessEntityBecomesMinus104WithHostMessage) {
    CAFilter* url = Filter(kURL);
    EXPECT_EQ(url->ProcessEntity(1, nullptr, 0), -104);
    EXPECT_EQ(HostErrorText(),
              "Module Eml URL Filter failed to process entity with message: ASBadPtrException - "
              "MESSAGE: invalid item received for processing");

    CAFilter* bw = Filter(kBW);
    ASEntity entity = {nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(bw->ProcessEntity(77, &entity, 0), -104);  // no such session
    EXPECT_EQ(HostErrorText(),
              "Module Eml Blacklist/Whitelist Filter failed to process entity with message: "
              "ASBadPtrException - MESSAGE: CBWFilter - Invalid data structure pointer");
    // The fallback name stands in when the module has no name buffer.
    bw->m_name = ascommon::sstring();
    EXPECT_EQ(bw->ProcessEntity(77, &entity, 0), -104);
    EXPECT_EQ(HostErrorText().rfind("Module  failed to process entity", 0), 0u);
}

TEST_F(ModuleTest, SessionsOpenedByTheHost) {
    CAFilter* multi = Filter(kMulti);
    settings.SetInt("/eml/filter/multi/MaxFileSize", 1000);
    ASSERT_EQ(host::OpenSession(multi, 5), 0);
    EXPECT_NE(multi->m_sessions.lookup(5), nullptr);
    EXPECT_EQ(multi->GetStatistics(5, nullptr), 0);
    EXPECT_TRUE(host::CloseSession(multi, 5));
    EXPECT_FALSE(host::CloseSession(multi, 5));
    EXPECT_EQ(multi->m_sessions.size(), 0u);

    CAFilter* bw = ReadyBWFilter();
    ASSERT_EQ(host::OpenSession(bw, 1), 0);
    EXPECT_TRUE(bw->m_sessions.lookup(1)->initialised);
    EXPECT_EQ(bw->GetStatistics(1, nullptr), -101);
    host::BlackBoxStore stats;
    EXPECT_EQ(bw->GetStatistics(2, &stats), -103);
    EXPECT_EQ(bw->GetStatistics(1, &stats), 0);
    EXPECT_EQ(stats.SetCalls(25001), 1u);
    EXPECT_EQ(stats.SetCalls(25002), 1u);
    EXPECT_TRUE(host::TraceContains("invalid reference to data structure"));
}

TEST_F(ModuleTest, ReleaseFreesOpenSessionsAndEverythingElse) {
    CAFilter* bw = ReadyBWFilter();
    CAFilter* multi = Filter(kMulti);
    for (uint64_t id : {1, 2, 3}) ASSERT_EQ(host::OpenSession(bw, id), 0);
    ASSERT_EQ(host::OpenSession(multi, 1), 0);
    ASSERT_EQ(multi->m_sessions.insert(7, nobjSessionInfo{nullptr, false}), 0);  // never created
    Create(kURL);
    host::TakeTraces();

    library.ReleaseClassFactory();
    factory = nullptr;
    EXPECT_EQ(std::string(ascommon::ThreadErrorRecord()->message),
              "Session ID not defined! [7]. Cannot release");
    const auto lines = host::TakeTraces();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(lines[0].find("Releasing CMolvexClassFactory"), std::string::npos);
    auto has = [&](const std::string& text) {
        for (const auto& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    };
    EXPECT_TRUE(has("Destructing the Black/White List filter with name Eml Blacklist/Whitelist"));
    EXPECT_TRUE(has("The URL Filter with name Eml URL Filter is about to be destructed"));
    EXPECT_TRUE(has("Multipurpose Filter destructor"));

    const host::HookCounters c = host::Counters();
    EXPECT_GT(c.allocations, 0u);
    EXPECT_EQ(c.allocations, c.frees);
    EXPECT_EQ(c.liveBytes, 0u);
    EXPECT_EQ(c.untaggedFrees, 0u);
}

TEST_F(ModuleTest, ModuleOperatorsLeaveTheHostsAllocationsAlone) {
    const uint64_t before = host::Counters().allocations;
    std::unique_ptr<std::string> mine(new std::string(100, 'h'));
    EXPECT_EQ(host::Counters().allocations, before);
}

TEST_F(ModuleTest, ReleaseWithoutFactoryAndRebuild) {
    library.ReleaseClassFactory();
    EXPECT_EQ(library.ReleaseClassFactory(), 0);
    factory = library.GetClassFactory(&host::HostHooks());
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->GetModuleCount(), 3u);
}

}  // namespace
