// Scan reports: what a host says about one scanned message. The text line and the JSON object
// of molvex-scan (schema in docs/scan-output.md), the URL keys of --extract-urls, and the
// X-Molvex-Status / X-Molvex-Report header fields that a filter in a mail flow adds. Pure
// functions over a result and its policy verdict; any thread.
#pragma once

#include <string>

#include "host/policy.h"
#include "host/scanner.h"

namespace host {

// The version of the JSON object's layout; it changes when a key changes meaning or goes.
constexpr int kScanJsonSchema = 1;

// "NAME: DECISION score=N tests=a,b whitelisted=0 ... details\n", or "NAME: error: REASON\n".
std::string ScanTextLine(const std::string& name, const ScanResult& result,
                         const PolicyVerdict& verdict);

// One JSON object and "\n"; every key is always present (null where it does not apply).
std::string ScanJsonLine(const std::string& name, const ScanResult& result,
                         const PolicyVerdict& verdict);

// The extracted URL keys: text, a "== NAME" line, one key a line and a blank line; JSON, one
// object with the keys and the sender's domain.
std::string ExtractedText(const std::string& name, const ScanResult& result);
std::string ExtractedJson(const std::string& name, const ScanResult& result);

// The header fields' values (unfolded): "Yes, score=N, tests=a,b" (No for accept), and the
// report: the decision, then each test that hit with its score and details.
std::string StatusFieldValue(const PolicyVerdict& verdict);
std::string ReportFieldValue(const ScanResult& result, const PolicyVerdict& verdict);

// `message` with "X-Molvex-Status" and "X-Molvex-Report" in front of its header, folded at 78
// columns, with the line ends the message uses (CRLF when its first line ends so).
std::string WithStatusHeaders(const std::string& message, const ScanResult& result,
                              const PolicyVerdict& verdict);

// A text as valid UTF-8 for JSON: bytes that do not form UTF-8 are written as "\xNN".
std::string ValidUtf8(const std::string& text);

}  // namespace host
