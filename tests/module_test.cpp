// The built library driven only as a host drives it: dlopen, the three exports (on Linux also
// read from its dynamic symbol table: nothing else is exported) and the virtual slots of the
// factory and the modules, with the levels of the traces a host filters on. Nothing of the
// module's objects is linked in.
#ifndef _WIN32
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#endif

#include "common/asexception.h"
#include "test_support.h"

namespace {

using namespace testing_support;  // the suites' shared helpers

void QuietTrace(int32_t, const char*, ...) {}

using ModuleTest = ModuleFixture;

#ifndef _WIN32
// The defined global or weak symbols of the library's ELF64 .dynsym: the three entry points.
// (The Windows build checks its DLL's export table with objdump.)
TEST(ExportsTest, ExactlyTheThreeEntryPoints) {
    std::ifstream in(host::DefaultModulePath(), std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    ASSERT_TRUE(image.size() >= sizeof(Elf64_Ehdr) &&
                std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 &&
                header->e_ident[EI_CLASS] == ELFCLASS64);
    std::set<std::string> names;
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto* symbols =
            reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        for (size_t k = 0; k < sections[i].sh_size / sizeof(Elf64_Sym); ++k) {
            const int bind = ELF64_ST_BIND(symbols[k].st_info);
            if (symbols[k].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK)) {
                names.insert(strings + symbols[k].st_name);
            }
        }
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"GetASVersion", "GetClassFactory", "ReleaseClassFactory"}));
}
#endif

TEST_F(ModuleTest, VersionAndTypes) {
    uint32_t version[4] = {};
    m_library.GetASVersion(version);
    EXPECT_EQ(std::vector<uint32_t>(version, version + 4), (std::vector<uint32_t>{2, 21, 1, 1625}));
    ASSERT_EQ(m_factory->GetModuleCount(), 3u);  // their names: in the filters' messages
    for (uint64_t bad : {uint64_t{3}, UINT64_MAX}) {
        try {
            m_factory->GetModuleName(bad);
            ADD_FAILURE() << "no exception for index " << bad;
        } catch (const ascommon::InvalidIndexException& e) {
            EXPECT_EQ(e.GetCode(), static_cast<uint32_t>(ascommon::kErrNotInBlackbox));
        }
        EXPECT_THROW(m_factory->CreateModule(bad), ascommon::InvalidIndexException);
    }
}

TEST_F(ModuleTest, CreateModuleTracesAndGivesSeparateModules) {
    for (uint64_t index : {kBWFilter, kURLFilter, kMultiFilter}) {
        const std::string name = m_factory->GetModuleName(index)->c_str();
        SCOPED_TRACE(name);
        CAModule* first = m_factory->CreateModule(index);
        CAModule* second = m_factory->CreateModule(index);
        EXPECT_STREQ(first->m_name.c_str(), name.c_str());
        EXPECT_TRUE(first != second && first->m_sharedDataReady == 1 && first->m_sharedData &&
                    first->m_sharedData != second->m_sharedData);
        EXPECT_EQ(m_traces.Level("] - DE2ZE: Creating new module: [" + name + "]\n"), 1);
    }
    m_traces.lines.clear();
    const uint64_t before = host::Counters().allocations;
    CreateFilter(kBWFilter);
    ASSERT_EQ(m_traces.lines.size(), 1u);  // one line for each module, nothing more
    EXPECT_EQ(m_traces.lines[0].second.rfind("[ANTISPAM          ] [", 0), 0u);

    // Without memory for its shared data a module is still made and kept, and says so.
    host::FailAllocationNumber(host::Counters().allocations - before);  // the shared data is last
    CAModule* module = CreateFilter(kBWFilter);
    host::FailAllocationNumber(0);
    EXPECT_TRUE(module->m_sharedDataReady == 0 && module->m_sharedData == nullptr);
    EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(), static_cast<uint32_t>(ascommon::kErrMemory));
    EXPECT_EQ(HostError(), "Memory error while trying to allocate a new Shared data structure");
}

// A second GetClassFactory gives the same factory and installs its table; a second release
// finds nothing to release; the factory can be made again.
TEST_F(ModuleTest, SecondGetClassFactoryReleaseAndRebuild) {
    // A second table that allocates through the host hooks but keeps no trace lines.
    ASHookTable quiet = host::HostHooks();
    quiet._as_trace = QuietTrace;
    EXPECT_EQ(m_library.GetClassFactory(&quiet), m_factory);
    CreateFilter(kMultiFilter);
    EXPECT_TRUE(m_traces.lines.empty());
    m_library.ReleaseClassFactory();  // puts the first table back
    EXPECT_EQ(m_library.ReleaseClassFactory(), 0);
    m_factory = m_library.GetClassFactory(&host::HostHooks());
    ASSERT_NE(m_factory, nullptr);
    CreateFilter(kMultiFilter);
    EXPECT_TRUE(m_traces.Contains("DE2ZE: Creating new module: [Eml Multipurpose Filter]"));
}

TEST_F(ModuleTest, IsEnabledMatrix) {
    // clang-format off
    struct { int global, own; bool enabled; } rows[] = {  // -1: absent; global 2 is not "all on"
        {-1, -1, true}, {-1, 0, false}, {-1, 1, true}, {-1, 2, false}, {1, 0, true}, {1, 2, true},
        {2, 1, true}, {2, 2, false}, {0, -1, true}, {0, 0, false}};
    // clang-format on
    const char* keys[] = {"/eml/filter/bwfilter/Enabled", "/eml/filter/urlfilter/Enabled",
                          "/eml/filter/multi/Enabled"};
    for (uint64_t index : {kBWFilter, kURLFilter, kMultiFilter}) {
        CAModule* module = CreateFilter(index);
        for (const auto& row : rows) {
            m_settings.Clear();
            if (row.global >= 0) m_settings.SetInt("/eml/global/AllFiltersEnabled", row.global);
            if (row.own >= 0) m_settings.SetInt(keys[index], row.own);
            EXPECT_EQ(module->IsEnabled(1), row.enabled)
                << keys[index] << " global " << row.global << " own " << row.own;
        }
    }
    m_settings.Clear();
    m_settings.SetSessionInt(host::WidenKey("/eml/filter/multi/Enabled").c_str(), 9, 0);
    CAModule* multi = CreateFilter(kMultiFilter);
    EXPECT_FALSE(multi->IsEnabled(9));  // the session's own value
    EXPECT_TRUE(multi->IsEnabled(8));
}

TEST_F(ModuleTest, UnitTestVerbModesAndReservedSlot) {
    for (uint64_t index : {kBWFilter, kURLFilter, kMultiFilter}) {
        filter = CreateFilter(index);
        EXPECT_EQ(filter->UnitTest(), 1);
        EXPECT_EQ(m_traces.Level(std::string("module [") + filter->m_name.c_str() +
                                 "] does not implement unit testing\n"),
                  3);
        ascommon::sstring name;
        std::swap(name, filter->m_name);  // a module whose name has no text: the fallback name
        filter->UnitTest();
        EXPECT_EQ(m_traces.Level("module [] does not implement unit testing\n"), 3);
        std::swap(name, filter->m_name);
        for (uint32_t verb : {0u, 10u, 11u, 12u, 21u, 1804u}) {
            const uint8_t expected = index == kBWFilter ? ((verb == 11 || verb == 12) ? 0 : 2) : 1;
            EXPECT_EQ(filter->GetVerbMode(verb), expected) << index << " verb " << verb;
        }
    }
}

// Unknown sessions and null entities: the filter's message for the host, the level of the trace.
TEST_F(ModuleTest, FailuresReachTheHostWithTheFilterMessage) {
    CAFilter* multi = CreateFilter(kMultiFilter);
    EXPECT_EQ(multi->ApplySessionSettings(4242), ascommon::kErrInternal);
    EXPECT_EQ(m_traces.Level("invalid session or session not initialized for ID (4242)"), 2);
    EXPECT_EQ(m_traces.Level("Module Eml Multipurpose Filter failed to apply session settings "
                             "with message: ASInternalException - MESSAGE: No session data "
                             "struct!\n"),
              2);
    EXPECT_EQ(HostError(), "ASInternalException - MESSAGE: No session data struct!");
    EXPECT_EQ(ascommon::DefaultGetErr()->GetNumber(),
              static_cast<uint32_t>(ascommon::kErrInternal));

    EXPECT_EQ(CreateFilter(kURLFilter)->ProcessEntity(1, nullptr, 0), ascommon::kErrInternal);
    EXPECT_EQ(HostError(),
              "Module Eml URL Filter failed to process entity with message: ASBadPtrException - "
              "MESSAGE: invalid item received for processing");
    CAFilter* bw = CreateFilter(kBWFilter);
    ASEntity entity = {nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(bw->ProcessEntity(77, &entity, 0), ascommon::kErrInternal);  // no such session
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process entity with message: "
              "ASBadPtrException - MESSAGE: CBWFilter - Invalid data structure pointer");
    // The fallback name stands in when the module has no name buffer.
    bw->m_name = ascommon::sstring();
    EXPECT_EQ(bw->ProcessEntity(77, &entity, 0), ascommon::kErrInternal);
    EXPECT_EQ(HostError().rfind("Module  failed to process entity", 0), 0u);
}

TEST_F(ModuleTest, ReleaseFreesOpenSessionsAndEverythingElse) {
    m_settings.Set("/eml/global/SharedLibsPathNew", LibraryFolder());
    CAFilter* bw = CreateFilter(kBWFilter);
    ASSERT_EQ(bw->ApplySharedSettings(), 0) << HostError();
    CAFilter* multi = CreateFilter(kMultiFilter);
    for (uint64_t id : {1, 2, 3}) ASSERT_EQ(host::OpenSession(bw, id), 0);
    ASSERT_EQ(host::OpenSession(multi, 1), 0);
    ASSERT_EQ(multi->m_sessions.insert(7, nobjSessionInfo{nullptr, false}), 0);  // never created
    CreateFilter(kURLFilter);
    m_traces.lines.clear();

    m_library.ReleaseClassFactory();
    m_factory = nullptr;
    EXPECT_EQ(std::string(ascommon::ThreadErrorRecord()->message),
              "Session ID not defined! [7]. Cannot release");
    for (const char* text : {"Destructing the Black/White List filter with name Eml Blacklist",
                             "The URL Filter with name Eml URL Filter is about to be destructed",
                             "Multipurpose Filter destructor"}) {
        EXPECT_TRUE(m_traces.Contains(text)) << text;
    }
    ASSERT_FALSE(m_traces.lines.empty());
    EXPECT_NE(m_traces.lines[0].second.find("Releasing CMolvexClassFactory"), std::string::npos);
}

}  // namespace
