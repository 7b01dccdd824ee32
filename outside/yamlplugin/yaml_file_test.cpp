#include "outside/yamlplugin/yaml_file.hpp"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "outside/yamlplugin/globals.hpp"
#include "support/base/errors.hpp"

namespace tovik::yamlplugin {

namespace fs = std::filesystem;

class YamlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tovik_yaml_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
  fs::path dir_;
};

TEST_F(YamlFileTest, SavesWholeMappingAndReadsItBackWithKinds) {
  const fs::path p = dir_ / "vars.yaml";
  {
    YamlFile f(p);
    EXPECT_TRUE(f.data().empty());
    f["token"] = Value("abc");
    f["code"] = Value(200);
    f.update(Dict{{"digits", Value("007")}, {"flag", Value("true")}, {"none", Value()}, {"ratio", Value(0.1)},
                  {"名字", Value("张三")}});
    f["token"] = Value("xyz");  // replaces, keeps its place
    f.save();
  }
  YamlFile again(p);
  const Dict& d = again.data();
  ASSERT_EQ(d.size(), 7u);
  EXPECT_EQ(d.begin()->first, "token");
  EXPECT_EQ(d.at("token"), Value("xyz"));
  EXPECT_TRUE(d.at("code").is_int());
  // texts that look like other kinds stay texts
  EXPECT_EQ(d.at("digits"), Value("007"));
  EXPECT_EQ(d.at("flag"), Value("true"));
  EXPECT_TRUE(d.at("none").is_none());
  EXPECT_EQ(d.at("ratio"), Value(0.1));
  EXPECT_EQ(d.at("名字"), Value("张三"));
  // no temporary file is left beside it
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1);
}

// A file the user wrote, opened and saved by a run (which saves every variable it keeps), must
// read back the same: these texts came back with line breaks folded into spaces, or as an
// unreadable file.
TEST_F(YamlFileTest, SavedFileReadsBackAsTheUserWroteIt) {
  const fs::path p = dir_ / "vars.yaml";
  write(p, "key: \"tabt\\r hee\\u15e9 \\x41 \\\" end\"\n\"\": empty key\n? ~\n: null key\n"
           "\"---  m\": \"\\x7f\\x01\"\nnel: \"a\\Nb\\Lc\"\n");
  const YamlFile before(p);
  before.save();
  const YamlFile after(p);
  EXPECT_EQ(Value(after.data()), Value(before.data())) << read(p);
  EXPECT_EQ(after.data().at("key"), Value("tabt\r hee\xE1\x97\xA9 A \" end"));
  EXPECT_EQ(after.data().at("---  m"), Value("\x7F\x01"));
}

TEST_F(YamlFileTest, InvalidFilesAreErrorsNamingTheFileAndStayUntouched) {
  const fs::path broken = dir_ / "broken.yaml";
  write(broken, "a: [1, 2\nb: {");
  try {
    YamlFile f(broken);
    FAIL() << "expected an error";
  } catch (const ValueError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("变量文件 " + broken.string() + " 不是有效的 YAML: ", 0), 0u) << e.what();
  }
  EXPECT_EQ(read(broken), "a: [1, 2\nb: {");

  const fs::path list = dir_ / "list.yaml";
  write(list, "- 1\n- 2\n");
  try {
    YamlFile f(list);
    FAIL() << "expected an error";
  } catch (const ValueError& e) {
    EXPECT_EQ(std::string(e.what()), "变量文件 " + list.string() + " 的内容应为字典（变量名到值的映射），实际为 list");
  }

  const fs::path empty = dir_ / "empty.yaml";
  write(empty, "");
  EXPECT_TRUE(YamlFile(empty).data().empty());
}

TEST_F(YamlFileTest, SaveIntoMissingDirectoryIsAnOSError) {
  YamlFile f(dir_ / "no" / "such" / "vars.yaml");
  f["a"] = Value(1);
  try {
    f.save();
    FAIL() << "expected an OSError";
  } catch (const OSError& e) {
    EXPECT_EQ(std::string(e.what()),
              "变量文件 " + (dir_ / "no" / "such" / "vars.yaml").string() + " 无法写入: No such file or directory");
  }
}

TEST(Globals, AddReplacesAndKeepsFirstOrder) {
  TemplateGlobals g;
  g.add_globals(Dict{{"a", Value(1)}, {"b", Value(2)}});
  g.add_globals(Dict{{"a", Value("x")}});
  ASSERT_EQ(g.env_globals().size(), 2u);
  EXPECT_EQ(g.env_globals().begin()->first, "a");
  EXPECT_EQ(g.env_globals().at("a"), Value("x"));
}

}  // namespace tovik::yamlplugin
