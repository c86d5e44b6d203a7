// molvex-corpus: writes a reproducible corpus of synthetic messages for the scanner benchmark:
// 2 to 20 KB each, a mix of plain, HTML and multipart messages with attachments, URLs (some on
// the bundled black list), Latin, Cyrillic and Japanese text.
//
//   molvex-corpus [-n COUNT] [--seed N] -o FOLDER     one .eml file per message
//   molvex-corpus [-n COUNT] [--seed N] --mbox FILE   all messages in one mbox file
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "host/cli.h"

namespace {

const char* const kWords[] = {
    "meeting", "report",  "invoice", "offer",   "account", "update",  "project", "delivery",
    "price",   "free",    "click",   "please",  "review",  "order",   "the",     "and",
    "for",     "your",    "with",    "today",   "limited", "results", "team",    "week",
    "money",   "service", "payment", "details", "new",     "access",  "secure",  "online"};
const char* const kCyrillic[] = {"привет", "скидка", "заказ",   "сегодня",
                                 "товары", "цена",   "магазин", "доставка"};
const char* const kJapanese[] = {"お知らせ", "キャンペーン", "ご利用", "ありがとう",
                                 "商品",     "特別",         "期間中", "カスタマー"};
const char* const kHosts[] = {"www.example.com",        "news.example.org",  "shop.example.co.uk",
                              "cdn.images.example.net", "192.0.2.17",        "login.bank.example",
                              "mail.example.de",        "[2001:db8::7]:8080"};
// Hosts on the bundled URL black list: about one URL in thirty.
const char* const kListedHosts[] = {"cheap-pills.example", "www.cheap-pills.example",
                                    "tracker.ads-network.example", "free-money.example"};

class Writer {
  public:
    explicit Writer(uint32_t seed) : m_random(seed) {}

    std::string Message(uint64_t index) {
        const size_t target = 2048 + Pick(18 * 1024);
        const int kind = static_cast<int>(Pick(10));    // 0-3 plain, 4-6 alternative, 7-9 mixed
        const int script = static_cast<int>(Pick(10));  // 0-6 Latin, 7-8 Cyrillic, 9 Japanese
        std::string m;
        m += "From: " + Name() + " <sender" + std::to_string(Pick(500)) + "@" +
             (Pick(20) == 0 ? "spammer.example" : "mail" + std::to_string(Pick(50)) + ".example") +
             ">\r\n";
        m += "To: user" + std::to_string(Pick(100)) + "@home.example\r\n";
        m += "Subject: " + std::string(Pick(50) == 0 ? "Sexually explicit: " : "") + Words(5) +
             "\r\n";
        m += "Date: Mon, 2 Nov 2026 10:00:00 +0000\r\nMessage-ID: <corpus-" +
             std::to_string(index) + "@molvex.test>\r\nMIME-Version: 1.0\r\n";
        const std::string charset = script == 7 && Pick(2) ? "KOI8-R" : "utf-8";
        if (kind <= 3) {
            m += "Content-Type: text/plain; charset=" + charset + "\r\n\r\n";
            m += Text(target - m.size(), script);
            return m;
        }
        const std::string outer = "b1-" + std::to_string(index),
                          inner = "b2-" + std::to_string(index);
        const bool mixed = kind >= 7;
        m += "Content-Type: multipart/" + std::string(mixed ? "mixed" : "alternative") +
             "; boundary=\"" + outer + "\"\r\n\r\n";
        const std::string alt = mixed ? inner : outer;
        if (mixed)
            m += "--" + outer + "\r\nContent-Type: multipart/alternative; boundary=\"" + inner +
                 "\"\r\n\r\n";
        const size_t textSize = mixed ? (target - m.size()) / 3 : (target - m.size()) / 2;
        m += "--" + alt + "\r\nContent-Type: text/plain; charset=" + charset + "\r\n\r\n";
        m += Text(textSize, script);
        m += "\r\n--" + alt +
             "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: "
             "quoted-printable\r\n\r\n";
        m += Html(textSize, script);
        m += "\r\n--" + alt + "--\r\n";
        if (mixed) {
            m += "--" + outer +
                 "\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
                 "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment\r\n\r\n";
            m += Base64Block(target > m.size() + 200 ? target - m.size() - 200 : 200);
            m += "--" + outer + "--\r\n";
        }
        return m;
    }

  private:
    uint64_t Pick(uint64_t n) { return m_random() % n; }

    std::string Name() { return Pick(2) ? "Sales Team" : "John Doe"; }

    std::string Words(int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += std::string(i ? " " : "") + kWords[Pick(32)];
        return s;
    }

    std::string Url() {
        std::string u = Pick(3) ? "https://" : "http://";
        u += Pick(30) == 0 ? kListedHosts[Pick(4)] : kHosts[Pick(8)];
        u += "/" + std::string(kWords[Pick(32)]) + "/" + std::to_string(Pick(100000));
        if (Pick(2)) u += "?id=" + std::to_string(Pick(1000)) + "&ref=mail";
        return u;
    }

    const char* Word(int script) {
        if (script == 7 || script == 8) return Pick(3) ? kCyrillic[Pick(8)] : kWords[Pick(32)];
        if (script == 9) return Pick(3) ? kJapanese[Pick(8)] : kWords[Pick(32)];
        return kWords[Pick(32)];
    }

    // Text lines of about 70 bytes with a URL now and then.
    std::string Text(size_t size, int script) {
        std::string s;
        size_t line = 0;
        while (s.size() < size) {
            const std::string word = Pick(40) == 0 ? Url() : Word(script);
            s += word;
            line += word.size() + 1;
            if (line > 70) {
                s += "\r\n";
                line = 0;
            } else {
                s += ' ';
            }
        }
        return s + "\r\n";
    }

    // Quoted-printable HTML: paragraphs with links and images.
    std::string Html(size_t size, int script) {
        std::string s = "<html><body>=\r\n";
        while (s.size() < size) {
            s += "<p>";
            for (int i = 0; i < 8; ++i) s += std::string(Word(script)) + " ";
            s += "=\r\n";
            if (Pick(3) == 0) s += "<a href=3D\"" + Url() + "\">" + kWords[Pick(32)] + "</a>=\r\n";
            if (Pick(6) == 0) s += "<img src=3D\"" + Url() + "\">=\r\n";
            s += "</p>\r\n";
        }
        return s + "</body></html>\r\n";
    }

    std::string Base64Block(size_t size) {
        static const char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string s;
        while (s.size() < size) {
            for (int i = 0; i < 76; ++i) s += kAlphabet[Pick(64)];
            s += "\r\n";
        }
        return s;
    }

    std::mt19937 m_random;
};

const char kUsage[] =
    "usage: molvex-corpus [-n COUNT] [--seed N] (-o FOLDER | --mbox FILE)\n"
    "Writes COUNT synthetic messages (default 10000) for the scan benchmark.\n"
    "  -n, --count COUNT   1 to 100000000 messages\n"
    "  -s, --seed N        seed of the generator (default 1)\n"
    "  -o, --output FOLDER one .eml file per message\n"
    "  -m, --mbox FILE     all messages in one mbox file\n"
    "  -h, --help, --version\n";

int Usage(const std::string& problem) {
    return host::UsageError("molvex-corpus", problem);
}

}  // namespace

int main(int argc, char** argv) {
    int64_t count = 10000;
    int64_t seed = 1;
    std::string folder, mbox;
    static const option kLong[] = {{"count", required_argument, nullptr, 'n'},
                                   {"seed", required_argument, nullptr, 's'},
                                   {"output", required_argument, nullptr, 'o'},
                                   {"mbox", required_argument, nullptr, 'm'},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":n:s:o:m:h", kLong, nullptr)) != -1;) {
        switch (c) {
            case 'n':
                if (!host::ParseInteger(optarg, 1, 100000000, &count))
                    return Usage(std::string("-n takes 1 to 100000000, not '") + optarg + "'");
                break;
            case 's':
                if (!host::ParseInteger(optarg, 0, UINT32_MAX, &seed))
                    return Usage(std::string("--seed takes 0 to 4294967295, not '") + optarg + "'");
                break;
            case 'o':
                folder = optarg;
                break;
            case 'm':
                mbox = optarg;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case 'V':
                host::PrintVersion("molvex-corpus");
                return 0;
            default:
                return host::OptionError("molvex-corpus", c, argv);
        }
    }
    if (optind < argc) return Usage(std::string("unexpected argument ") + argv[optind]);
    if (folder.empty() == mbox.empty()) return Usage("give one of -o FOLDER and --mbox FILE");

    Writer writer(static_cast<uint32_t>(seed));
    FILE* out = nullptr;
    if (!mbox.empty()) {
        out = std::fopen(mbox.c_str(), "wb");
        if (out == nullptr) {
            std::perror(mbox.c_str());
            return 1;
        }
    } else {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", folder.c_str(), ec.message().c_str());
            return 1;
        }
    }
    uint64_t bytes = 0;
    for (uint64_t i = 0; i < static_cast<uint64_t>(count); ++i) {
        const std::string message = writer.Message(i);
        bytes += message.size();
        if (out != nullptr) {
            std::fprintf(out, "From corpus@molvex.test Mon Nov  2 10:00:00 2026\n");
            std::fwrite(message.data(), 1, message.size(), out);
            std::fputs("\n", out);
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/m%06llu.eml", static_cast<unsigned long long>(i));
        FILE* file = std::fopen((folder + name).c_str(), "wb");
        if (file == nullptr ||
            std::fwrite(message.data(), 1, message.size(), file) != message.size()) {
            std::perror((folder + name).c_str());
            if (file) std::fclose(file);
            return 1;
        }
        std::fclose(file);
    }
    if (out != nullptr && std::fclose(out) != 0) {
        std::perror(mbox.c_str());
        return 1;
    }
    std::fprintf(stderr, "wrote %llu messages, %.1f MB\n", static_cast<unsigned long long>(count),
                 bytes / 1e6);
    return 0;
}
