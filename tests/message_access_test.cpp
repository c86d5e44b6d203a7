// The facilitator and the parts tree's typed arrays, on records built like a host builds them:
// what the filter suites cannot reach through the module (missing records, the order and the
// caching of the typed arrays, a failed build). Headers, texts and address look-ups are pinned
// by the filters.
#include <gtest/gtest.h>

#include "engines/htmlparser/structs/bbfacilitator.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"

using nsEmlComponents::CBBFacilitator;

namespace {

std::string Texts(const nsEmlComponents::TTextArray* texts) {
    std::string joined;
    for (uint64_t i = 0; i < texts->size(); ++i) joined += std::string(texts->data()[i]) + "|";
    return joined;
}

TEST(FacilitatorTest, MissingHeadersOrTreeStillInitialise) {
    auto noHeaders = host::MessageBuilder().Subject("x").TextPart("t").WithoutHeaders().Build();
    CBBFacilitator a(&noHeaders->blackbox());
    EXPECT_EQ(a.Initialize(), 0);
    EXPECT_TRUE(a.GetHeadersMap() == nullptr && a.GetSubject() == nullptr &&
                a.GetFrom() == nullptr);
    EXPECT_EQ(Texts(a.GetTextPlainTexts()), "t|");
    int32_t error = 0;
    EXPECT_EQ(a.GetAddressHeader("From", &error), nullptr);
    EXPECT_EQ(error, CBBFacilitator::kNoHeaderMap);

    auto noTree = host::MessageBuilder().Subject("x").TextPart("t").WithoutPartsTree().Build();
    CBBFacilitator b(&noTree->blackbox());
    EXPECT_EQ(b.Initialize(), 0);
    EXPECT_EQ(b.GetTextPlainTexts()->size() + b.GetHtmlTexts()->size(), 0u);
    EXPECT_NE(b.GetSubject(), nullptr);
}

// The array itself (1) or its storage for the part (2) cannot be had: no array, not even one
// that lacks the part, is cached, and a later call builds it.
TEST(FacilitatorTest, UnbuildablePartsArrayFailsInitialise) {
    for (uint64_t failing : {1, 2}) {
        auto message = host::MessageBuilder().TextPart("t").Build();
        CBBFacilitator facilitator(&message->blackbox());
        host::CaptureTraces(1);
        host::FailAllocationNumber(failing);
        EXPECT_EQ(facilitator.Initialize(), CBBFacilitator::kNoPartsArray);
        host::FailAllocationNumber(0);
        EXPECT_TRUE(
            host::TraceContains("[CPartsArray] Memory allocation error while trying to "
                                "create text plain parts array"));
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_EQ(message->tree()->m_textPlainParts, nullptr);
        ASSERT_NE(message->tree()->GetTextPlainParts(), nullptr);
        EXPECT_EQ(message->tree()->GetTextPlainParts()->size(), 1u);
    }
}

// Built once in all-parts order and cached; a tree without a part of a kind gives an empty
// array, one without parts at all none.
TEST(PartsArrayTest, TypedArraysAreBuiltOnceAndCached) {
    auto message = host::MessageBuilder().TextPart("a").HtmlPart("b").TextPart("c").Build();
    nsEmlComponents::CPartsArray* tree = message->tree();
    nsEmlComponents::TPartsArray* html = tree->GetHtmlParts();
    ASSERT_EQ(html->size(), 1u);
    EXPECT_EQ(tree->GetHtmlParts(), html);
    ASSERT_EQ(tree->GetTextPlainParts()->size(), 2u);
    EXPECT_STREQ(tree->GetTextPlainParts()->at(1)->m_body->m_text, "c");
    EXPECT_EQ(host::MessageBuilder().HtmlPart("b").Build()->tree()->GetTextPlainParts()->size(),
              0u);
    nsEmlComponents::CPartsArray empty;
    EXPECT_TRUE(empty.GetTextPlainParts() == nullptr && empty.GetHtmlParts() == nullptr &&
                empty.GetRoot() == nullptr);
}

}  // namespace
