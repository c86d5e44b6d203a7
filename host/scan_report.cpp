// Scan reports: text lines, JSON objects and header fields.
#include "host/scan_report.h"

#include <json/json.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <sstream>
#include <vector>

namespace host {

namespace {

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return out + "\"";
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
    return out;
}

// The details of one test that hit, or "" when it has none to show.
std::string Details(const ScanResult& r, uint32_t key) {
    switch (key) {
        case asbb::kWhitelisted:
        case asbb::kBlacklisted:
            return r.hasExpression ? "expression " + Quote(r.expression) : "";
        case asbb::kUrlListed:
            return "listed " + Join(Words(r.urlKeys), " ");
        case asbb::kCharsetHit:
        case asbb::kAsianCharset:
            return "declared " + Join(r.declaredCharsets, " ");
        case asbb::kAsianShare:
            return Percent(r.asianPercent) + "% Asian";
        case asbb::kCyrillicShare:
            return Percent(r.cyrillicPercent) + "% Cyrillic";
        case asbb::kOversized:
            return std::to_string(r.size) + " bytes";
        default:
            return "";
    }
}

std::string WriteJson(const Json::Value& value) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value) + "\n";
}

Json::Value Array(const std::vector<std::string>& items) {
    Json::Value array(Json::arrayValue);
    for (const std::string& item : items) array.append(ValidUtf8(item));
    return array;
}

Json::Value TextOrNull(bool present, const std::string& text) {
    return present ? Json::Value(ValidUtf8(text)) : Json::Value(Json::nullValue);
}

}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0) {
            out.append(text, start, i - start);
        } else {
            for (int32_t j = start; j < i; ++j) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", bytes[j]);
                out += escaped;
            }
        }
    }
    return out;
}

std::string ScanTextLine(const std::string& name, const ScanResult& r, const PolicyVerdict& v) {
    std::string line = name + ":";
    if (!r.ok) return line + " error: " + r.error + "\n";
    line += std::string(" ") + DecisionName(v.decision) + " score=" + std::to_string(v.score) +
            " tests=" + (v.tests.empty() ? "none" : Join(v.tests, ","));
    for (size_t i = 0; i < kVerdictCount; ++i) {
        if (r.verdicts[i] >= 0) {
            line += " " + std::string(kVerdictKeys[i].name) + "=" + std::to_string(r.verdicts[i]);
        }
    }
    if (!r.truncated.empty()) line += " truncated=" + Quote(r.truncated);
    if (r.hasExpression && !r.expression.empty()) line += " expression=" + Quote(r.expression);
    if (!r.urlKeys.empty()) line += " url-keys=" + Quote(r.urlKeys);
    if (r.HitOf(asbb::kCharsetHit) || r.HitOf(asbb::kAsianCharset))
        line += " charsets=" + Quote(Join(r.declaredCharsets, " "));
    if (r.HitOf(asbb::kAsianShare)) line += " asian-percent=" + Percent(r.asianPercent);
    if (r.HitOf(asbb::kCyrillicShare)) line += " cyrillic-percent=" + Percent(r.cyrillicPercent);
    if (r.HitOf(asbb::kOversized)) line += " size=" + std::to_string(r.size);
    for (const std::string& e : r.moduleErrors) line += " module-error=" + Quote(e);
    return line + "\n";
}

std::string ScanJsonLine(const std::string& name, const ScanResult& r, const PolicyVerdict& v) {
    Json::Value o(Json::objectValue);
    o["schema"] = kScanJsonSchema;
    o["file"] = ValidUtf8(name);
    o["ok"] = r.ok;
    o["error"] = TextOrNull(!r.ok, r.error);
    o["decision"] = r.ok ? Json::Value(DecisionName(v.decision)) : Json::Value(Json::nullValue);
    o["score"] = r.ok ? Json::Value(v.score) : Json::Value(Json::nullValue);
    o["tests"] = Array(v.tests);
    Json::Value verdicts(Json::objectValue);
    for (size_t i = 0; i < kVerdictCount; ++i) {
        // null: the test did not run (its filter is off, or the message failed)
        verdicts[kVerdictKeys[i].name] =
            r.verdicts[i] < 0 ? Json::Value(Json::nullValue) : Json::Value(r.verdicts[i] > 0);
    }
    o["verdicts"] = verdicts;
    o["expression"] = TextOrNull(r.hasExpression, r.expression);
    o["url-keys"] = Array(Words(r.urlKeys));
    o["declared-charsets"] = Array(r.declaredCharsets);
    o["charsets"] = Array(r.charsets);
    o["asian-percent"] = r.asianPercent;
    o["cyrillic-percent"] = r.cyrillicPercent;
    o["size"] = Json::UInt64(r.size);
    o["urls"] = Json::UInt64(r.urls);
    o["sender-domain"] = TextOrNull(!r.senderDomain.empty(), r.senderDomain);
    o["truncated"] = TextOrNull(!r.truncated.empty(), r.truncated);
    o["defects"] = Array(r.defects);
    o["module-errors"] = Array(r.moduleErrors);
    return WriteJson(o);
}

std::string ExtractedText(const std::string& name, const ScanResult& r) {
    std::string out = "== " + name;
    if (!r.senderDomain.empty()) out += " (sender domain " + r.senderDomain + ")";
    return out + "\n" + r.extracted +
           (r.extracted.empty() || r.extracted.back() == '\n' ? "" : "\n") + "\n";
}

std::string ExtractedJson(const std::string& name, const ScanResult& r) {
    Json::Value o(Json::objectValue);
    o["schema"] = kScanJsonSchema;
    o["file"] = ValidUtf8(name);
    o["url-keys"] = Array(Words(r.extracted));
    o["sender-domain"] = TextOrNull(!r.senderDomain.empty(), r.senderDomain);
    return WriteJson(o);
}

std::string StatusFieldValue(const PolicyVerdict& v) {
    return std::string(v.decision == Decision::kAccept ? "No" : "Yes") +
           ", score=" + std::to_string(v.score) +
           ", tests=" + (v.tests.empty() ? "none" : Join(v.tests, ","));
}

std::string ReportFieldValue(const ScanResult& r, const PolicyVerdict& v) {
    std::string report = std::string("decision=") + DecisionName(v.decision);
    for (size_t i = 0; i < kVerdictCount; ++i) {
        if (!r.Hit(i)) continue;
        report += "; " + std::string(kVerdictKeys[i].name);
        const std::string details = Details(r, kVerdictKeys[i].key);
        if (!details.empty()) report += " (" + details + ")";
    }
    return report;
}

std::string WithStatusHeaders(const std::string& message, const ScanResult& result,
                              const PolicyVerdict& verdict) {
    const size_t firstEnd = message.find('\n');
    const char* eol = firstEnd != std::string::npos && firstEnd > 0 && message[firstEnd - 1] == '\r'
                          ? "\r\n"
                          : "\n";
    // Folds at blanks so that no line passes 78 columns where a blank allows.
    auto field = [eol](const std::string& name, const std::string& value) {
        std::string out = name + ":";
        size_t column = out.size();
        for (const std::string& word : Words(value)) {
            if (column + 1 + word.size() > 78 && column > name.size() + 1) {
                out += eol;
                out += "\t";
                column = 8;
            } else {
                out += " ";
                ++column;
            }
            out += word;
            column += word.size();
        }
        return out + eol;
    };
    return field("X-Molvex-Status", StatusFieldValue(verdict)) +
           field("X-Molvex-Report", ReportFieldValue(result, verdict)) + message;
}

}  // namespace host
