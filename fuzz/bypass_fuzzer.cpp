// Differential check of the parser's two ways round GMime (runs of plain header fields, runs of
// plain parts) against GMime parsing the whole message: both must give the same records, in the
// same order, with the same defects and charset notes. The input is the text of one header block
// and the text of one part, split at the first 0x01 byte; the message repeats the first enough
// times for the header runs to be taken, in its own header block and in two parts, and the second
// enough times for the part runs, so that every input reaches both ways whatever it holds.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "host/mail_parser.h"
#include "host/plain_parts.h"

namespace {

constexpr const char* kSplitSensitive[] = {"invalid header line", "part without"};
constexpr size_t kFullDefects = 64;  // the parser's cap on its list

// Every field of the parse, one line each (texts may hold any byte; the lines are only compared);
// the defects as a set.
std::string Summary(const host::ParsedMail& mail) {
    std::string out;
    const auto fields = [&out](const host::HeaderFields& h) {
        out += "subject " + std::to_string(h.hasSubject) + h.subject + "\ntype " +
               std::to_string(h.hasContentType) + h.mediaType + "|" +
               h.contentCharset.value_or("-") + "|" + h.subjectCharset.value_or("-") + "\n";
        for (const auto& [name, list] : h.addresses) {
            out += name;
            for (const std::string& address : list) out += " " + address;
            out += "\n";
        }
        for (const auto& [name, value] : h.others) out += name + ": " + value + "\n";
    };
    fields(mail.root);
    for (const host::PartFields& part : mail.parts) {
        out += "part " + std::to_string(part.kind) + " " + part.text + "\n";
        fields(part.headers);
    }
    // GMime reads its input in 4 KB buffers, and what it says of a line that a buffer splits
    // (an invalid header line, a part without headers or content) depends on where the split
    // falls, which the ways round move: those defects are left out, the others compared as a set.
    // A full list may have kept different defects: it is left out too.
    std::set<std::string> defects;
    for (const std::string& line : mail.defects) {
        bool split = false;
        for (const char* kind : kSplitSensitive) split = split || line.rfind(kind, 0) == 0;
        if (!split) defects.insert(line);
    }
    if (mail.defects.size() < kFullDefects) {
        for (const std::string& line : defects) out += "defect " + line + "\n";
    }
    for (const std::string& line : mail.charsets) out += "charset " + line + "\n";
    return out + "sender " + mail.senderDomain;
}

// A continuation line, or a name (no control byte, no blank but before the colon) and a colon;
// no NUL byte.
bool ValidHeaderLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) return false;
    if (line[0] == ' ' || line[0] == '\t') return true;
    bool blank = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == ':') return i > 0;
        if (c == ' ' || c == '\t') {
            blank = true;
        } else if (blank || c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return false;
}

std::string Parse(const std::string& message, bool bypass, bool* ok) {
    host::SetGMimeBypass(bypass);
    host::ParsedMail mail;
    std::string error;
    *ok = host::ParseMail(message.data(), message.size(), &mail, &error);
    return Summary(mail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = host::InitMailParser();
    FUZZ_CHECK(initialised, "GMime could not be initialised");
    if (size > 4096) return 0;  // repeated 64 times: keeps one input in the milliseconds
    fuzz::Input input(data, size);
    const std::string fields = input.Until('\x01');
    std::string part = input.Rest();
    if (part.empty() || part.back() != '\n') part += '\n';  // so that each boundary starts a line
    std::string message = "From: a@b.example\nContent-Type: multipart/mixed; boundary=\"b\"\n";
    for (size_t i = 0; i < 32; ++i) message += fields;
    message += "\n";
    for (size_t i = 0; i < host::kMinPlainParts; ++i) message += "--b\n" + part;
    for (size_t round = 0; round < 2; ++round) {  // parts with many fields
        message += "--b\n";
        for (size_t i = 0; i < host::kMinTakenFields; ++i) message += fields;
        message += "Content-Type: text/plain\n\nx\n";
    }
    message += "--b--\n";
    // It also glues the rest of a header line it finds invalid (no name before a colon, a control
    // byte or a blank inside the name, a NUL byte anywhere) that such a split cuts to the line
    // after it, which then goes unread. The header blocks are held to valid lines (and the
    // message's boundary lines).
    for (const std::string* block : {&fields, static_cast<const std::string*>(&part)}) {
        for (size_t at = 0; at < block->size();) {
            const size_t end = std::min(block->find('\n', at), block->size());
            const std::string_view line(block->data() + at, end - at);
            if (line.empty() || line == "\r") break;  // the end of the header block
            const std::string_view bare = line.substr(0, line.find_last_not_of('\r') + 1);
            if (!ValidHeaderLine(line) && bare != "--b" && bare != "--b--") return 0;
            at = end + 1;
        }
    }
    // GMime 3.2 reads "--" in the middle of a line as the start of a boundary line when its 4 KB
    // read buffer splits the line just before it; the ways round move the splits, and so change
    // which lines that happens to. Inputs with such lines prove nothing here.
    for (size_t at = 0; at < message.size();) {
        const size_t end = std::min(message.find('\n', at), message.size());
        const std::string_view line(message.data() + at, end - at);
        if (line.substr(0, 2) != "--" && line.find("--") != std::string_view::npos) return 0;
        at = end + 1;
    }
    bool ok = false, wholeOk = false;
    const std::string round = Parse(message, true, &ok), whole = Parse(message, false, &wholeOk);
    size_t at = 0;
    while (at < round.size() && at < whole.size() && round[at] == whole[at]) ++at;
    FUZZ_CHECK(ok == wholeOk && round == whole, "first difference at %zu: ...%s... / ...%s...", at,
               round.substr(at, 80).c_str(), whole.substr(at, 80).c_str());
    return 0;
}
