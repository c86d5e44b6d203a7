// The facilitator and the parts tree's typed arrays, on records built like a host builds them:
// what the filter suites cannot reach through the module (missing records, the caching of the
// typed arrays, a failed build). Headers, texts and address look-ups are pinned by the filters.
#include <gtest/gtest.h>

#include <string>

#include "engines/htmlparser/structs/bbfacilitator.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"

using nsEmlComponents::CBBFacilitator;
using nsEmlComponents::CPartsArray;

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
    EXPECT_EQ(a.GetHeadersMap(), nullptr);
    EXPECT_EQ(a.GetSubject(), nullptr);
    EXPECT_EQ(a.GetFrom(), nullptr);
    EXPECT_EQ(Texts(a.GetTextPlainTexts()), "t|");
    int32_t error = 0;
    EXPECT_EQ(a.GetAddressHeader("From", &error), nullptr);
    EXPECT_EQ(error, -400);  // no header map at all

    auto noTree = host::MessageBuilder().Subject("x").TextPart("t").WithoutPartsTree().Build();
    CBBFacilitator b(&noTree->blackbox());
    EXPECT_EQ(b.Initialize(), 0);
    EXPECT_EQ(b.GetTextPlainTexts()->size(), 0u);
    EXPECT_EQ(b.GetHtmlTexts()->size(), 0u);
    EXPECT_NE(b.GetSubject(), nullptr);
}

// The array itself (1) or its storage for the part (2) cannot be had: no array, not even one
// that lacks the part, is cached.
TEST(FacilitatorTest, UnbuildablePartsArrayFailsInitialise) {
    for (uint64_t failing : {1, 2}) {
        auto message = host::MessageBuilder().TextPart("t").Build();
        CBBFacilitator facilitator(&message->blackbox());
        host::CaptureTraces(1);
        host::FailAllocationNumber(failing);
        EXPECT_EQ(facilitator.Initialize(), -3);
        host::FailAllocationNumber(0);
        EXPECT_TRUE(
            host::TraceContains("[CPartsArray] Memory allocation error while trying to "
                                "create text plain parts array"));
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_EQ(message->tree()->m_textPlainParts, nullptr);  // a later call tries again
        ASSERT_NE(message->tree()->GetTextPlainParts(), nullptr);
        EXPECT_EQ(message->tree()->GetTextPlainParts()->size(), 1u);
    }
}

TEST(PartsArrayTest, TypedArraysAreBuiltOnceAndCached) {
    auto message = host::MessageBuilder().TextPart("a").HtmlPart("b").TextPart("c").Build();
    CPartsArray* tree = message->tree();
    nsEmlComponents::TPartsArray* html = tree->GetHtmlParts();
    ASSERT_EQ(html->size(), 1u);
    EXPECT_EQ(tree->GetHtmlParts(), html);
    ASSERT_EQ(tree->GetTextPlainParts()->size(), 2u);
    EXPECT_STREQ(tree->GetTextPlainParts()->at(1)->m_body->m_text, "c");

    // A part added afterwards does not show in the cached array.
    nsEmlComponents::CPartBodyTextPlain body;
    body.m_text = "late";
    nsEmlComponents::CPart late;
    late.m_body = &body;
    tree->m_allParts->add(&late);
    EXPECT_EQ(tree->GetTextPlainParts()->size(), 2u);

    // No part of a kind: an empty array; no parts at all: none.
    EXPECT_EQ(host::MessageBuilder().HtmlPart("b").Build()->tree()->GetTextPlainParts()->size(),
              0u);
    CPartsArray empty;
    EXPECT_EQ(empty.GetTextPlainParts(), nullptr);
    EXPECT_EQ(empty.GetHtmlParts(), nullptr);
    EXPECT_EQ(empty.GetRoot(), nullptr);
}

}  // namespace
