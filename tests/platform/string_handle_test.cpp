#include <gtest/gtest.h>

#include <string>

#include "platform/unique_hstring.h"

namespace {

using namespace quarrow::platform;

TEST(StringHandle, KeepsEveryCodeUnitWithItsExplicitLength) {
    const char16_t source[] = {u'a', 0, u'b', 0xFF, 0xD800, 0};
    HSTRING s = nullptr;
    ASSERT_EQ(WindowsCreateString(source, 6, &s), S_OK);
    ASSERT_NE(s, nullptr);
    std::uint32_t length = 0;
    const char16_t* chars = WindowsGetStringRawBuffer(s, &length);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::u16string(chars, length), std::u16string(source, 6));
    EXPECT_EQ(chars[6], u'\0');  // terminated after its length
    EXPECT_EQ(WindowsGetStringRawBuffer(s, nullptr), chars);
    EXPECT_EQ(WindowsDeleteString(s), S_OK);
}

TEST(StringHandle, IsACopyOfItsSource) {
    char16_t source[] = u"abc";
    UniqueHString s;
    ASSERT_EQ(WindowsCreateString(source, 3, s.put()), S_OK);
    source[0] = u'x';
    EXPECT_EQ(s.view(), u"abc");
}

TEST(StringHandle, NullHandleIsTheEmptyString) {
    std::uint32_t length = 99;
    const char16_t* chars = WindowsGetStringRawBuffer(nullptr, &length);
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(chars[0], u'\0');
    EXPECT_EQ(WindowsDeleteString(nullptr), S_OK);

    // Creating an empty string gives the null handle, with or without source.
    HSTRING s = reinterpret_cast<HSTRING>(&length);
    EXPECT_EQ(WindowsCreateString(u"abc", 0, &s), S_OK);
    EXPECT_EQ(s, nullptr);
    s = reinterpret_cast<HSTRING>(&length);
    EXPECT_EQ(WindowsCreateString(nullptr, 0, &s), S_OK);
    EXPECT_EQ(s, nullptr);
}

TEST(StringHandle, RefusesMissingPointers) {
    EXPECT_EQ(WindowsCreateString(u"abc", 3, nullptr), E_INVALIDARG);
    HSTRING s = reinterpret_cast<HSTRING>(&s);
    EXPECT_EQ(WindowsCreateString(nullptr, 3, &s), E_POINTER);
    EXPECT_EQ(s, nullptr);
}

TEST(StringHandle, UniqueHStringOwnsAndHandsOver) {
    UniqueHString a;
    ASSERT_EQ(makeHString(std::u16string_view(u"x\0y", 3), a), S_OK);
    EXPECT_EQ(a.view(), std::u16string_view(u"x\0y", 3));
    UniqueHString b(std::move(a));
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(b.view().size(), 3u);
    HSTRING raw = b.release();
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_EQ(stringView(raw), std::u16string_view(u"x\0y", 3));
    b.reset(raw);  // owned again; freed at the end (leaks show under ASan)
    ASSERT_EQ(makeHString(u"", b), S_OK);
    EXPECT_EQ(b.get(), nullptr);
}

}  // namespace
