// Fuzz target: the character-statistics document reader (StringInfoParser) on hostile JSON. The
// first byte picks the form of the rest:
//   odd  - the bytes are the document, read as the host hands it over;
//   even - the bytes describe a document built here: "Total" and a few groups and scripts whose
//          values are numbers, fractions, booleans, texts, nulls, arrays or objects, so that the
//          counts the parser gives can be checked against the reading rules of
//          glyphkit/unicodeutils.h.
// Checks: every answer is a count or one of the error values unicodeutils.h names, an uninitialised
// parser answers kNotInitialised everywhere, reading twice gives the same answers, and built
// documents read as unicodeutils.h says.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "glyphkit/unicodeutils.h"

namespace {

using ascommon::StringInfoParser;

const char* const kNames[] = {"Other", "EastAsian", "European", "Cyrillic", "Hiragana", "g5"};

int32_t Clamp(long double value) {
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : int32_t(value);
}

// The total without "Other", then the group and the script count of each name.
std::vector<int32_t> Ask(const std::string& document, bool* initialised) {
    StringInfoParser parser;
    *initialised = parser.initialize(ascommon::sstring(document.c_str()));
    std::vector<int32_t> answers{parser.GetTotalWithoutOther()};
    for (const char* name : kNames) {
        answers.push_back(parser.GetGroupCount(name));
        answers.push_back(parser.GetScriptCount(name));
    }
    FUZZ_CHECK(answers[0] >= 0 || answers[0] == StringInfoParser::kNotInitialised ||
                   answers[0] == StringInfoParser::kMissing,
               "total %d", answers[0]);
    for (int32_t v : answers)
        FUZZ_CHECK(*initialised || v == StringInfoParser::kNotInitialised, "uninitialised: %d", v);
    return answers;
}

// One JSON value drawn from the input, and the count the reading rules give for it: a number;
// a fraction, truncated toward zero; a boolean; a text read like atoi (blanks, digits); and
// values that count 0: a word, null, an array, an object.
std::string Value(fuzz::Input& input, int32_t* count) {
    const uint8_t kind = input.Byte() % 8;
    const uint64_t high = input.Byte(), middle = input.Byte();  // the far ends and the middle
    const int64_t number = static_cast<int64_t>(high << 56 | middle << 24 | input.Byte());
    char fraction[64];
    std::snprintf(fraction, sizeof fraction, "%.6Lf", static_cast<long double>(number) / 1024);
    // clang-format off
    const std::pair<std::string, int32_t> values[] = {
        {std::to_string(number), Clamp(number)}, {fraction, Clamp(std::trunc(std::strtod(fraction, nullptr)))},
        {number & 1 ? "true" : "false", number & 1}, {"\" " + std::to_string(number) + "abc\"", Clamp(number)},
        {"\"words\"", 0}, {"null", 0}, {"[1, 2]", 0}, {"{\"x\": 3}", 0}};
    // clang-format on
    *count = values[kind].second;
    return values[kind].first;
}

void CheckBuilt(fuzz::Input& input) {
    int32_t total = 0, counts[2][6];
    std::string document = "{\"Total\": " + Value(input, &total);
    for (int section = 0; section < 2; ++section) {
        document += section == 0 ? ", \"Groups\": {" : "}, \"Scripts\": {";
        for (int i = 0; i < 6; ++i)
            document += std::string(i ? ", \"" : "\"") + kNames[i] +
                        "\": " + Value(input, &counts[section][i]);
    }
    document += "}}";
    bool initialised = false;
    const std::vector<int32_t> answers = Ask(document, &initialised);
    const int64_t difference = static_cast<int64_t>(total) - counts[0][0];
    std::vector<int32_t> expected{difference >= 1 ? Clamp(difference)
                                                  : StringInfoParser::kNotInitialised};
    for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {counts[0][i], counts[1][i]});
    FUZZ_CHECK(initialised && answers == expected, "answers differ from the rules: %s",
               document.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    if (input.Byte() % 2 == 0) {
        CheckBuilt(input);
        return 0;
    }
    const std::string document = input.Rest();
    bool first = false, second = false;
    const std::vector<int32_t> answers = Ask(document, &first);
    FUZZ_CHECK(Ask(document, &second) == answers && first == second, "a second read differs");
    return 0;
}
