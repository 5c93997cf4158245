// From the decoder's text to what a read reports: markers out of the bytes,
// ECI positions moved with them, and the symbology identifier.
#include <gtest/gtest.h>

#include <string>

#include "api/decoded_facts.h"

namespace {

Aztec::DecodedText text(const std::string& bytes) {
    Aztec::DecodedText d;
    d.bytes.assign(bytes.begin(), bytes.end());
    return d;
}

TEST(DecodedFacts, MarkersLeaveTheBytesAndEciPositionsFollow) {
    // " ID AC" header, then "9" FNC1-second "xyz" with UTF-8 from 'x' on.
    Aztec::DecodedText d = text(" ID AC1\x1d" "\xC3\xA9z");
    d.structuredAppend = {1, 3, "ID", 6};
    d.fnc1SecondAt = 7;
    d.ecis = {{26, 8}};
    quarrow::ReadResult r;
    quarrow::detail::applyDecodedText(d, r);
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "1\xC3\xA9z");
    ASSERT_EQ(r.ecis.size(), 1u);
    EXPECT_EQ(r.ecis[0].position, 1u);
    EXPECT_EQ(r.text, "1\xC3\xA9z");
    ASSERT_TRUE(r.structuredAppend);
    EXPECT_EQ(r.structuredAppend->id, "ID");
    EXPECT_EQ(r.symbologyIdentifier, "]zB");
}

TEST(DecodedFacts, IdentifierModifiers) {
    struct Case { bool gs1; bool second; bool eci; bool part; const char* id; };
    const Case cases[] = {
        {false, false, false, false, "]z0"}, {true, false, false, false, "]z1"}, {false, true, false, false, "]z2"},
        {false, false, true, false, "]z3"},  {true, false, true, false, "]z4"},  {false, true, true, true, "]zB"},
        {false, false, false, true, "]z6"},  {true, false, false, true, "]z7"},
    };
    for (const Case& c : cases) {
        Aztec::DecodedText d = text("AB\x1d" "CD");
        d.gs1 = c.gs1;
        if (c.second) d.fnc1SecondAt = 2;
        if (c.eci) d.ecis = {{3, 0}};
        if (c.part) d.structuredAppend = {1, 2, "", 0};
        quarrow::ReadResult r;
        quarrow::detail::applyDecodedText(d, r);
        EXPECT_EQ(r.symbologyIdentifier, c.id);
        EXPECT_EQ(r.bytes.size(), c.second ? 4u : 5u);
    }
}

}  // namespace
