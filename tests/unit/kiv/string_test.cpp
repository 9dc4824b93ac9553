// XString: sizes, growth, encodings and their conversions, the concatenation
// rules under each system code page, search, replace, split, case and trim.
#include "kiv.basis/lib/string.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/kiv/kiv_test_util.h"

namespace {

// "Привет" in code page 1251 and UTF-8, "café" in 1252 and UTF-8.
const char kPrivet1251[] = "\xcf\xf0\xe8\xe2\xe5\xf2";
const char kPrivetUtf8[] = "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82";
const wchar_t kPrivetWide[] = L"\x041f\x0440\x0438\x0432\x0435\x0442";
const char kCafe1252[] = "caf\xe9";
const char kCafeUtf8[] = "caf\xc3\xa9";

std::string BytesOf(XString& text) {
    return std::string(text.Bytes(), text.get_Size() - (text.get_Size() > 0 ? 1 : 0));
}
std::wstring WideOf(XString& text) {
    return std::wstring(text.Wide());
}

class StringTest : public ::testing::Test {
  protected:
    void SetUp() override { KivSetSystemCodePageForTest(kCodePageLatin1); }
    void TearDown() override {
        KivSetSystemCodePageForTest(0);
        EXPECT_EQ(MemoryCounters().bad_frees, 0u);
    }
};

TEST_F(StringTest, EmptySizes) {
    XString narrow("");
    EXPECT_EQ(narrow.get_Size(), 1u);
    EXPECT_EQ(narrow.get_Length(), 0u);
    XString wide(L"");
    EXPECT_EQ(wide.get_Size(), 2u);
    EXPECT_EQ(wide.get_Length(), 0u);
    EXPECT_EQ(wide.get_CodePage(), kCodePageUtf16);
    XString null_text(static_cast<const char*>(nullptr));
    EXPECT_EQ(null_text.get_Size(), 1u);
}

TEST_F(StringTest, DefaultBufferAndGrowthIncrements) {
    XString text;
    _String* target = text.get_Object();
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->capacity, 64u);
    EXPECT_EQ(target->code_page, kCodePageLatin1);
    const std::string block(1000, 'x');
    XString piece(block.c_str());
    uint32_t expected = 128;
    int growths = 0;
    while (growths < 14) {
        const uint32_t before = target->capacity;
        text.Append(piece);
        ASSERT_EQ(text.get_Object(), target);  // same encoding: grown in place
        if (target->capacity != before) {
            EXPECT_EQ(target->capacity - target->size, expected) << "growth " << growths;
            if (expected < 131072) {
                expected *= 2;
            }
            ++growths;
        }
    }
    EXPECT_EQ(expected, 131072u);  // reached the cap and stayed there
    EXPECT_EQ(text.get_Length(), target->size - 1);
}

TEST_F(StringTest, AppendingTextGrowsInPlace) {
    XString latin(kCafe1252, kCodePageLatin1);
    _String* target = latin.get_Object();
    for (int i = 0; i < 100; ++i) {
        latin += "\xe9";
    }
    EXPECT_EQ(latin.get_Object(), target);  // rule 2, same object throughout
    EXPECT_EQ(latin.get_Length(), 104u);
    latin += latin.Bytes();  // its own bytes
    EXPECT_EQ(latin.get_Length(), 208u);
    XString utf8(kPrivetUtf8, kCodePageUtf8);
    utf8 += "\xe9";  // the text is 1252, the system's
    EXPECT_EQ(BytesOf(utf8), std::string(kPrivetUtf8) + "\xc3\xa9");
    XString wide(L"A");
    wide += "\xcf";  // read as 1251
    EXPECT_EQ(WideOf(wide), L"A\x041f");
    KivSetSystemCodePageForTest(kCodePageUtf8);
    XString to_utf8(L"A");
    to_utf8 += "\xd0\x9f";  // rule 3 before rule 4 on a UTF-8 system
    EXPECT_EQ(to_utf8.get_CodePage(), kCodePageUtf8);
    EXPECT_EQ(BytesOf(to_utf8), "A\xd0\x9f");
    to_utf8 += to_utf8.Bytes();  // its own bytes, already UTF-8
    EXPECT_EQ(BytesOf(to_utf8),
              "A\xd0\x9f"
              "A\xd0\x9f");
}

TEST_F(StringTest, ExplicitCapacitySetsTheStep) {
    XString small(100);
    EXPECT_EQ(small.get_Object()->capacity, 100u);
    EXPECT_EQ(small.get_Object()->growth_step, 100u);
    XString large(300000);
    EXPECT_EQ(large.get_Object()->growth_step, 0x20000u);
}

TEST_F(StringTest, Utf8LengthCountsCharacters) {
    XString text(kPrivetUtf8, kCodePageUtf8);
    EXPECT_EQ(text.get_Length(), 6u);
    EXPECT_EQ(text.get_Size(), 13u);
}

TEST_F(StringTest, Conversions) {
    XString cyrillic(kPrivet1251, kCodePageCyrillic);
    XString wide(cyrillic.ToUtf16());
    EXPECT_EQ(wide.get_CodePage(), kCodePageUtf16);
    EXPECT_EQ(WideOf(wide), kPrivetWide);
    XString utf8(cyrillic.ToUtf8());
    EXPECT_EQ(BytesOf(utf8), kPrivetUtf8);
    XString latin(kCafe1252, kCodePageLatin1);
    XString latin_utf8(latin.ToUtf8());
    EXPECT_EQ(BytesOf(latin_utf8), kCafeUtf8);
    XString back(XString(kPrivetWide).ToUtf8());
    EXPECT_EQ(BytesOf(back), kPrivetUtf8);
    KivSetSystemCodePageForTest(kCodePageCyrillic);
    XString ansi(XString(kPrivetUtf8, kCodePageUtf8).ToAnsi());
    EXPECT_EQ(ansi.get_CodePage(), kCodePageCyrillic);
    EXPECT_EQ(BytesOf(ansi), kPrivet1251);
}

TEST_F(StringTest, AnsiKeepsEightBitPagesAsTheyAre) {
    XString latin(kCafe1252, kCodePageLatin1);
    KivSetSystemCodePageForTest(kCodePageCyrillic);
    XString ansi(latin.ToAnsi());
    EXPECT_EQ(BytesOf(ansi), kCafe1252);  // no 1252 -> 1251 conversion
    KivSetSystemCodePageForTest(kCodePageUtf8);
    XString utf8(latin.ToAnsi());
    EXPECT_EQ(BytesOf(utf8), kCafeUtf8);
    KivSetSystemCodePageForTest(1250);
    XString none(latin.ToAnsi());
    EXPECT_EQ(none.get_Length(), 0u);
}

TEST_F(StringTest, UnsupportedSystemCodePageGivesNoBuffer) {
    KivSetSystemCodePageForTest(1250);
    XString text("abc");
    EXPECT_EQ(text.get_Length(), 0u);
    EXPECT_EQ(text.get_Object()->data, nullptr);
    XString tagged("abc", 437);
    EXPECT_EQ(tagged.get_Length(), 0u);
    EXPECT_EQ(tagged.get_CodePage(), 437u);
    // Every operation on such a string gives an empty result, no crash.
    XString upper(text.ToUpper());
    EXPECT_EQ(upper.get_Length(), 0u);
    EXPECT_EQ(text.IndexOf(XString("a", kCodePageLatin1)), -1);
    XString joined(Concat(text, "x"));  // rule 5
    EXPECT_EQ(joined.get_Length(), 0u);
}

TEST_F(StringTest, ConcatenationRuleOneAndTwo) {
    KivSetSystemCodePageForTest(kCodePageCyrillic);
    XString cyrillic(kPrivet1251, kCodePageCyrillic);
    XString joined(cyrillic + "\xe0");
    EXPECT_EQ(joined.get_CodePage(), kCodePageCyrillic);
    EXPECT_EQ(BytesOf(joined), std::string(kPrivet1251) + "\xe0");
    KivSetSystemCodePageForTest(kCodePageLatin1);
    XString latin(kCafe1252, kCodePageLatin1);
    _String* raw = "\xe9-" + latin;
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->capacity, 5u + 2u + 33u);  // string size, text length, 33
    XString before(raw);
    EXPECT_EQ(BytesOf(before), std::string("\xe9-") + kCafe1252);
}

TEST_F(StringTest, ConcatenationRuleThreeMakesUtf8) {
    XString utf8(kPrivetUtf8, kCodePageUtf8);
    XString joined(utf8 + "\xe9");  // the text is 1252, the system's
    EXPECT_EQ(joined.get_CodePage(), kCodePageUtf8);
    EXPECT_EQ(BytesOf(joined), std::string(kPrivetUtf8) + "\xc3\xa9");
    KivSetSystemCodePageForTest(kCodePageUtf8);
    XString latin(kCafe1252, kCodePageLatin1);
    XString mixed(latin + "\xd0\x9f");
    EXPECT_EQ(BytesOf(mixed), std::string(kCafeUtf8) + "\xd0\x9f");
}

TEST_F(StringTest, ConcatenationRuleFourReadsTheTextAsCyrillic) {
    XString wide(L"A");
    XString joined(wide + "\xcf");
    EXPECT_EQ(joined.get_CodePage(), kCodePageUtf16);
    EXPECT_EQ(WideOf(joined), L"A\x041f");
    EXPECT_EQ(joined.get_Size(), 2u + 2u + 2u);
    XString first("\xcf" + wide);
    EXPECT_EQ(WideOf(first),
              L"\x041f"
              L"A");
}

TEST_F(StringTest, ConcatenationRuleFiveGivesEmpty) {
    XString latin(kCafe1252, kCodePageLatin1);
    KivSetSystemCodePageForTest(kCodePageCyrillic);
    XString joined(latin + "x");  // 1252 string on a 1251 system
    EXPECT_EQ(joined.get_Length(), 0u);
}

TEST_F(StringTest, RawConcatenationConsumesItsOperand) {
    const KivMemoryCounters before = MemoryCounters();
    {
        XString start("ab");
        XString joined(Concat(start.ToUpper(), "cd"));
        EXPECT_EQ(BytesOf(joined), "ABcd");
    }
    // The raw operand was taken back from the collector and freed at once.
    EXPECT_EQ(MemoryCounters().live, before.live);
}

TEST_F(StringTest, AppendAcrossEncodings) {
    XString text("ab");
    text.Append(XString(kPrivetWide));
    EXPECT_EQ(text.get_CodePage(), kCodePageUtf16);
    EXPECT_EQ(WideOf(text), std::wstring(L"ab") + kPrivetWide);
    XString latin(kCafe1252, kCodePageLatin1);
    latin.Append(XString(kPrivet1251, kCodePageCyrillic));
    EXPECT_EQ(latin.get_CodePage(), kCodePageUtf8);  // lossless for both
    EXPECT_EQ(BytesOf(latin), std::string(kCafeUtf8) + kPrivetUtf8);
    XString self("xy");
    self.Append(self);
    EXPECT_EQ(BytesOf(self), "xyxy");
}

TEST_F(StringTest, SearchAcrossEncodings) {
    XString cyrillic("abc", kCodePageCyrillic);
    XString latin("abc", kCodePageLatin1);
    EXPECT_FALSE(cyrillic.Equals(latin));
    EXPECT_EQ(cyrillic.IndexOf(latin), -1);
    XString utf8(kPrivetUtf8, kCodePageUtf8);
    XString wide(kPrivetWide);
    EXPECT_TRUE(utf8.Equals(wide));
    EXPECT_TRUE(wide.Equals(utf8));
    XString cyr(kPrivet1251, kCodePageCyrillic);
    EXPECT_TRUE(cyr.Equals(utf8));
    EXPECT_EQ(utf8.IndexOf(XString(L"\x0432")), 3);  // characters, not bytes
    EXPECT_EQ(wide.IndexOf(XString("\xe2\xe5", kCodePageCyrillic)), 3);
    EXPECT_EQ(utf8.IndexOf(XString("")), -1);
    XString repeated("abcabcabc");
    EXPECT_EQ(repeated.IndexOf(XString("bc"), 2), 4);
    EXPECT_EQ(repeated.LastIndexOf(XString("bc")), 7);
    EXPECT_EQ(repeated.LastIndexOf(XString("bc"), 6), 4);
    EXPECT_EQ(repeated.IndexOf(XString("zz")), -1);
    EXPECT_FALSE(XString("ab").Equals(XString("abc")));
}

TEST_F(StringTest, Replace) {
    XString text("a-b-c");
    XString all(text.Replace(XString("-"), XString("--")));
    EXPECT_EQ(BytesOf(all), "a--b--c");
    XString first(text.ReplaceFirst(XString("-"), XString("+")));
    EXPECT_EQ(BytesOf(first), "a+b-c");
    XString last(text.ReplaceLast(XString("-"), XString("+")));
    EXPECT_EQ(BytesOf(last), "a-b+c");
    XString from(text.Replace(XString("-"), XString(""), 2));
    EXPECT_EQ(BytesOf(from), "a-bc");
    XString none(text.Replace(XString("x"), XString("y")));
    EXPECT_EQ(BytesOf(none), "a-b-c");
    XString wide(L"x\x041fx");
    XString replaced(wide.Replace(XString("x"), XString(kPrivetUtf8, kCodePageUtf8)));
    EXPECT_EQ(WideOf(replaced), std::wstring(kPrivetWide) + L"\x041f" + kPrivetWide);
    XString slashes(XString("C:/a/b").ReplaceChar('/', '\\'));
    EXPECT_EQ(BytesOf(slashes), "C:\\a\\b");
}

TEST_F(StringTest, SubstringCaseAndTrim) {
    XString utf8(kPrivetUtf8, kCodePageUtf8);
    XString middle(utf8.Substring(1, 2));
    EXPECT_EQ(BytesOf(middle), "\xd1\x80\xd0\xb8");
    XString past(utf8.Substring(10));
    EXPECT_EQ(past.get_Length(), 0u);
    EXPECT_EQ(past.get_CodePage(), kCodePageUtf8);
    XString mixed("MiXeD");
    XString lower(mixed.ToLower());
    EXPECT_EQ(BytesOf(lower), "mixed");
    XString upper(mixed.ToUpper(1, 2));
    EXPECT_EQ(BytesOf(upper), "MIXeD");
    XString wide(L"abC");
    XString wide_upper(wide.ToUpper());
    EXPECT_EQ(WideOf(wide_upper), L"ABC");
    XString padded(" \t\r\nword \n");
    XString trimmed(padded.Trim());
    EXPECT_EQ(BytesOf(trimmed), "word");
    XString blank(" \t ");
    XString nothing(blank.Trim());
    EXPECT_EQ(nothing.get_Length(), 0u);
    XString wide_padded(L"  w ");
    XString wide_trimmed(wide_padded.Trim());
    EXPECT_EQ(WideOf(wide_trimmed), L"w");
}

TEST_F(StringTest, SplitWithSeveralSeparators) {
    XArray<XString> separators;
    separators.Add(XString(", "));
    separators.Add(XString(";"));
    separators.Add(XString(","));
    XString text(";a, b;;c,,");
    XArray<XString> pieces(text.Split(separators));
    ASSERT_EQ(pieces.Count(), 3u);
    EXPECT_EQ(BytesOf(*pieces.At(0)), "a");
    EXPECT_EQ(BytesOf(*pieces.At(1)), "b");
    EXPECT_EQ(BytesOf(*pieces.At(2)), "c");
    XArray<XString> kept(text.Split(separators, true));
    EXPECT_EQ(kept.Count(), 7u);  // empty pieces kept with the flag
    XArray<XString> wide_separators;
    wide_separators.Add(XString(L"\x0438"));
    XArray<XString> wide_pieces(XString(kPrivetUtf8, kCodePageUtf8).Split(wide_separators));
    ASSERT_EQ(wide_pieces.Count(), 2u);
    EXPECT_EQ(wide_pieces.At(0)->get_CodePage(), kCodePageUtf16);
    EXPECT_EQ(WideOf(*wide_pieces.At(1)), L"\x0432\x0435\x0442");
    XArray<XString> by_char(XString("/a//b/").Split('/'));
    EXPECT_EQ(by_char.Count(), 2u);
    XArray<XString> whole(XString("abc").Split(XArray<XString>()));
    ASSERT_EQ(whole.Count(), 1u);
}

TEST_F(StringTest, ConstructorsTakeSubstringsAndRawStrings) {
    XString part("abcdef", 2, 3);
    EXPECT_EQ(BytesOf(part), "cde");
    XString beyond("abc", 5, 1);
    EXPECT_EQ(beyond.get_Length(), 0u);
    XString wide_part(L"abcdef", 4, 10);
    EXPECT_EQ(WideOf(wide_part), L"ef");
    XString source(kPrivetUtf8, kCodePageUtf8);
    XString copy(source);
    EXPECT_EQ(copy.get_CodePage(), kCodePageUtf8);
    EXPECT_NE(copy.get_Object(), source.get_Object());
    _String* raw = source.Detach();
    EXPECT_EQ(raw->gc_ref_count, 1);
    raw->AddRef();  // observe it after the constructor consumed it
    XString from_raw(raw);
    EXPECT_EQ(raw->gc_ref_count, 0);
    EXPECT_EQ(raw->ref_count, 2);  // source's handle and this test
    raw->Release();
    EXPECT_TRUE(from_raw.Equals(source));
}

TEST_F(StringTest, Utf8SystemCountsConstructorSubstringsByCharacters) {
    KivSetSystemCodePageForTest(kCodePageUtf8);
    XString part(kPrivetUtf8, 1, 2);
    EXPECT_EQ(part.get_CodePage(), kCodePageUtf8);
    EXPECT_EQ(BytesOf(part), "\xd1\x80\xd0\xb8");
    XString text(kPrivetUtf8);
    EXPECT_EQ(text.get_Length(), 6u);
    XString ansi(XString(kPrivet1251, kCodePageCyrillic).ToAnsi());
    EXPECT_EQ(BytesOf(ansi), kPrivetUtf8);
}

TEST_F(StringTest, KivArrayOfPointers) {
    _Array<XString, 5>* array = KivNew<_Array<XString, 5>>();
    ASSERT_NE(array, nullptr);
    XString one("1"), two("2");
    EXPECT_EQ(array->At(0), nullptr);  // empty
    EXPECT_EQ(array->Insert(9, &one), 0u);
    array->RemoveAt(0);
    EXPECT_EQ(array->Count(), 0u);
    EXPECT_EQ(array->items[0], nullptr);  // the freed slot is zeroed
    for (int i = 0; i < 6; ++i) {
        array->Add(&one);
    }
    EXPECT_EQ(array->capacity, 10u);
    EXPECT_EQ(array->Insert(3, &two), 3u);
    EXPECT_EQ(array->At(3), &two);
    EXPECT_EQ(array->At(4), &one);
    EXPECT_EQ(array->Count(), 7u);
    KivDestroy(array);
}

}  // namespace
