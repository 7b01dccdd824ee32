#include "keywords/class_by_type.hpp"

#include <gtest/gtest.h>

#include "keywords/key_word.hpp"
#include "support/base/errors.hpp"

namespace tovik {

TEST(ClassByType, KindNamesInAnyCaseOtherwiseTheUnion) {
  EXPECT_EQ(get_class_by_type(Value("api")).name, "ApiKeyWord");
  EXPECT_EQ(get_class_by_type(Value("API")).name, "ApiKeyWord");
  EXPECT_EQ(get_class_by_type(Value("Web")).name, "WebKeyWord");
  EXPECT_EQ(get_class_by_type(Value("aPp")).name, "AppKeyWord");
  EXPECT_EQ(get_class_by_type().name, "KeyWord");
  for (const char* other : {"all", "", " api", "api ", "apis", "chrome", "android", "ios"})
    EXPECT_EQ(get_class_by_type(Value(other)).name, "KeyWord") << other;
  for (const Value& bad : {Value(), Value(1), Value(List{})}) {
    try {
      get_class_by_type(bad);
      FAIL();
    } catch (const TypeError& e) {
      EXPECT_NE(std::string(e.what()).find("kw_type"), std::string::npos);
    }
  }
}

TEST(ClassByType, ObjectsOfTheChosenClassDispatchItsKeywords) {
  auto ex = std::make_shared<Exchange>("/nonexistent-dir/v.yaml");
  auto kw = get_class_by_type(Value("all")).create(ex, Value(Dict{}));
  EXPECT_NE(dynamic_cast<KeyWord*>(kw.get()), nullptr);
  EXPECT_NE(dynamic_cast<ApiKeyWord*>(kw.get()), nullptr);
  EXPECT_EQ(&kw->klass(), &KeyWord::keyword_class());
  kw->member("_key_assert")({Value(1), Value("equal"), Value(1)});
  // one BaseKeyWord under all three libraries: state set through one view is seen through all
  dynamic_cast<WebKeyWord&>(*kw).set_vars("x", Value(1));
  EXPECT_EQ(*dynamic_cast<ApiKeyWord&>(*kw).exchanger->file.find("x"), Value(1));
  auto app = get_class_by_type(Value("app")).create(ex, Value(Dict{}));
  EXPECT_EQ(dynamic_cast<WebKeyWord*>(app.get()), nullptr);
}

}  // namespace tovik
