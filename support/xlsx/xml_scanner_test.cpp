#include "support/xlsx/xml_scanner.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/xlsx/bad_workbook.hpp"
#include "support/xlsx/test_files.hpp"

namespace tovik::xlsx {
namespace {

using ::testing::HasSubstr;
using test_files::error_of;

// The tokens as one line: <name a='v'> for a start (local name, attributes as the scanner
// hands them), </name> for an end, [text] for character data with its pieces joined, @depth after
// every start and end.
std::string trace(const std::string& xml, std::size_t chunk) {
  TextSource source(xml, chunk);
  XmlScanner scanner("part.xml", source);
  std::string out;
  bool in_text = false;
  for (auto token = scanner.next(); token != XmlScanner::Token::Done; token = scanner.next()) {
    if (token == XmlScanner::Token::Text) {
      if (!in_text) out += '[';
      out += scanner.text();
      in_text = true;
      continue;
    }
    if (in_text) out += ']';
    in_text = false;
    if (token == XmlScanner::Token::Start) {
      out += "<" + std::string(scanner.name());
      for (const char* a : {"r", "t", "id"})
        if (auto v = scanner.attribute(a)) out += " " + std::string(a) + "='" + std::string(*v) + "'";
      out += ">";
    } else {
      out += "</" + std::string(scanner.name()) + ">";
    }
    out += "@" + std::to_string(scanner.depth());
  }
  return out;
}

// The same tokens whatever the chunks the bytes arrive in: every construct also has to work
// when a chunk ends inside it.
std::string trace_in_any_chunks(const std::string& xml) {
  const std::string whole = trace(xml, xml.size() + 1);
  for (std::size_t chunk : {1, 2, 3, 5, 8, 13})
    EXPECT_EQ(trace(xml, chunk), whole) << "in chunks of " << chunk;
  return whole;
}

std::string failure(const std::string& xml) {
  return error_of<BadWorkbook>([&] {
    TextSource source(xml);
    XmlScanner scanner("part.xml", source);
    while (scanner.next() != XmlScanner::Token::Done) {
    }
  });
}

TEST(XmlScanner, TextEntitiesAndCdata) {
  EXPECT_EQ(trace_in_any_chunks("<t>&lt;&gt;&amp;&quot;&apos; &#65;&#x4E2D;&#x1F600;</t>"),
            "<t>@1[<>&\"' A中\xF0\x9F\x98\x80]</t>@0");
  // Not references: kept as written, as the spreadsheet's own parser does.
  EXPECT_EQ(trace_in_any_chunks("<t>a & b &nbsp; &#0; &#xD800; &#xZZ; &amp</t>"),
            "<t>@1[a & b &nbsp; &#0; &#xD800; &#xZZ; &amp]</t>@0");
  EXPECT_EQ(trace_in_any_chunks("<t>x<![CDATA[<b>&amp;]] ]>]]>y<![CDATA[]]></t>"),
            "<t>@1[x<b>&amp;]] ]>y]</t>@0");
  // Line ends become LF in text and CDATA; an escaped CR stays.
  EXPECT_EQ(trace_in_any_chunks("<t>a\r\nb\rc\n<![CDATA[d\r\ne\r]]>&#13;</t>"), "<t>@1[a\nb\nc\nd\ne\n\r]</t>@0");
}

TEST(XmlScanner, TagsAttributesAndPrefixes) {
  EXPECT_EQ(trace_in_any_chunks("<?xml version=\"1.0\"?>\n<x:sheet xmlns:x=\"urn:x\"><x:row r=\"1\" >"
                                "<x:c r='A1' t=\"s\"/><x:c\n\tr = \"B1\"\n/></x:row ></x:sheet>"),
            "[\n]<sheet>@1<row r='1'>@2<c r='A1' t='s'>@3</c>@2<c r='B1'>@3</c>@2</row>@1</sheet>@0");
  // '>' and the other quote inside a value; entities decoded, whitespace characters as spaces.
  EXPECT_EQ(trace_in_any_chunks("<a r=\"x>'y\" t='&lt;\"&#x41;' id=\"a\tb\r\nc\"/>"),
            "<a r='x>'y' t='<\"A' id='a b c'>@1</a>@0");

  TextSource source("<w xmlns:r=\"urn:r\" id=\"bare\" r:id=\"rId7\"/>");
  XmlScanner scanner("part.xml", source);
  ASSERT_EQ(scanner.next(), XmlScanner::Token::Start);
  EXPECT_EQ(scanner.qualified_name(), "w");
  EXPECT_EQ(scanner.prefixed_attribute("id"), "rId7");  // r:id, not the bare id
  EXPECT_EQ(scanner.attribute("missing"), std::nullopt);
}

TEST(XmlScanner, CommentsDeclarationsAndInstructionsAreSkipped) {
  // The document type's entity is never expanded: no entity tricks reach the reader.
  EXPECT_EQ(trace_in_any_chunks("<!DOCTYPE w [<!ENTITY e \"boom\"> <!ELEMENT w ANY>]><!-- a <w> -- -->"
                                "<w><?pi <w>?>a<!---->&e;</w><!-- end -->"),
            "<w>@1[a&e;]</w>@0");
}

TEST(XmlScanner, LongTextComesInPieces) {
  const std::string big(3 << 20, 'x');
  TextSource source("<t>" + big + "</t>");
  XmlScanner scanner("part.xml", source);
  ASSERT_EQ(scanner.next(), XmlScanner::Token::Start);
  std::size_t pieces = 0, total = 0, largest = 0;
  while (scanner.next() == XmlScanner::Token::Text) {
    ++pieces;
    total += scanner.text().size();
    largest = std::max(largest, scanner.text().size());
  }
  EXPECT_EQ(total, big.size());
  EXPECT_GT(pieces, 1u);
  EXPECT_LE(largest, std::size_t{1} << 16);
}

TEST(XmlScanner, MalformedXmlNamesThePartAndTheOffset) {
  EXPECT_EQ(failure("<a><b></a>"), "part.xml: XML 格式错误（第 6 字节）: Start-end tags mismatch");
  EXPECT_EQ(failure(""), "part.xml: XML 格式错误（第 0 字节）: No document element found");
  EXPECT_EQ(failure("  <!-- only -->"), "part.xml: XML 格式错误（第 15 字节）: No document element found");
  const std::pair<const char*, const char*> cases[] = {
      {"<a><b>", "Start-end tags mismatch"},
      {"</a>", "Start-end tags mismatch"},
      {"<a>text", "Start-end tags mismatch"},
      {"<a", "Error parsing start element tag"},
      {"<a <b>", "Error parsing start element tag"},
      {"<1a/>", "Error parsing start element tag"},
      {"<a b/>", "Error parsing element attribute"},
      {"<a b=c/>", "Error parsing element attribute"},
      {"<a b=\"c\"d=\"e\"/>", "Error parsing element attribute"},
      {"<a b=\"<\"/>", "Error parsing element attribute"},
      {"<a></a", "Error parsing end element tag"},
      {"<a><!-- open", "Error parsing comment"},
      {"<a><![CDATA[open", "Error parsing CDATA section"},
      {"<?xml", "Error parsing document declaration/processing instruction"},
      {"<!DOCTYPE a [", "Error parsing document type declaration"},
  };
  for (const auto& [xml, what] : cases) EXPECT_THAT(failure(xml), HasSubstr(" 字节）: " + std::string(what))) << xml;
}

TEST(XmlScanner, LimitsStopTheReadEarly) {
  // An unclosed quote would otherwise make the scanner read the whole part as one tag.
  EXPECT_EQ(failure("<a b=\"" + std::string(kMaxTagBytes + 10, 'x')),
            "part.xml: 第 0 字节处的标签超过 4 MiB 的上限，无法读取");
  EXPECT_EQ(failure("<" + std::string(kMaxNameBytes + 1, 'a') + "/>"),
            "part.xml: 第 0 字节处的元素名超过 1024 字节的上限，无法读取");
  std::string deep;
  for (std::size_t i = 0; i <= kMaxXmlDepth; ++i) deep += "<a>";
  EXPECT_EQ(failure(deep), "part.xml: 第 768 字节处的元素嵌套超过 256 层的上限，无法读取");
}

}  // namespace
}  // namespace tovik::xlsx
