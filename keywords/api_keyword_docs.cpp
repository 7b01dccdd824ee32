#include "keywords/api_keyword_docs.hpp"

namespace tovik::keyword_docs {

const char* const kNewClientDoc = R"(
        关键字：new_client
        启动接口客户端

        :param timeout: 请求默认超时时间
        )";

const char* const kSetBaseurlDoc = R"(
        关键字：set_baseurl
        设置base url

        :param url: 本次会话base url地址
        )";

const char* const kSetFollowRedirectsDoc = R"(
        关键字：set_follow_redirects
        设置是否允许重定向

        :param follow: 是否允许重定向，默认为False
        )";

const char* const kSetHeadersDoc = R"(
        关键字：set_headers
        设置通用请求头，所有请求共享

        :param headers: json格式的请求头
        )";

const char* const kSetCookiesDoc = R"(
        关键字：set_cookies
        设置通用请求cookies，所有请求共享

        :param cookies: json格式的cookies
        )";

const char* const kSetParamsDoc = R"(
        关键字：set_params
        设置通用查询参数，所有请求共享

        :param params: json格式的查询参数（位于URL中的GET参数）
        )";

const char* const kSetJsonDoc = R"(
        关键字：set_json
        添加一个json参数，只对本次请求有效，不可与add_form同时使用

        :param _json: json字符串
        )";

const char* const kSetFormDoc = R"(
        关键字：set_form
        设置表单参数，只对本次请求有效，不可与set_json同时使用

        :param from_dict: json格式的表单参数
        )";

const char* const kAddHeaderDoc = R"(
        关键字：add_header
        添加一个请求头，只对本次请求有效

        :param key: 请求头key
        :param value: 请求头value
        )";

const char* const kAddCookieDoc = R"(
        关键字：add_cookie
        添加一个cookie，只对本次请求有效

        :param key: cookie key
        :param value: cookie value
        )";

const char* const kAddQueryDoc = R"(
        关键字：add_query
        添加一个查询参数，只对本次请求有效

        :param key: 查询参数key
        :param value: 查询参数value
        )";

const char* const kAddFormDoc = R"(
        关键字：add_form
        添加一个表单参数，只对本次请求有效，不可与set_json同时使用

        :param key: 表单参字段名
        :param value: 表单参数值
        )";

const char* const kAddFileDoc = R"(
        关键字：add_file
        添加一个文件上传参数，只对本次请求有效，不可与set_json同时使用

        :param key: 文件上传字段名
        :param value: 文件的绝对路径
        )";

const char* const kSendHttpDoc = R"(
        关键字：send_http
        发送接口请求，自动使用set_*参数及add_*参数

        :param method: 请求方法
        :param url: 接口地址
        )";

const char* const kSaveCodeDoc = R"(
        关键字：save_code
        保存响应状态码

        :param var_name: 要保存的变量名
        )";

const char* const kSaveHeadersDoc = R"(
        关键字：save_headers
        保存响应头

        :param var_name: 要保存的变量名
        )";

const char* const kSaveBodyDoc = R"(
        关键字：save_body
        保存响应正文

        :param var_name: 要保存的变量名
        )";

const char* const kSaveJsonpathDoc = R"(
        关键字：save_jsonpath
        根据JsonPath，从响应正文中筛选数据进行保存

        :param var_name: 要保存的变量名
        :param value: JsonPath表达式，可在 https://jsonpath.com/ 在线测试
        )";

}  // namespace tovik::keyword_docs
