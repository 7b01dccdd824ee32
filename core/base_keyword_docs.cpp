#include "core/base_keyword_docs.hpp"

namespace tovik::keyword_docs {

const char* const kSetDriverDoc = R"(
        关键字：set_driver
        从fixtures请求浏览器
        )";

const char* const kAssertDoc = R"(
        关键字 assert
        进行断言

        :param value: 预期结果
        :param assert_name: 断言表达式
        :param actual_value: 实际结果
        )";

}  // namespace tovik::keyword_docs
