// Fuzz target: the matching list against the plain model of fuzz/matchinglist_reference.h. The
// input is a sequence of operations, one per line: "e" + expression adds an exact expression,
// "w" + expression a wildcard one, "x" + expression one of an unknown kind, "m" + text matches,
// "c" and "C" clear the exact and the wildcard expressions. Every result, every matched
// expression and the list's size must agree with the model's.
#include <string>

#include "engines/matchinglist/MatchingList.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/matchinglist_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ascommon::CMatchingList;
    fuzz::Input input(data, size);
    CMatchingList list;
    static int unicode, regex;  // the bindings are only kept: any non-null handles do
    list.Init(reinterpret_cast<ascommon::GlyphkitLib*>(&unicode),
              reinterpret_cast<ascommon::RexkitLib*>(&regex));
    reference::Model model;
    for (int operations = 0; !input.empty() && operations < 200; ++operations) {
        const char op = static_cast<char>(input.Byte());
        const std::string argument = input.Until('\n');
        if (argument.size() > 300) continue;  // keeps every match cheap
        if (op == 'e' || op == 'w' || op == 'x') {
            const int32_t kind = op == 'e' ? ascommon::kExact : op == 'w' ? ascommon::kWildcard : 7;
            const int32_t result = list.Add(fuzz::Bytes(argument), kind);
            const int32_t expected = model.Add(argument, kind);
            FUZZ_CHECK(result == expected, "Add gave %d, the model %d", result, expected);
        } else if (op == 'm') {
            const std::string want = model.Match(argument);
            ascommon::sstring matched("(unchanged)");
            const bool found = list.Match(fuzz::Bytes(argument), matched);
            FUZZ_CHECK(
                found == !want.empty() && fuzz::Text(matched) == (found ? want : "(unchanged)"),
                "Match gave %d, the model \"%s\"", found, want.c_str());
        } else if (op == 'c' || op == 'C') {
            op == 'c' ? list.ClearExact() : list.ClearWildcard();
            op == 'c' ? model.exact.clear() : model.wildcards.clear();
        }
        FUZZ_CHECK(list.ExactCount() == model.exact.size() &&
                       list.WildcardCount() == model.wildcards.size(),
                   "sizes differ from the model's after op %c", op);
    }
    return 0;
}
