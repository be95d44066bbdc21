#include "Codecs.h"
#include "HeaderLine.h"
#include "TMailMessage2000.h"
#include "../fuzz/WordsByRule.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The canonical form as first written: every line rebuilt byte by byte.
std::string CanonicalRewrite(std::string_view line)
{
    std::string name;
    std::size_t i = 0;
    bool afterDash = true;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ':') {
            name += ':';
            ++i;
            break;
        }
        name += afterDash ? AsciiUpper(c) : AsciiLower(c);
        afterDash = c == '-';
    }
    if (name.size() >= 4 && name.ends_with("-Id:"))
        name[name.size() - 2] = 'D';
    std::string r = TrimBlanks(name) + ' ';
    const std::size_t valueStart = r.size();
    std::size_t quoteStart = std::string::npos;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (quoteStart != std::string::npos) {
            if (c == '"') {
                r.append(line.substr(quoteStart, i - quoteStart + 1));
                quoteStart = std::string::npos;
            }
        } else if (c == '"') {
            quoteStart = i;
        } else if (r.size() == valueStart && IsBlank(c)) {
        } else if (c == ' ') {
            while (r.size() > valueStart && IsBlank(r.back()))
                r.pop_back();
            r += ' ';
        } else {
            r += c;
        }
    }
    if (quoteStart != std::string::npos)
        r.append(line.substr(quoteStart));
    while (r.size() > valueStart && r.back() == ' ')
        r.pop_back();
    return r;
}

// The parameter reader as first written, character by character over a
// copy of the line that ends in ";". Returns the getter's value; with
// setValue, the setter's line instead.
std::string ParamRewrite(std::string_view line, std::string_view wanted, const std::string* setValue)
{
    std::string s = TrimBlanks(line);
    if (s.empty() || s.back() != ';')
        s += ';';
    const bool stopAtFirst = setValue != nullptr;
    const std::string want = TrimBlanks(wanted);
    std::size_t valueStart = std::string::npos, valueEnd = std::string::npos;
    std::string collected, nameBuf;
    bool inQuotes = false, inMain = false, inParams = false, matching = false;
    for (std::size_t i = 0; i < s.size() && valueEnd == std::string::npos; ++i) {
        const char c = s[i];
        if (c == '"')
            inQuotes = !inQuotes;
        else if (!inQuotes) {
            if (c == ':' && !inMain && !inParams) {
                inMain = true;
                continue;
            }
            if (c == ';' && (inMain || inParams)) {
                if (matching && stopAtFirst) {
                    valueEnd = i;
                    continue;
                }
                inMain = false;
                inParams = true;
                matching = false;
                nameBuf.clear();
                continue;
            }
            if (c == '=' && inParams) {
                if (matching && stopAtFirst)
                    continue;
                matching = IEquals(TrimBlanksView(nameBuf), want);
                nameBuf.clear();
                if (matching && valueStart == std::string::npos)
                    valueStart = i + 1;
                continue;
            }
        }
        if (matching)
            collected += c;
        else if (inParams)
            nameBuf += c;
    }
    if (!setValue) {
        std::string v = TrimBlanks(collected);
        if (!v.empty() && v.front() == '"' && v.back() == '"')
            v = v.size() >= 2 ? v.substr(1, v.size() - 2) : std::string();
        return v;
    }
    if (valueStart != std::string::npos && valueEnd != std::string::npos)
        return s.substr(0, valueStart) + TrimBlanks(*setValue) + s.substr(valueEnd, s.size() - 1 - valueEnd);
    s.pop_back();
    return TrimBlanks(s) + "; " + TrimBlanks(wanted) + '=' + TrimBlanks(*setValue);
}

std::string RandomText(std::mt19937& rng, const std::vector<std::string>& tokens, unsigned maxTokens)
{
    std::string t;
    for (unsigned k = rng() % maxTokens; k > 0; --k)
        t += tokens[rng() % tokens.size()];
    return t;
}

} // namespace

TEST(EncodedWords, DecodeEachEncodingAndOddForms)
{
    EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?Andr=E9_Smith?="), "Andr\xE9 Smith");
    EXPECT_EQ(DecodeHeaderWords("=?x?B?SGVsbG8=?="), "Hello");
    EXPECT_EQ(DecodeHeaderWords("=?x?q?a_b?="), "a b");
    EXPECT_EQ(DecodeHeaderWords("=?x?Z?abc?="), "abc");
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?=41?="), "A");
    EXPECT_EQ(DecodeHeaderWords("=?x?U?#0V%T?="), "Cat");
    EXPECT_EQ(DecodeHeaderWords("Re: =?x?Q?a?= tail"), "Re: a tail");
    EXPECT_EQ(DecodeHeaderWords("x =?y"), "x =?y");
    EXPECT_EQ(DecodeHeaderWords("a =? b =?x?Q?c?="), "a Q?c");
    EXPECT_EQ(DecodeHeaderWords("=?x?B?" "?="), "");
    EXPECT_EQ(DecodeHeaderWords("  plain  "), "plain");
    // A zero byte ends a B word's text.
    EXPECT_EQ(DecodeHeaderWords("=?x?B?QQBC?="), "A");
}

TEST(EncodedWords, BlanksBetweenAdjacentWordsAreDropped)
{
    EXPECT_EQ(DecodeHeaderWords("=?a?Q?x?= =?a?Q?y?="), "xy");
    EXPECT_EQ(DecodeHeaderWords("=?a?Q?x?= \t =?a?Q?y?= z =?a?Q?w?="), "xy z w");
    // A UTF-8 character split over two words comes out whole.
    EXPECT_EQ(DecodeHeaderWords("=?utf-8?Q?caf=C3?= =?utf-8?Q?=A9?="), "caf\xC3\xA9");
    EXPECT_EQ(DecodeHeaderWords("a =?a?Q?x?= b"), "a x b");
}

TEST(EncodedWords, NestedAndUnclosedWordsTerminate)
{
    // What a word decodes to is text, never decoded again: the sender who
    // wrote "=?x?Q?hi?=" literally sent it as a word of its own.
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?=3D=3Fx=3FQ=3Fhi=3F=3D?="), "=?x?Q?hi?=");
    EXPECT_EQ(DecodeHeaderWords("Price =?iso-8859-1?Q?=3D=3Futf-8=3FQ=3F100=3F=3D?= offer"),
              "Price =?utf-8?Q?100?= offer");
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?never closes"), "=?x?Q?never closes");
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?a?=?="), "a?");
    // A long header of many words stays linear (no hang) and drops the blanks.
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "=?utf-8?B?QQ==?= ";
    EXPECT_EQ(DecodeHeaderWords(many), std::string(20000, 'A'));
}

TEST(EncodedWords, EqualsLeftBehindStartAWordAsTheRulesWrittenPlainlyFindIt)
{
    EXPECT_EQ(DecodeHeaderWords("a===?x?Q?\?=?x?Q?\?=?y?Q?b?="), "ab");
    EXPECT_EQ(DecodeHeaderWords("a==?x?Q?\?=?y?Q?b?="), "ab");
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?=3D?=?y?Q?b?="), "=?y?Q?b?=");
    EXPECT_EQ(DecodeHeaderWords("=?x?q?=c2=a2?="), "\xC2\xA2");
    EXPECT_EQ(DecodeHeaderWords("=?x?Q?a=b?="), "a=b");

    // Random texts of words, stray "=" and "?", and escapes that decode to
    // what looks like words: the same result as the loop written plainly.
    const char* tokens[] = {"=", "?", "Q", "x", " ", "=?", "?=", "=3D", "=3F", "_", "z", "=?x?Q?"};
    std::mt19937 rng(5);
    for (int round = 0; round < 20000; ++round) {
        std::string t;
        for (unsigned k = rng() % 14; k > 0; --k)
            t += tokens[rng() % std::size(tokens)];
        ASSERT_EQ(DecodeHeaderWords(t), testref::DecodeHeaderWordsByRule(t)) << t;
    }
}

TEST(EncodedWords, ManyWordsAndStrayEqualsStayLinear)
{
    // Many "=" in front of many empty words: each empty word hands one "="
    // back to the search. Timing only guards against a hang here; the
    // figures are in bench/header_scaling.
    std::string t(200001, '=');
    for (int i = 0; i < 200000; ++i)
        t += "?x?Q?\?=";
    t += "?y?Q?b?=";
    EXPECT_EQ(DecodeHeaderWords(t), "b");
}

TEST(EncodedWords, EncodeOnlyWhenNeeded)
{
    EXPECT_EQ(EncodeHeaderWord("Hello", "iso-8859-1"), "Hello");
    EXPECT_EQ(EncodeHeaderWord("Hello World", "iso-8859-1"), "=?iso-8859-1?Q?Hello=20World?=");
    EXPECT_EQ(EncodeHeaderWord("a_b", "x"), "=?x?Q?a=5Fb?=");
    EXPECT_EQ(EncodeHeaderWord("why?", "x"), "=?x?Q?why=3F?=");
    EXPECT_EQ(DecodeHeaderWords(EncodeHeaderWord("Andr\xE9 \"x\" <y>", "iso-8859-1")), "Andr\xE9 \"x\" <y>");
}

TEST(HeaderLines, CanonicalForm)
{
    EXPECT_EQ(CanonicalHeaderLine("MIME-VERSION: 1.0"), "Mime-Version: 1.0");
    EXPECT_EQ(CanonicalHeaderLine("x-mailer:a"), "X-Mailer: a");
    EXPECT_EQ(CanonicalHeaderLine("Subject:  a   b  "), "Subject: a b");
    EXPECT_EQ(CanonicalHeaderLine("content-type:   text/plain;  charset=x"), "Content-Type: text/plain; charset=x");
    EXPECT_EQ(CanonicalHeaderLine("message-id: <a@b>"), "Message-ID: <a@b>");
    EXPECT_EQ(CanonicalHeaderLine("content-id:<a>"), "Content-ID: <a>");
    EXPECT_EQ(CanonicalHeaderLine("x-idea: 1"), "X-Idea: 1");
    EXPECT_EQ(CanonicalHeaderLine("Subject: \"a   b\"  c"), "Subject: \"a   b\" c");
    EXPECT_EQ(CanonicalHeaderLine("no colon here"), "No colon here ");
    // An open quotation keeps its text rather than losing it.
    EXPECT_EQ(CanonicalHeaderLine("Subject: x \"open  end"), "Subject: x \"open  end");
    EXPECT_EQ(CanonicalHeaderLine(""), " ");
}

TEST(HeaderLines, LinesAlreadyCanonicalComeBackAsTheyAreAndOthersAsRewritten)
{
    // Lines that need nothing, and lines one byte away from that.
    const char* rows[] = {"Subject: a b", "Message-ID: <a@b>", "Message-Id: <a@b>", "X-Id: 1", "Id: 1",
                          "-Id: 1", "Subject: ", "Subject:", "Subject:  a", "Subject: a ", "Subject: a\t b",
                          "Subject: a \tb", "Subject: \"a  b\" c", "Subject: \"open  end", "Subject: \"open end ",
                          " Subject: a", ":", ": ", ": x", "X-A-B: \"q\"  r", "Content-Type: text/plain; charset=x"};
    for (const char* row : rows) {
        EXPECT_EQ(CanonicalHeaderLine(row), CanonicalRewrite(row)) << row;
        std::string inPlace = row;
        CanonicaliseHeaderLine(inPlace);
        EXPECT_EQ(inPlace, CanonicalRewrite(row)) << row;
    }
    const std::vector<std::string> tokens = {"a", "A", "-", "i", "I", "d", "D", ":", " ", "\t", "\"", ";", "x", "Id"};
    std::mt19937 rng(11);
    for (int round = 0; round < 50000; ++round) {
        std::string line = RandomText(rng, tokens, 12);
        // Half the lines from already canonical ones, which take the short way.
        if (round % 2)
            line = CanonicalRewrite(line);
        ASSERT_EQ(CanonicalHeaderLine(line), CanonicalRewrite(line)) << line;
        std::string inPlace = line;
        CanonicaliseHeaderLine(inPlace);
        ASSERT_EQ(inPlace, CanonicalRewrite(line)) << line;
    }
}

TEST(HeaderLines, MainValue)
{
    EXPECT_EQ(GetHeaderMainValue("Content-Type: text/plain ; charset=x"), "text/plain");
    EXPECT_EQ(GetHeaderMainValue("Content-Type: \"text/plain\" ; charset=x"), "text/plain");
    EXPECT_EQ(GetHeaderMainValue("Subject: a: b"), "a: b");
    EXPECT_EQ(GetHeaderMainValue("Subject: \"a;b\"; c"), "a;b");
    EXPECT_EQ(GetHeaderMainValue("no colon"), "");
    EXPECT_EQ(SetHeaderMainValue("Content-Type: text/plain; charset=x", "text/html"),
              "Content-Type: text/html; charset=x");
    EXPECT_EQ(SetHeaderMainValue("Subject: old", "  new "), "Subject: new");
    EXPECT_EQ(SetHeaderMainValue("no colon", "x"), "no colon");
}

TEST(HeaderLines, Parameters)
{
    EXPECT_EQ(GetHeaderParam("Content-Type: multipart/mixed; boundary=\"a;b\"", "boundary"), "a;b");
    EXPECT_EQ(GetHeaderParam("Content-Type: text/plain", "charset"), "");
    EXPECT_EQ(GetHeaderParam("Content-Type: text/plain; CHARSET=x", "charset"), "x");
    EXPECT_EQ(GetHeaderParam("Content-Type: text/plain; a=b=c", "a"), "b");
    EXPECT_EQ(GetHeaderParam("Content-Type: text/plain;name = \"f g.txt\" ;x=1", "name"), "f g.txt");
    EXPECT_EQ(GetHeaderParam("name=x; charset=y", "charset"), "");
    EXPECT_EQ(GetHeaderParam("X: a; bcharset=1; charset=2", "charset"), "2");

    EXPECT_EQ(SetHeaderParam("Content-Type: text/plain; charset=x", "charset", "y"),
              "Content-Type: text/plain; charset=y");
    EXPECT_EQ(SetHeaderParam("Content-Type: text/plain; charset=x", "name", "f.txt"),
              "Content-Type: text/plain; charset=x; name=f.txt");
    EXPECT_EQ(SetHeaderParam("Content-Type: text/plain; charset=x; name=a", "CHARSET", "\"q\""),
              "Content-Type: text/plain; charset=\"q\"; name=a");
    EXPECT_EQ(SetHeaderParam("Content-Type: text/plain;", "a", "1"), "Content-Type: text/plain; a=1");
    EXPECT_EQ(SetHeaderParam("", "a", "1"), "; a=1");
}

TEST(HeaderLines, ParametersReadInPlaceAsByTheCharacterwiseReader)
{
    // Repeated names, stray "=", quotes left open across the end (where
    // the ";" the reader adds falls inside them) and empty names.
    const char* rows[] = {"X: a; n=1; n=2", "X: a; n=\"1; n=2", "X: a; n=1=2; n=3", "X: a; n=n=2", "X: a; =1", "X: a; n=\"b",
                          "X: a; n=\"b;", "n=1; n=2", "X: a; n = \" v \" ", "X: a; n=;", "X: \"a;n=1\"; n=2"};
    for (const char* row : rows)
        for (const char* name : {"n", " N ", ""}) {
            EXPECT_EQ(GetHeaderParam(row, name), ParamRewrite(row, name, nullptr)) << row << " / " << name;
            EXPECT_EQ(HeaderParamPresent(row, name), !TrimBlanks(ParamRewrite(row, name, nullptr)).empty()) << row;
            const std::string v = " w ";
            EXPECT_EQ(SetHeaderParam(row, name, v), ParamRewrite(row, name, &v)) << row << " / " << name;
        }
    const std::vector<std::string> tokens = {"n", "N", "=", ";", ":", " ", "\t", "\"", "x", "name", "*", "; n=", "=n"};
    const std::string names[] = {"n", " N", "", "name", "x"};
    const std::string value = "v";
    std::mt19937 rng(23);
    for (int round = 0; round < 50000; ++round) {
        const std::string line = (round % 2 ? "X: a" : "") + RandomText(rng, tokens, 14);
        const std::string& name = names[rng() % std::size(names)];
        ASSERT_EQ(GetHeaderParam(line, name), ParamRewrite(line, name, nullptr)) << line << " / " << name;
        ASSERT_EQ(HeaderParamPresent(line, name), !TrimBlanks(ParamRewrite(line, name, nullptr)).empty()) << line;
        ASSERT_EQ(SetHeaderParam(line, name, value), ParamRewrite(line, name, &value)) << line << " / " << name;
        std::string inPlace = line;
        ReplaceHeaderMainValue(inPlace, " w ");
        ASSERT_EQ(inPlace, SetHeaderMainValue(line, " w ")) << line;
    }
}

TEST(HeaderLines, InPlaceEditsTakingTextFromTheLineItself)
{
    // The new text is read before the line changes under it.
    std::string line = "Subject: old words; p=1";
    ReplaceHeaderMainValue(line, std::string_view(line).substr(9, 3));
    EXPECT_EQ(line, "Subject: old; p=1");
    line = "Content-Type: text/plain; charset=iso-8859-1";
    ReplaceHeaderParam(line, std::string_view(line).substr(26, 7), std::string_view(line).substr(14, 4));
    EXPECT_EQ(line, "Content-Type: text/plain; charset=text");
    line = "X: a";
    ReplaceHeaderParam(line, std::string_view(line).substr(0, 1), std::string_view(line).substr(3, 1));
    EXPECT_EQ(line, "X: a; X=a");
}

TEST(HeaderLines, ExtendedParametersGiveTheRealNameBytes)
{
    std::string v, charset, language;
    EXPECT_TRUE(GetHeaderParamExtended("Content-Disposition: attachment; filename*=UTF-8''R%C3%A9sum%C3%A9.pdf",
                                       "filename", v, &charset, &language));
    EXPECT_EQ(v, "R\xC3\xA9sum\xC3\xA9.pdf");
    EXPECT_EQ(charset, "UTF-8");
    EXPECT_EQ(language, "");
    // Continuations, encoded and not, in any order, with a language tag.
    EXPECT_TRUE(GetHeaderParamExtended("Content-Type: application/pdf; name*1*=%20two; NAME*0*=iso-8859-1'de'%E9t%E9;"
                                       " name*2=\" three;x.pdf\"",
                                       "name", v, &charset, &language));
    EXPECT_EQ(v, "\xE9t\xE9 two three;x.pdf");
    EXPECT_EQ(charset, "iso-8859-1");
    EXPECT_EQ(language, "de");
    EXPECT_TRUE(GetHeaderParamExtended("X: a; name*0=\"long \"; name*1=name.txt", "name", v));
    EXPECT_EQ(v, "long name.txt");
    // A gap ends the run; a "%" that starts no escape stays.
    EXPECT_TRUE(GetHeaderParamExtended("X: a; f*0*=''a%; f*2*=c", "f", v));
    EXPECT_EQ(v, "a%");
    EXPECT_FALSE(GetHeaderParamExtended("X: a; filename=plain.txt; filenamex*=y", "filename", v));
    EXPECT_FALSE(GetHeaderParamExtended("X: a; f*x=1", "f", v));

    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    p->Header = {"Content-Type: application/octet-stream",
                 "Content-Disposition: attachment; filename=\"fallback.pdf\"; filename*=UTF-8''R%C3%A9sum%C3%A9.pdf"};
    EXPECT_EQ(p->GetLabelParamValue("Content-Disposition", "filename"), "R\xC3\xA9sum\xC3\xA9.pdf");
    EXPECT_EQ(p->GetFileName(), "R\xC3\xA9sum\xC3\xA9.pdf");
    p->Header = {"Content-Type: application/pdf; name*0*=utf-8''a%20very%20long; name*1*=%20name.pdf"};
    EXPECT_EQ(p->GetFileName(), "a very long name.pdf");
    p->Header = {"Content-Type: text/plain; charset=us-ascii"};
    EXPECT_EQ(p->GetLabelParamValue("Content-Type", "charset"), "us-ascii");
}

TEST(HeaderLines, FindLineByPrefixAndOccurrence)
{
    const TStringList list = {"To: a", "Tox: c", "TO:b"};
    EXPECT_EQ(FindHeaderLine(&list, "to:", 0), 0);
    EXPECT_EQ(FindHeaderLine(&list, "to:", 1), 2);
    EXPECT_EQ(FindHeaderLine(&list, "to:", 2), -1);
    EXPECT_EQ(FindHeaderLine(nullptr, "to:", 0), -1);
}

TEST(TextUtils, TrimPadAndLines)
{
    EXPECT_EQ(TrimBlanks("\ta\t"), "a\t");
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(TrimLeadingBlanks(" \ta "), "a ");
    EXPECT_EQ(TrimTrailingBlanks(" a \t"), " a");
    EXPECT_EQ(PadLeftTo("7", 3, "0"), "007");
    EXPECT_EQ(PadLeftTo("  12345", 3, "0"), "345");
    EXPECT_EQ(PadLeftTo("1", 4, "ab"), "abab1");
    EXPECT_EQ(PadLeftTo("12", 4, "abc"), "abc12");
    EXPECT_EQ(PadLeftTo("123", 3, "0"), "123");
    EXPECT_EQ(PadLeftTo("", 0, "0"), "");
    EXPECT_EQ(PadLeftTo("7", 300000, "0").size(), 300000u);

    TLineList lines;
    lines.Assign("one\r\ntwo\nthree\rfour\r\n\r\nlast");
    EXPECT_EQ(lines.ToStringList(), (TStringList{"one", "two", "three", "four", "", "last"}));
    lines.Assign("only\r\n");
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "only");
    lines.clear();
    EXPECT_TRUE(lines.empty());

    long long pos = 1;
    const std::string text = "a\r\nb\rc\r\nd";
    EXPECT_EQ(NextTextLine(text, pos), "a\r\n");
    EXPECT_EQ(NextTextLine(text, pos), "b\rc\r\n");
    EXPECT_EQ(NextTextLine(text, pos), "d");
    EXPECT_EQ(pos, -1);
}

TEST(TextUtils, LinesSplitAtEveryKindOfBreakWhereverItFalls)
{
    // Breaks one byte at a time, as plainly as they can be written.
    const auto reference = [](std::string_view t) {
        TStringList lines;
        std::size_t i = 0;
        while (i < t.size()) {
            std::size_t j = i;
            while (j < t.size() && t[j] != '\r' && t[j] != '\n')
                ++j;
            lines.emplace_back(t.substr(i, j - i));
            i = j + (j < t.size()) + (j + 1 < t.size() && t[j] == '\r' && t[j + 1] == '\n');
        }
        return lines;
    };
    std::mt19937 rng(5);
    TLineList lines;
    for (int round = 0; round < 5000; ++round) {
        // From texts of breaks only to texts with hardly any.
        const unsigned breaks = rng() % 60;
        std::string t(round < 4000 ? rng() % 201 : rng() % 5000, '\0');
        for (char& c : t) {
            const unsigned r = rng() % 100;
            c = r < breaks / 2 ? '\r' : r < breaks ? '\n' : r < 98 ? static_cast<char>('a' + r % 26) : char(rng());
        }
        lines.Assign(t);
        ASSERT_EQ(lines.ToStringList(), reference(t)) << "round " << round;
    }
    // A CR LF pair split across every block boundary, and a last line or
    // break at every distance from the end.
    for (std::size_t at = 0; at < 40; ++at)
        for (const char* end : {"\r\n", "\r", "\n", "\r\nx", "\n\r", "\r\r\n"}) {
            const std::string t = std::string(at, 'x') + end;
            lines.Assign(t);
            ASSERT_EQ(lines.ToStringList(), reference(t)) << at << " " << end;
        }
    // Assigning again forgets the lines before.
    lines.Assign(std::string(100, '\n'));
    lines.Assign("a\nb");
    EXPECT_EQ(lines.ToStringList(), (TStringList{"a", "b"}));
    lines.Assign("");
    EXPECT_TRUE(lines.empty());
}
