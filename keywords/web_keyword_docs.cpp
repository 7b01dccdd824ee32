#include "keywords/web_keyword_docs.hpp"

namespace tovik::keyword_docs {

const char* const kDebuggerDoc = R"(
        关键字：debugger
        进入调试模式
        )";

const char* const kShellDoc = R"(
        关键字：shell
        执行脚本命令

        :param scrip: 脚本命令
        :param scrip_args:  参数，支持json字符串
        )";

const char* const kNewDriverDoc = R"(
        关键字：new_driver
        启动新driver，注意：用例执行时，请确保已经启动了driver

        :param browser: 设备类型，如： chrome、firefox、android、ios
        :param hub: hub地址，如果使用grid或appiu可以输入hub地址
        :param capabilities:  如果使用grid可以传递参数，默认为空
        )";

const char* const kGotoDoc = R"(
        关键字：goto
        跳转到指定页面
        :param url: 指定页面的url

        )";

const char* const kTouchDoc = R"(
        关键字：touch
        聚焦指定元素

        :param locator: 定位器字符串，具体格式请参考关键字：show
        )";

const char* const kClickDoc = R"(
        关键字：click
        点击指定的元素，自动等待元素可交互， 也可以选择强制点击

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param force: 是否强制点击，默认为False
        )";

const char* const kInputDoc = R"(
        关键字：input
        在指定元素内容输入内容，自动等待元素可交互，

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param content: 要输入的内容，支持变量引用
        :param clear: 清除原有内容，默认为True
        )";

const char* const kChosenDoc = R"(
        关键字: chosen
        适用于jquery-chosen的下拉选择

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param value: 要输入的值，支持变量引用
        )";

const char* const kSleepDoc = R"(
        关键字：sleep
        用例强制等待x 秒

        :param times: 等待的秒数，可以有小数点
        )";

const char* const kShowDoc = R"(
        关键字：show
        滚动画面使指定元素可见

        :param locator: 定位器字符串，格式:"value, by, index"
           其中：
           value: 定位表达式, 必填项，没有默认值
           by: 定位策略，默认是用xpath
           index: 元素位置，默认是0 （第一个）
           默认值可以省略
           如果字符串中需要包含逗号 需使用转义符对逗号进行转移 "\,"

           例子：
           "KW, ID, 0"  可以简写为:   "KW, ID"
           "//input, XPATH, 0"  可以简写为:  "//input"
           "//p[text() =='x,y,x']"， 需要为逗号进行转义 : //p[text() =='x\,y\,x']
        )";

const char* const kMoveDoc = R"(
        关键字：move
        鼠标移动指定元素的相对位置

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param x: 相对元素中心的水平位置，偏移x像素
        :param y: 相对元素中心的垂直位置，偏移y像素
        )";

const char* const kFrameEnterDoc = R"(
        关键字：frame_enter
        进入指定的iframe

        :param locator: iframe元素的定位器字符串，具体格式请参考关键字：show
        )";

const char* const kFrameExitDoc = R"(
        关键字：frame_exit
        退出iframe

        )";

const char* const kFrameTopDoc = R"(
        关键字：frame_top
        返回到顶层frame
        )";

const char* const kAlertOkDoc = R"(
        关键字：alert_ok
        为alert点击确定

        :param text: 如果输入的内容（可选）
        )";

const char* const kAlertCancelDoc = R"(
        关键字：alert_cancel
        为alert点击取消
        )";

const char* const kSaveDoc = R"(
        关键字：save
        保存变量

        变量应该是一个字符串，在字符串中使用`{}`标签将自动引用已有变量
        例如：
        `save_value("a", "123")`   =>  `a = "123"`
        `save_value("b", "hi:{a})`   =>  `b = "hi:123"`

        :param var_name: 变量名
        :param value: 变量值（字符串）
        )";

const char* const kSaveTextDoc = R"(
        关键字：save_text
        保存页面上text内容
        :param var_name: 要保存的变量名
        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param allow_empty: 是否允许为空，默认为Ture
        )";

const char* const kSaveAttrDoc = R"(
        关键字：save_attr
        保存元素属性

        :param var_name: 要保存的变量名
        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param attr_name: 属性名
        )";

const char* const kSaveTitleDoc = R"(
        关键字：save_title
        保存网页标题

        :param var_name: 要保存的变量名
        )";

const char* const kSaveUrlDoc = R"(
        关键字：save_url
        保存当前网址

        :param var_name: 要保存的变量名
        )";

}  // namespace tovik::keyword_docs
