// Scanner: module set-up and one message through all three filters.
#include "host/scanner.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "common/aserrno.h"
#include "common/convert.h"
#include "host/blackbox_store.h"
#include "host/host_hooks.h"
#include "host/mail_parser.h"
#include "host/mail_records.h"

namespace host {

namespace {

constexpr uint32_t kMultiVerbs[] = {asbb::kTestGtube,      asbb::kTestSexuallyExplicit,
                                    asbb::kTestCharsets,   asbb::kTestOversized,
                                    asbb::kTestAsianShare, asbb::kTestCyrillicShare};
const char* const kFilterNames[3] = {"black/white list filter", "URL filter",
                                     "multipurpose filter"};

std::string HostError() {
    const char* text = ascommon::DefaultGetErr()->GetText();
    return text ? text : "";
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The expressions as the list command takes them: UTF-16 texts in a list object.
bool WideList(const std::vector<std::string>& expressions, WideTextList* list, std::string* error) {
    // The array grows by a fixed step, copying every text each time: size it once.
    if (!expressions.empty() && list->resize(expressions.size(), false) != 0) {
        *error = "out of memory while loading the lists";
        return false;
    }
    for (const std::string& expression : expressions) {
        ascommon::usstring wide;
        if (ascommon::Utf8ToUsstring(expression.data(), expression.size(), wide) != 0) {
            *error = "list expression is not valid UTF-8: " + expression;
            return false;
        }
        if (list->add(wide) != 0) {
            *error = "out of memory while loading the lists";
            return false;
        }
    }
    return true;
}

}  // namespace

ScanConfig BuiltInScanConfig(const std::string& tempFolder, const std::string& dataFolder) {
    ScanConfig config;
    config.libraryPath = DefaultModulePath();
    config.settings = EssentialSettings(FolderOf(config.libraryPath), tempFolder, dataFolder);
    const SettingList defaults = DefaultSettings();
    config.settings.insert(config.settings.end(), defaults.begin(), defaults.end());
    return config;
}

bool Scanner::Open(const ScanConfig& config, std::string* error) {
    Close();
    if (!InitMailParser()) {
        *error = "the MIME parser could not be initialised";
        return false;
    }
    if (!m_library.Open(config.libraryPath)) {
        *error = m_library.error();
        return false;
    }
    CaptureTraces(config.traceLevel);
    if (config.traceLevel > 0) {
        SetTraceSink([](int32_t, const std::string& line) { std::fputs(line.c_str(), stderr); });
    }
    m_factory = m_library.GetClassFactory(&HostHooks());
    if (m_factory == nullptr) {
        *error = "the module could not create its class factory";
        Close();
        return false;
    }
    if (!Configure(config, error) || !LoadLists(config, error)) {
        Close();
        return false;
    }
    return true;
}

bool Scanner::Configure(const ScanConfig& config, std::string* error) {
    // An empty value leaves the key unset: the module's own default applies (no URL list, for
    // an empty list of file names).
    for (const auto& [key, value] : config.settings) {
        if (value.empty()) {
            m_settings.Remove(WidenKey(key).c_str());
        } else {
            m_settings.Set(key, value);
        }
    }
    for (uint32_t i = 0; i < 3; ++i) {
        m_filters[i] = static_cast<CAFilter*>(m_factory->CreateModule(i));
        if (m_filters[i] == nullptr) {
            *error = std::string("the module could not create its ") + kFilterNames[i];
            return false;
        }
        m_filters[i]->m_settings = &m_settings;
        if (m_filters[i]->ApplySharedSettings() != 0) {
            *error =
                std::string("the ") + kFilterNames[i] + " rejected the settings: " + HostError();
            return false;
        }
        if (OpenSession(m_filters[i], kSession) != 0) {
            *error =
                std::string("the ") + kFilterNames[i] + " could not open a session: " + HostError();
            return false;
        }
        m_sessionOpen[i] = true;
    }
    return true;
}

bool Scanner::LoadLists(const ScanConfig& config, std::string* error) {
    if (config.blacklist.empty() && config.whitelist.empty()) return true;
    auto* black = new WideTextList();
    auto* white = new WideTextList();
    BlackBoxStore io;  // owns both lists from here on
    io.PutObject(asbb::kBlackListItems, asbb::kWideTextList, black, true);
    io.PutObject(asbb::kWhiteListItems, asbb::kWideTextList, white, true);
    if (!WideList(config.blacklist, black, error) || !WideList(config.whitelist, white, error)) {
        return false;
    }
    if (m_filters[0]->ProcessCommand(kSession, asbb::kLoadLists, &io) != 0) {
        *error = "the address lists could not be loaded: " + HostError();
        return false;
    }
    return true;
}

void Scanner::Close() {
    for (uint32_t i = 0; i < 3; ++i) {
        if (m_sessionOpen[i]) CloseSession(m_filters[i], kSession);
        m_sessionOpen[i] = false;
        m_filters[i] = nullptr;
    }
    if (m_factory != nullptr) m_library.ReleaseClassFactory();
    m_factory = nullptr;
    SetTraceSink(nullptr);
    m_library.Close();
    m_settings.Clear();
}

ScanResult Scanner::Scan(const char* data, size_t size, bool extractUrls, uint64_t fullSize) {
    try {
        return ScanMessage(data, size, extractUrls, fullSize > size ? fullSize : size);
    } catch (const std::bad_alloc&) {
        ScanResult result;
        result.size = fullSize > size ? fullSize : size;
        result.error =
            "out of memory while scanning a message of " + std::to_string(result.size) + " bytes";
        return result;
    }
}

ScanResult Scanner::ScanMessage(const char* data, size_t size, bool extractUrls,
                                uint64_t fullSize) {
    ScanResult result;
    result.size = fullSize;
    const auto start = std::chrono::steady_clock::now();
    ParsedMail mail;
    if (!ParseMail(data, size, &mail, &result.error)) return result;
    result.defects = std::move(mail.defects);
    result.charsets = std::move(mail.charsets);
    MailFacts facts;
    std::unique_ptr<Message> message = BuildMailRecords(std::move(mail), fullSize, &facts);
    result.urls = facts.urls;
    result.asianPercent = facts.asianPercent;
    result.cyrillicPercent = facts.cyrillicPercent;
    result.declaredCharsets = std::move(facts.declaredCharsets);
    result.senderDomain = std::move(facts.senderDomain);
    result.parseSeconds = Since(start);

    const auto moduleStart = std::chrono::steady_clock::now();
    BlackBoxStore extra;
    char* extracted = nullptr;
    size_t extractedSize = 0;
    FILE* stream = nullptr;
    if (extractUrls) {
        stream = open_memstream(&extracted, &extractedSize);
        if (stream == nullptr) {
            result.error = "no memory for the extracted URLs";
            return result;
        }
        extra.PutObject(asbb::kUrlKeyStream, asbb::kObject,
                        reinterpret_cast<ascommon::CBlackBoxObject*>(stream), false);
    }
    ASEntity entity = {nullptr, nullptr, &message->blackbox(), &extra};
    auto run = [&](uint32_t filter, uint32_t verb) {
        if (m_filters[filter]->ProcessEntity(kSession, &entity, verb) != 0) {
            result.moduleErrors.push_back(std::string(kFilterNames[filter]) + " verb " +
                                          std::to_string(verb) + ": " + HostError());
        }
    };
    if (m_filters[0]->IsEnabled(kSession)) run(0, asbb::kJudge);
    if (m_filters[1]->IsEnabled(kSession)) {
        if (extractUrls)
            run(1, asbb::kExtractUrlKeys);  // first: it writes the URL verdicts too (as not found)
        run(1, asbb::kCheckUrls);
    }
    if (m_filters[2]->IsEnabled(kSession)) {
        for (uint32_t verb : kMultiVerbs) run(2, verb);
    }
    if (stream != nullptr) {
        std::fclose(stream);
        result.extracted.assign(extracted ? extracted : "", extractedSize);
        std::free(extracted);
    }
    result.moduleSeconds = Since(moduleStart);

    BlackBoxStore& box = message->blackbox();
    for (size_t i = 0; i < kVerdictCount; ++i) {
        if (box.SetCalls(kVerdictKeys[i].key) > 0) {
            result.verdicts[i] = static_cast<int32_t>(box.IntValue(kVerdictKeys[i].key, 0));
        }
    }
    result.hasExpression = box.Has(asbb::kMatchedExpression);
    if (result.hasExpression) result.expression = box.Text(asbb::kMatchedExpression);
    result.urlKeys = box.Text(asbb::kUrlMatchedKeys);
    while (!result.urlKeys.empty() && result.urlKeys.back() == ' ') result.urlKeys.pop_back();
    result.ok = true;
    return result;
}

}  // namespace host
