// The settings registry (every key: a good value, a bad one, a misspelt neighbour), the files
// generated from it, the decision policy and the header fields of a report.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "host/policy.h"
#include "host/scan_config.h"
#include "host/scan_report.h"
#include "host/settings_registry.h"
#include "temp_folder.h"

namespace {

using host::SettingType;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SettingsRegistry, EveryKeyChecksItsValues) {
    for (const host::SettingInfo& info : host::SettingsRegistry()) {
        SCOPED_TRACE(info.key);
        std::string value, error;
        EXPECT_TRUE(host::CheckSetting(info.key, info.defaultValue, &value, &error)) << error;
        const char* bad = info.type == SettingType::kBool     ? "maybe"
                          : info.type == SettingType::kAction ? "drop"
                          : info.type == SettingType::kInt    ? "12x"
                          : info.type == SettingType::kSize   ? "-1"
                                                              : nullptr;
        if (bad != nullptr) {
            EXPECT_FALSE(host::CheckSetting(info.key, bad, &value, &error));
            EXPECT_NE(error.find(info.key), std::string::npos) << error;
        }
        if (info.type == SettingType::kInt || info.type == SettingType::kSize) {
            for (int64_t n : {info.min - 1, info.max + 1})
                EXPECT_FALSE(host::CheckSetting(info.key, std::to_string(n), &value, &error)) << n;
            EXPECT_TRUE(host::CheckSetting(info.key, std::to_string(info.max), &value, &error));
        }
        std::string typo = info.key;
        typo[typo.size() / 2 + 3] ^= 0x20;  // one letter in the wrong case or one sign off
        EXPECT_FALSE(host::CheckSetting(typo, info.defaultValue, &value, &error));
        EXPECT_NE(error.find(std::string("did you mean ") + info.key), std::string::npos) << error;
    }
    std::string value, error;
    ASSERT_TRUE(host::CheckSetting("/eml/filter/multi/MaxFileSize", "100K", &value, &error));
    EXPECT_EQ(value, "102400");
    ASSERT_TRUE(host::CheckSetting("/eml/filter/multi/Enabled", "Off", &value, &error));
    EXPECT_EQ(value, "0");
    EXPECT_FALSE(host::CheckSetting("/nothing/like/it", "1", &value, &error));
    EXPECT_EQ(error, "unknown setting /nothing/like/it");
}

TEST(SettingsRegistry, GeneratedFilesAreCurrent) {
    EXPECT_EQ(ReadText(MOLVEX_SOURCE "/samples/molvex.conf"), host::RegistryAsConfigFile())
        << "run: build/molvex-scan --print-defaults > samples/molvex.conf";
    EXPECT_NE(ReadText(MOLVEX_SOURCE "/docs/configuration.md")
                  .find("<!-- registry begin -->\n" + host::RegistryAsMarkdown() +
                        "<!-- registry end -->"),
              std::string::npos)
        << "the table of docs/configuration.md is not molvex-scan --print-defaults=markdown";
}

TEST(SettingsRegistry, FilesTakeBomCrlfAndEndComments) {
    testfiles::TempFolder folder;
    testfiles::WriteFile(folder / "a.conf",
                         "\xEF\xBB\xBF# c\r\n/molvex/policy/TagScore = 7  # seven\r\n");
    testfiles::WriteFile(folder / "a.txt", "\xEF\xBB\xBF*@x.example\r\n");
    host::SettingList settings;
    std::vector<std::string> list;
    std::string error;
    ASSERT_TRUE(host::ReadSettingsFile(folder / "a.conf", &settings, &error)) << error;
    EXPECT_EQ(settings, (host::SettingList{{"/molvex/policy/TagScore", "7"}}));
    ASSERT_TRUE(host::ReadListFile(folder / "a.txt", &list, &error));
    EXPECT_EQ(list, std::vector<std::string>{"*@x.example"});
}

host::ScanResult Hits(std::initializer_list<const char*> tests) {
    host::ScanResult r;
    r.ok = true;
    for (size_t i = 0; i < host::kVerdictCount; ++i) {
        r.verdicts[i] = 0;
        for (const char* t : tests) r.verdicts[i] |= std::string(t) == host::kVerdictKeys[i].name;
    }
    return r;
}

TEST(Policy, ScoresActionsThresholdsAndWhitelisting) {
    const host::Policy defaults;
    const host::Policy strict({{"/molvex/policy/url/Action", "reject"},
                               {"/molvex/policy/WhitelistAccepts", "0"},
                               {"/molvex/policy/QuarantineScore", "0"}});
    struct Row {
        const host::Policy& policy;
        std::initializer_list<const char*> tests;
        host::Decision decision;
        int32_t score;
    } rows[] = {
        {defaults, {}, host::Decision::kAccept, 0},
        {defaults, {"cyrillic"}, host::Decision::kAccept, 3},
        {defaults, {"charset", "cyrillic"}, host::Decision::kTag, 5},
        {defaults, {"url", "charset"}, host::Decision::kQuarantine, 10},
        {defaults, {"url", "explicit", "asian"}, host::Decision::kReject, 17},
        {defaults, {"gtube"}, host::Decision::kReject, 100},  // by its action
        {defaults, {"whitelisted", "blacklisted"}, host::Decision::kAccept, 0},
        {defaults, {"whitelisted", "gtube"}, host::Decision::kReject, 0},
        {strict, {"url"}, host::Decision::kReject, 8},
        {strict, {"url", "charset"}, host::Decision::kReject, 10},
        {strict, {"whitelisted", "blacklisted"}, host::Decision::kReject, 0},
    };
    for (const Row& row : rows) {
        const host::PolicyVerdict v = row.policy.Decide(Hits(row.tests));
        EXPECT_EQ(v.decision, row.decision) << v.score;
        EXPECT_EQ(v.score, row.score);
    }
}

TEST(ScanReport, HeaderFieldsFoldAndKeepLineEnds) {
    host::ScanResult r = Hits({"url"});
    r.urlKeys = "first-listed.example second-listed.example third-listed.example";
    const host::PolicyVerdict v = host::Policy().Decide(r);
    EXPECT_EQ(host::WithStatusHeaders("Subject: x\r\n\r\nbody", r, v),
              "X-Molvex-Status: Yes, score=8, tests=url\r\n"
              "X-Molvex-Report: decision=tag; url (listed first-listed.example\r\n"
              "\tsecond-listed.example third-listed.example)\r\n"
              "Subject: x\r\n\r\nbody");
    EXPECT_EQ(host::ValidUtf8("a\xff\xc3\xa9"), "a\\xFF\xc3\xa9");
}

}  // namespace
