// Fuzz target: the character-statistics document reader (StringInfoParser) on hostile JSON. The
// first byte picks the form of the rest:
//   odd  - the bytes are the document, read as the host hands it over;
//   even - the bytes describe a document built here: "Total" and a few groups and scripts whose
//          values are numbers, fractions, booleans, texts, nulls, arrays or objects, so that the
//          counts the parser gives can be checked against the reading rules of
//          glyphkit/unicodeutils.h.
// Checks: every answer is a count or one of the error values unicodeutils.h names, an uninitialised
// parser answers -50 everywhere, reading twice gives the same answers, and built documents read as
// unicodeutils.h says.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "glyphkit/unicodeutils.h"

namespace {

using ascommon::StringInfoParser;

constexpr int32_t kNotInitialised = StringInfoParser::kNotInitialised;
constexpr int32_t kMissing = StringInfoParser::kMissing;

const char* const kNames[] = {"Other", "EastAsian", "European", "Cyrillic", "Hiragana", "g5"};

int32_t Clamp(long double value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

struct Answers {
    std::vector<int32_t> values;
    bool operator==(const Answers& o) const { return values == o.values; }
};

Answers Ask(const std::string& document, bool* initialised) {
    StringInfoParser parser;
    *initialised = parser.initialize(ascommon::sstring(document.c_str()));
    Answers answers;
    answers.values.push_back(parser.GetTotalWithoutOther());
    for (const char* name : kNames) {
        answers.values.push_back(parser.GetGroupCount(name));
        answers.values.push_back(parser.GetScriptCount(name));
    }
    const int32_t total = answers.values[0];
    FUZZ_CHECK(total >= 0 || total == kNotInitialised || total == kMissing, "total %d", total);
    if (!*initialised) {
        for (int32_t v : answers.values) FUZZ_CHECK(v == kNotInitialised, "uninitialised: %d", v);
    }
    return answers;
}

// One JSON value drawn from the input, and the count the reading rules give for it.
std::string Value(fuzz::Input& input, int32_t* count) {
    const uint8_t kind = input.Byte() % 8;
    uint64_t bits = static_cast<uint64_t>(input.Byte()) << 56;  // the far ends and the middle
    bits |= static_cast<uint64_t>(input.Byte()) << 24;
    bits |= input.Byte();
    const int64_t number = static_cast<int64_t>(bits);
    switch (kind) {
        case 0:
            *count = Clamp(number);
            return std::to_string(number);
        case 1: {  // a fraction, truncated toward zero
            char text[64];
            std::snprintf(text, sizeof text, "%.6Lf", static_cast<long double>(number) / 1024);
            *count = Clamp(std::trunc(std::strtod(text, nullptr)));
            return text;
        }
        case 2:
            *count = number & 1;
            return number & 1 ? "true" : "false";
        case 3: {
            const std::string digits = std::to_string(number);
            const std::string text = " " + digits + "abc";  // read like atoi: blanks, digits
            *count = Clamp(std::strtoll(text.c_str(), nullptr, 10));
            return "\"" + text + "\"";
        }
        case 4:
            *count = 0;
            return "\"words\"";
        case 5:
            *count = 0;
            return "null";
        case 6:
            *count = 0;
            return "[1, 2]";
        default:
            *count = 0;
            return "{\"x\": 3}";
    }
}

void CheckBuilt(fuzz::Input& input) {
    int32_t total = 0;
    std::string document = "{\"Total\": " + Value(input, &total);
    int32_t groups[6], scripts[6];
    for (auto* section : {&groups, &scripts}) {
        document += section == &groups ? ", \"Groups\": {" : ", \"Scripts\": {";
        for (int i = 0; i < 6; ++i) {
            document += std::string(i ? ", " : "") + "\"" + kNames[i] +
                        "\": " + Value(input, &(*section)[i]);
        }
        document += "}";
    }
    document += "}";
    bool initialised = false;
    const Answers answers = Ask(document, &initialised);
    FUZZ_CHECK(initialised, "built document not read: %s", document.c_str());
    const int64_t difference = static_cast<int64_t>(total) - groups[0];
    const int32_t expected = difference >= 1 ? Clamp(difference) : kNotInitialised;
    FUZZ_CHECK(answers.values[0] == expected, "total %d, expected %d: %s", answers.values[0],
               expected, document.c_str());
    for (int i = 0; i < 6; ++i) {
        FUZZ_CHECK(
            answers.values[1 + 2 * i] == groups[i] && answers.values[2 + 2 * i] == scripts[i],
            "%s: group %d (expected %d), script %d (expected %d): %s", kNames[i],
            answers.values[1 + 2 * i], groups[i], answers.values[2 + 2 * i], scripts[i],
            document.c_str());
    }
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
    const Answers answers = Ask(document, &first);
    FUZZ_CHECK(Ask(document, &second) == answers && first == second, "a second read differs");
    return 0;
}
