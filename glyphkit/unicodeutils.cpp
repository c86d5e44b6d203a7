// StringInfoParser. The module compiles JsonCpp into itself, so every block JsonCpp allocates
// comes from and returns to the same allocator as the rest of the module.
#include "glyphkit/unicodeutils.h"

#include <json/reader.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "common/ashooks_access.h"
#include "common/trace.h"

namespace ascommon {

namespace {

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// A count written as text reads like atoi: leading blanks, a sign, digits, the rest ignored;
// values beyond the 32-bit range are clamped.
int32_t CountFromText(const char* text) {
    if (text == nullptr) return 0;
    const long long value = std::strtoll(text, nullptr, 10);
    return ClampToInt32(value);
}

// The member `name` of an object; null when absent or when `object` is no object.
const Json::Value* Member(const Json::Value& object, const char* name) {
    return object.isObject() ? object.find(name, name + std::strlen(name)) : nullptr;
}

// The count stored under `name` in `object`: numbers and booleans by value (fractions truncated
// toward zero, values beyond the 32-bit range clamped to it), numeric text as above, anything
// else, or no such member, 0.
int32_t MemberCount(const Json::Value& object, const char* name) {
    const Json::Value* member = Member(object, name);
    if (member == nullptr) return 0;
    switch (member->type()) {
        case Json::intValue:
            return ClampToInt32(member->asLargestInt());
        case Json::uintValue: {
            const Json::LargestUInt value = member->asLargestUInt();
            return value > static_cast<Json::LargestUInt>(INT32_MAX) ? INT32_MAX
                                                                     : static_cast<int32_t>(value);
        }
        case Json::realValue: {
            const double value = member->asDouble();
            if (std::isnan(value)) return 0;
            if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
            if (value <= static_cast<double>(INT32_MIN)) return INT32_MIN;
            return static_cast<int32_t>(value);
        }
        case Json::booleanValue:
            return member->asBool() ? 1 : 0;
        case Json::stringValue:
            return CountFromText(member->asCString());
        default:
            return 0;
    }
}

}  // namespace

StringInfoParser::StringInfoParser() : m_document(), m_initialised(false) {}

bool StringInfoParser::initialize(const sstring& document) {
    m_initialised = false;
    m_document = Json::Value();
    if (!document.initialised()) return false;
    const char* text = document.c_str();
    const size_t length = std::strlen(text);
    const uint64_t failures = AllocationFailures();
    try {
        // The classic reader, comments dropped; what the parse returns is not looked at: what
        // it read stays.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        Json::Reader reader;
        reader.parse(text, text + length, m_document, false);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        // The reader's number conversions run on streams, which swallow a failed allocation
        // and report the number as malformed: such a parse read less than the document holds.
        if (AllocationFailures() != failures) throw std::bad_alloc();
        m_initialised = true;
    } catch (const std::bad_alloc&) {
        // Memory ran out: that is no verdict on the document, so it is not taken for one.
        m_document = Json::Value();
        throw;
    } catch (const std::exception& e) {
        AS_TRACE(4,
                 "[StringInfoParser::initialize]Exception when trying to parse string with "
                 "message: %s!",
                 e.what());
        m_document = Json::Value();
    }
    return m_initialised;
}

int32_t StringInfoParser::SectionCount(const char* section, const char* name) const {
    if (!m_initialised) return kNotInitialised;
    if (name == nullptr) return -1;
    const Json::Value* counts = Member(m_document, section);
    if (counts == nullptr) return kMissing;
    if (counts->size() == 0) return 0;
    return MemberCount(*counts, name);
}

int32_t StringInfoParser::GetGroupCount(const char* name) const {
    return SectionCount("Groups", name);
}

int32_t StringInfoParser::GetScriptCount(const char* name) const {
    return SectionCount("Scripts", name);
}

int32_t StringInfoParser::GetTotalWithoutOther() const {
    if (!m_initialised) return kNotInitialised;
    const Json::Value* groups = Member(m_document, "Groups");
    if (groups == nullptr) return kMissing;
    if (groups->size() == 0) return 0;
    if (Member(m_document, "Total") == nullptr) return kMissing;
    const int64_t total = MemberCount(m_document, "Total");
    const int64_t other = MemberCount(*groups, "Other");
    const int64_t difference = total - other;
    return difference >= 1 ? ClampToInt32(difference) : kNotInitialised;
}

}  // namespace ascommon
