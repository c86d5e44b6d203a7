// The milter's per-message logic without an MTA: the samples' decisions turned into replies and
// header fields, forged X-Molvex fields removed, the bound on messages in flight, and a reload
// that keeps the running state when the new configuration fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host/milter_session.h"
#include "temp_folder.h"

namespace {

// Hands a sample to a MilterMessage as libmilter does: unfolded fields, then the body.
host::MilterMessage Gather(std::string text, uint64_t cap) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    host::MilterMessage message;
    const size_t end = text.find("\n\n");
    std::istringstream header(text.substr(0, end + 1));
    std::string line, name, value;
    while (std::getline(header, line)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            value += "\n" + line;
            continue;
        }
        if (!name.empty()) message.AddHeader(name, value, cap);
        name = line.substr(0, line.find(':'));
        value = line.substr(line.find(':') + 2);
    }
    message.AddHeader(name, value, cap);
    message.EndHeaders(cap);
    const std::string body = text.substr(end + 2);
    message.AddBody(body.data(), body.size(), cap);
    return message;
}

TEST(MilterMessage, DecisionsBecomeReplies) {
    testfiles::TempFolder folder;
    testfiles::WriteFile(folder / "m.conf", "/molvex/lists/SenderBlacklist = " MOLVEX_SAMPLES
                                            "/lists/blacklist.txt\n"
                                            "/molvex/policy/url/Action = quarantine\n");
    std::string error;
    auto state = host::LoadMilterState(folder / "m.conf", "", MOLVEX_SAMPLE_DATA, true, &error);
    ASSERT_TRUE(state) << error;
    const struct {
        const char* sample;
        const char* forged;  // an X-Molvex-Status field the message came with
        host::MilterReply::Kind kind;
        const char* text;  // in the reply text, or the status field
        bool quarantine;
    } kCases[] = {
        {"01-clean.eml", nullptr, host::MilterReply::kAccept, "No, score=0", false},
        {"01-clean.eml", "Yes", host::MilterReply::kAccept, "No, score=0", false},
        {"02-gtube-text.eml", nullptr, host::MilterReply::kReject, "tests=gtube", false},
        {"10-blacklisted-sender.eml", nullptr, host::MilterReply::kReject, "tests=blacklisted",
         false},
        {"08-listed-url.eml", nullptr, host::MilterReply::kAccept, "Yes, score=8, tests=url", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.sample);
        std::ifstream in(std::string(MOLVEX_SAMPLES "/") + c.sample);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        if (c.forged) text = "X-Molvex-Status: " + std::string(c.forged) + "\n" + text;
        const host::MilterReply reply = Gather(text, state->maxMessageSize).Finish(*state);
        EXPECT_EQ(reply.kind, c.kind);
        EXPECT_EQ(reply.removeHeaders.size(), c.forged ? 1u : 0u);
        EXPECT_EQ(!reply.quarantine.empty(), c.quarantine);
        if (c.kind == host::MilterReply::kReject) {
            EXPECT_EQ(reply.code + " " + reply.extended, "550 5.7.1");
            EXPECT_NE(reply.text.find(c.text), std::string::npos) << reply.text;
            EXPECT_TRUE(reply.addHeaders.empty());
        } else {
            ASSERT_EQ(reply.addHeaders.size(), 2u);
            EXPECT_EQ(reply.addHeaders[0].second.rfind(c.text, 0), 0u)
                << reply.addHeaders[0].second;
            EXPECT_EQ(reply.addHeaders[1].first, "X-Molvex-Report");
        }
    }
    // Over the cap: judged on its first bytes, and the size is the whole message's.
    const host::MilterMessage big = Gather("From: a@b.example\n\n" + std::string(5000, 'x'), 1024);
    EXPECT_EQ(big.raw().size(), 1024u);
    EXPECT_EQ(big.size(), 5000u + 21u);
}

TEST(MilterEngine, InFlightBoundAndReload) {
    std::string error;
    auto state = host::LoadMilterState("", "", MOLVEX_SAMPLE_DATA, true, &error);
    ASSERT_TRUE(state) << error;
    state->maxInFlight = 2;
    host::MilterEngine engine(state);
    EXPECT_TRUE(engine.Admit() && engine.Admit());
    EXPECT_FALSE(engine.Admit());
    engine.Release();
    EXPECT_TRUE(engine.Admit());
    EXPECT_FALSE(engine.Reload(
        [](std::string* e) {
            *e = "bad list";
            return nullptr;
        },
        &error));
    EXPECT_EQ(error, "bad list");
    EXPECT_EQ(engine.Current(), state);
    EXPECT_TRUE(engine.Reload(
        [&](std::string* e) { return host::LoadMilterState("", "", MOLVEX_SAMPLE_DATA, false, e); },
        &error, std::chrono::milliseconds(1)));  // two still in flight: the wait is bounded
    EXPECT_NE(engine.Current(), state);
    engine.Record(host::MilterEngine::kRejected, 0.002);
    EXPECT_EQ(engine.Counters().rfind("messages=1 accept=0 tag=0 quarantine=0 reject=1", 0), 0u)
        << engine.Counters();
}

}  // namespace
