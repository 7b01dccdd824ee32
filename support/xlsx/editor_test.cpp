// Editing workbooks: what the edits write, read back through the reader and as raw XML, and
// saves that fail without harming what was there.
#include "support/xlsx/editor.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include "support/base/errors.hpp"
#include "support/base/printable.hpp"
#include "support/xlsx/package.hpp"
#include "support/xlsx/test_files.hpp"
#include "support/xlsx/workbook.hpp"

namespace tovik::xlsx {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using test_files::error_of;
using test_files::read_bytes;
using test_files::ScratchDir;

// A case sheet with a header and two rows, and a list sheet holding its heading only.
void write_cases(const fs::path& path) {
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* cases = workbook_add_worksheet(wb, "active");
  lxw_worksheet* list = workbook_add_worksheet(wb, "_list");
  worksheet_write_string(cases, 0, 0, "编号", nullptr);
  worksheet_write_string(cases, 0, 2, "关键字", nullptr);
  worksheet_write_number(cases, 1, 0, 1, nullptr);
  worksheet_write_string(cases, 1, 2, "assert", nullptr);
  worksheet_write_string(cases, 3, 2, "click", nullptr);  // row 3 stays empty
  worksheet_set_column(cases, 2, 2, 18, nullptr);
  worksheet_write_string(list, 0, 0, "关键字", nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
}

// The XML of a sheet part as stored; libxlsxwriter numbers the parts in tab order.
std::string sheet_xml(const fs::path& path, int n) {
  return Package(path).read("xl/worksheets/sheet" + std::to_string(n) + ".xml");
}

TEST(WorkbookEditor, AppendedRowsFollowTheLastRowAndReadBackAsWritten) {
  ScratchDir dir;
  write_cases(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  EXPECT_EQ(book.sheet_titles(), (std::vector<std::string>{"active", "_list"}));
  book.append_rows("_list", {{"click"}, {"中文 关键字"}, {"  spaced  ", "", "<&>\"'"}});
  book.append_rows("active", {{"", "", "input"}});
  book.save(dir / "out.xlsx");

  const Workbook out = read_workbook(dir / "out.xlsx");
  const auto& list = out.sheets.at(1).rows;
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].cells, List{"关键字"});
  EXPECT_EQ(list[1].cells, List{"click"});
  EXPECT_EQ(list[2].cells, List{"中文 关键字"});
  EXPECT_EQ(list[3].number, 4u);
  EXPECT_EQ(list[3].cells, (List{"  spaced  ", nullptr, "<&>\"'"}));
  // after row 4, the last one, not after the number of rows
  const auto& cases = out.sheets.at(0).rows;
  ASSERT_EQ(cases.size(), 4u);
  EXPECT_EQ(cases.back().number, 5u);
  EXPECT_EQ(cases.back().cells, (List{nullptr, nullptr, "input"}));
  EXPECT_EQ(cases[1].cells, (List{1, nullptr, "assert"}));

  // the dimension covers the new rows; what the sheet had besides its rows is still there
  EXPECT_THAT(sheet_xml(dir / "out.xlsx", 2), HasSubstr("<dimension ref=\"A1:C4\"/>"));
  EXPECT_THAT(sheet_xml(dir / "out.xlsx", 1), AllOf(HasSubstr("<dimension ref=\"A1:C5\"/>"), HasSubstr("<cols>")));
}

TEST(WorkbookEditor, PartsNoEditTouchedAreCopiedUnchanged) {
  ScratchDir dir;
  write_cases(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  book.append_rows("_list", {{"x"}});
  book.save(dir / "out.xlsx");
  Package in(dir / "in.xlsx"), out(dir / "out.xlsx");
  EXPECT_EQ(in.entry_names(), out.entry_names());
  for (const std::string& name : in.entry_names()) {
    if (name == "xl/worksheets/sheet2.xml") continue;
    EXPECT_EQ(in.read(name), out.read(name)) << name;
  }
  // saving twice gives the same workbook again
  book.save(dir / "again.xlsx");
  EXPECT_EQ(read_workbook(dir / "again.xlsx").sheets.at(1).rows.size(), 2u);
}

TEST(WorkbookEditor, RowsGoIntoThePartsOwnNamespacePrefix) {
  ScratchDir dir;
  const std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  test_files::write_zip(
      dir / "prefixed.xlsx",
      {{"xl/workbook.xml", "<x:workbook xmlns:x=\"" + ns + "\" xmlns:r=\"" + rel +
                               "\"><x:sheets><x:sheet name=\"S\" r:id=\"rId1\"/></x:sheets></x:workbook>"},
       {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel +
                                          "/worksheet\" Target=\"worksheets/s.xml\"/></Relationships>"},
       // rows without r count on from the one before; a dimension that cannot be read goes
       {"xl/worksheets/s.xml", "<x:worksheet xmlns:x=\"" + ns +
                                   "\"><x:dimension ref=\"junk\"/><x:sheetData><x:row r=\"2\"><x:c r=\"A2\" "
                                   "t=\"inlineStr\"><x:is><x:t>a</x:t></x:is></x:c></x:row><x:row><x:c "
                                   "t=\"inlineStr\"><x:is><x:t>b</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>"}});
  WorkbookEditor book(dir / "prefixed.xlsx");
  book.append_rows("S", {{"c"}});
  book.save(dir / "out.xlsx");
  const std::string xml = Package(dir / "out.xlsx").read("xl/worksheets/s.xml");
  EXPECT_THAT(xml, AllOf(HasSubstr("<x:row r=\"4\"><x:c r=\"A4\" t=\"inlineStr\"><x:is><x:t>c</x:t></x:is></x:c></x:row>"),
                         Not(HasSubstr("dimension"))));
  EXPECT_EQ(read_workbook(dir / "out.xlsx").sheets.at(0).rows.back().cells, List{"c"});
}

// A workbook that names the sheet "active" in every place a title can appear.
void write_references(const fs::path& path) {
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* active = workbook_add_worksheet(wb, "active");
  lxw_worksheet* other = workbook_add_worksheet(wb, "Other");
  workbook_add_worksheet(wb, "active2");
  worksheet_write_string(active, 0, 0, "v", nullptr);
  worksheet_print_area(active, 0, 0, 2, 2);
  workbook_define_name(wb, "Kw", "=active!$A$1:$A$3");
  workbook_define_name(wb, "Unrelated", "=active2!$A$1");
  worksheet_write_formula(other, 0, 0, "=active!A1", nullptr);
  worksheet_write_formula(other, 1, 0, "='ACTIVE'!A1&\"active!A1\"", nullptr);
  worksheet_write_formula(other, 2, 0, "=SUM(active:Other!B1)+active2!A1", nullptr);
  worksheet_write_url(other, 3, 0, "internal:active!A1", nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
  // libxlsxwriter 1.1's list validations leak their formula, so the editor adds this one
  WorkbookEditor book(path);
  ListValidation v;
  v.formula1 = "=active!$A$1:$A$3";
  v.sqref = "A5";
  book.add_list_validation("Other", v);
  book.save(path);
}

TEST(WorkbookEditor, RenameChangesEveryReferenceToTheSheetAndNothingElse) {
  ScratchDir dir;
  write_references(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  book.rename_sheet("active", "登录 用例");
  book.save(dir / "out.xlsx");

  EXPECT_EQ(sheet_names(dir / "out.xlsx"), (std::vector<std::string>{"登录 用例", "Other", "active2"}));
  Package out(dir / "out.xlsx");
  const std::string other = out.read("xl/worksheets/sheet2.xml");
  EXPECT_THAT(other, AllOf(HasSubstr("<f>'登录 用例'!A1</f>"),
                           // a text that merely looks like a reference stays
                           HasSubstr("<f>'登录 用例'!A1&amp;\"active!A1\"</f>"),
                           HasSubstr("<f>SUM('登录 用例:Other'!B1)+active2!A1</f>"),
                           HasSubstr("location=\"'登录 用例'!A1\""),
                           HasSubstr("<formula1>='登录 用例'!$A$1:$A$3</formula1>")));
  const std::string workbook = out.read("xl/workbook.xml");
  EXPECT_THAT(workbook, AllOf(HasSubstr(">'登录 用例'!$A$1:$A$3</definedName>"),
                              HasSubstr(">'登录 用例'!$A$1:$C$3</definedName>"),
                              HasSubstr(">active2!$A$1</definedName>")));
  EXPECT_THAT(out.read("docProps/app.xml"),
              AllOf(HasSubstr("<vt:lpstr>登录 用例</vt:lpstr>"), HasSubstr("<vt:lpstr>'登录 用例'!Print_Area</vt:lpstr>"),
                    HasSubstr("<vt:lpstr>active2</vt:lpstr>"), Not(HasSubstr(">active<"))));

  // a plain title stays bare
  WorkbookEditor again(dir / "in.xlsx");
  again.rename_sheet("active", "login");
  again.save(dir / "plain.xlsx");
  EXPECT_THAT(Package(dir / "plain.xlsx").read("xl/worksheets/sheet2.xml"),
              AllOf(HasSubstr("<f>login!A1</f>"), HasSubstr("<f>SUM(login:Other!B1)+active2!A1</f>")));
}

TEST(WorkbookEditor, RenameRefusesTitlesTheFormatForbidsAndChangesNothing) {
  ScratchDir dir;
  write_references(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units, as the spreadsheet counts
  std::string sixteen_emoji, fifteen_emoji;
  for (int i = 0; i < 16; ++i) sixteen_emoji += emoji;
  for (int i = 0; i < 15; ++i) fifteen_emoji += emoji;
  std::string thirty_one_han;
  for (int i = 0; i < 31; ++i) thirty_one_han += "用";
  for (const std::string& bad : {std::string(), std::string(32, 'a'), sixteen_emoji, std::string("a:b"),
                                 std::string("a\\b"), std::string("a/b"), std::string("a?b"), std::string("a*b"),
                                 std::string("a[b"), std::string("a]b"), std::string("'a"), std::string("a'"),
                                 std::string("a\tb"), std::string("a\0b", 3), std::string("\xE7\x94"),
                                 std::string("OTHER"), std::string("Active2")}) {
    EXPECT_THAT(error_of<ValueError>([&] { book.rename_sheet("active", bad); }), HasSubstr(repr_text(bad))) << bad;
  }
  EXPECT_THAT(error_of<ValueError>([&] { book.rename_sheet("active", "Other"); }), HasSubstr("与文件"));
  EXPECT_THAT(error_of<ValueError>([&] { book.rename_sheet("missing", "x"); }),
              AllOf(HasSubstr((dir / "in.xlsx").string()), HasSubstr("没有工作表 'missing'")));
  book.save(dir / "same.xlsx");
  EXPECT_EQ(sheet_names(dir / "same.xlsx"), (std::vector<std::string>{"active", "Other", "active2"}));
  EXPECT_THAT(Package(dir / "same.xlsx").read("xl/worksheets/sheet2.xml"), HasSubstr("<f>active!A1</f>"));

  for (const std::string& good : {std::string(31, 'a'), thirty_one_han, fifteen_emoji, std::string("it's"),
                                  std::string("ACTIVE")})
    EXPECT_EQ(sheet_title_problem(good), "") << good;
  book.rename_sheet("active", "ACTIVE");  // its own title in another case
  book.rename_sheet("ACTIVE", thirty_one_han);
  book.save(dir / "long.xlsx");
  EXPECT_EQ(sheet_names(dir / "long.xlsx").front(), thirty_one_han);
}

// The children of a worksheet's root, by local name.
std::vector<std::string> children_of(const std::string& xml) {
  pugi::xml_document doc;
  doc.load_string(xml.c_str());
  std::vector<std::string> names;
  for (pugi::xml_node c = doc.document_element().first_child(); c; c = c.next_sibling()) names.push_back(c.name());
  return names;
}

TEST(WorkbookEditor, ListValidationTakesItsPlaceAmongTheSheetsParts) {
  ScratchDir dir;
  lxw_workbook* wb = workbook_new((dir / "in.xlsx").c_str());
  lxw_worksheet* plain = workbook_add_worksheet(wb, "plain");
  worksheet_merge_range(plain, 0, 0, 0, 1, "merged", nullptr);
  worksheet_write_url(plain, 2, 0, "https://example.invalid/", nullptr);
  workbook_add_worksheet(wb, "validated");
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  ListValidation v;
  v.formula1 = "=_list!$A:$A";
  v.sqref = "C1:C1048576";
  v.allow_blank = true;
  v.error_style = "warning";
  v.error = "未知 <值> & \"引号\"";
  v.prompt = "请选择";
  v.prompt_title = "标题";
  WorkbookEditor book(dir / "in.xlsx");
  book.add_list_validation("plain", v);
  book.add_list_validation("validated", v);
  book.save(dir / "out.xlsx");
  // a sheet that has validations already, from an earlier save
  WorkbookEditor more(dir / "out.xlsx");
  more.add_list_validation("validated", v);
  more.save(dir / "out.xlsx");

  const std::string plain_xml = sheet_xml(dir / "out.xlsx", 1);
  const auto names = children_of(plain_xml);
  auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  ASSERT_LT(at("dataValidations"), static_cast<long>(names.size()));
  EXPECT_LT(at("sheetData"), at("mergeCells"));
  EXPECT_EQ(at("mergeCells") + 1, at("dataValidations"));
  EXPECT_EQ(at("dataValidations") + 1, at("hyperlinks"));
  EXPECT_LT(at("hyperlinks"), at("pageMargins"));
  pugi::xml_document doc;
  doc.load_string(plain_xml.c_str());
  pugi::xml_node added = doc.document_element().child("dataValidations").child("dataValidation");
  EXPECT_STREQ(added.attribute("type").value(), "list");
  EXPECT_STREQ(added.attribute("errorStyle").value(), "warning");
  EXPECT_STREQ(added.attribute("allowBlank").value(), "1");
  EXPECT_STREQ(added.attribute("showErrorMessage").value(), "1");
  EXPECT_STREQ(added.attribute("showInputMessage").value(), "1");
  EXPECT_STREQ(added.attribute("error").value(), "未知 <值> & \"引号\"");
  EXPECT_STREQ(added.attribute("prompt").value(), "请选择");
  EXPECT_STREQ(added.attribute("promptTitle").value(), "标题");
  EXPECT_FALSE(added.attribute("errorTitle"));
  EXPECT_FALSE(added.attribute("showDropDown"));  // "1" would hide the drop-down
  EXPECT_STREQ(added.attribute("sqref").value(), "C1:C1048576");
  EXPECT_STREQ(added.child_value("formula1"), "=_list!$A:$A");

  // one list of validations per sheet, counted
  doc.load_string(sheet_xml(dir / "out.xlsx", 2).c_str());
  pugi::xml_node list = doc.document_element().child("dataValidations");
  EXPECT_STREQ(list.attribute("count").value(), "2");
  EXPECT_EQ(std::distance(list.children().begin(), list.children().end()), 2);
  EXPECT_EQ(read_workbook(dir / "out.xlsx").sheets.size(), 2u);
  EXPECT_FALSE(list.next_sibling("dataValidations"));
}

TEST(WorkbookEditor, BrokenInputIsNamed) {
  ScratchDir dir;
  EXPECT_THAT(error_of<OSError>([&] { WorkbookEditor(dir / "missing.xlsx"); }), HasSubstr("missing.xlsx"));
  test_files::write_bytes(dir / "text.xlsx", "not a zip");
  EXPECT_THAT(error_of<ValueError>([&] { WorkbookEditor(dir / "text.xlsx"); }),
              AllOf(HasSubstr("text.xlsx"), HasSubstr("不是有效的 xlsx 工作簿")));
  write_cases(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  EXPECT_THAT(error_of<ValueError>([&] { book.append_rows("nope", {{"x"}}); }), HasSubstr("没有工作表 'nope'"));
  EXPECT_THAT(error_of<ValueError>([&] { book.append_rows("_list", {{"ok"}, {std::string("\x01")}}); }),
              HasSubstr("控制字符"));
  ListValidation v;
  v.formula1 = "=A:A";
  v.sqref = "A1";
  v.error_style = "fatal";
  EXPECT_THAT(error_of<ValueError>([&] { book.add_list_validation("active", v); }), HasSubstr("fatal"));
  // the refused edits left nothing behind
  book.save(dir / "out.xlsx");
  EXPECT_EQ(read_workbook(dir / "out.xlsx").sheets.at(1).rows.size(), 1u);
  EXPECT_THAT(sheet_xml(dir / "out.xlsx", 1), Not(HasSubstr("dataValidation")));
}

// What a directory holds, by name.
std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WorkbookEditor, FailedSaveLeavesNoFileAndTheOldOneIntact) {
  ScratchDir dir;
  write_cases(dir / "in.xlsx");
  WorkbookEditor book(dir / "in.xlsx");
  book.append_rows("_list", {{"new"}});

  EXPECT_THAT(error_of<OSError>([&] { book.save(dir / "missing" / "out.xlsx"); }),
              AllOf(HasSubstr((dir / "missing" / "out.xlsx").string()), HasSubstr("No such file")));
  fs::create_directories(dir / "a_directory");
  EXPECT_THAT(error_of<OSError>([&] { book.save(dir / "a_directory"); }), HasSubstr("a_directory"));

  // the disk fills up halfway through: the file there keeps every byte
  test_files::write_bytes(dir / "old.xlsx", "the old workbook");
  ::chmod((dir / "old.xlsx").c_str(), 0640);
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string error = error_of<OSError>([&] { book.save(dir / "old.xlsx"); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_THAT(error, AllOf(HasSubstr("old.xlsx"), HasSubstr("File too large")));
  EXPECT_EQ(read_bytes(dir / "old.xlsx"), "the old workbook");
  EXPECT_EQ(listing(dir / ""), (std::vector<std::string>{"a_directory", "in.xlsx", "old.xlsx"}));

  // a directory that may not be written (root may write anywhere)
  if (::geteuid() != 0) {
    fs::create_directories(dir / "locked");
    test_files::write_bytes(dir / "locked" / "kept.xlsx", "kept");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THAT(error_of<OSError>([&] { book.save(dir / "locked" / "kept.xlsx"); }), HasSubstr("kept.xlsx"));
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(read_bytes(dir / "locked" / "kept.xlsx"), "kept");
    EXPECT_EQ(listing(dir / "locked"), std::vector<std::string>{"kept.xlsx"});
  }

  // then a save that works replaces it whole, keeping its permissions
  book.save(dir / "old.xlsx");
  EXPECT_EQ(read_workbook(dir / "old.xlsx").sheets.at(1).rows.back().cells, List{"new"});
  EXPECT_EQ(fs::status(dir / "old.xlsx").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace tovik::xlsx
