#include "keywords/app_keyword_docs.hpp"

namespace tovik::keyword_docs {

const char* const kActivityDoc = R"(
        关键字：activity
        启动新会话

        :param activity_name: Activity名
        :param package_name: 包名，默认为当前包
        )";

const char* const kContextDoc = R"(
        关键字：context
        切换上下文（适用于Appium）

        :param context_name: 上下文的名字，默认值：NATIVE_APP
        )";

const char* const kPressDoc = R"(
        关键字：press
        长按指定的元素（适用于Appium）

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param times: 长按的秒数，默认为：1.0
        )";

const char* const kSwipeDoc = R"(
        关键字：swipe
        在屏幕上滑动（适用于Appium）

        :param start_x: 起始位置的x坐标
        :param start_y: 起始位置的y坐标
        :param end_x: 终点位置的x坐标值
        :param end_y: 终点位置的y坐标值
        :param times: 滑动持续的秒数，默认为：0.1
        )";

const char* const kAcNewDoc = R"(
        关键字：ac_new

        创建新的ActionChains （适用于Appium）
        )";

const char* const kAcPerformDoc = R"(
        关键字：ac_perform

        执行，并移除此前创建的ActionChains（适用于Appium）
        )";

const char* const kAcNewClickDoc = R"(
        关键字：ac_new_click
        使用新指针点击元素（多点触控） （适用于Appium）

        :param locator: 定位器字符串，具体格式请参考关键字：show
        :param times: 持续的秒数，默认为：0.1
        )";

const char* const kAcNewSwipeDoc = R"(
        关键字：ac_new_swipe
        使用新指针进行滑动（多点触控），也用于坐标值点击（适用于Appium）

        start_x: int,
        start_y: int,
        end_x: int,
        end_y: int,
        times: float = 0.1,
        )";

const char* const kAcTouchDownDoc = R"(
        关键字：ac_touch_down
        使指针在指定坐标按下 （适用于Appium）

        :param x: 坐标的x值
        :param y: 坐标的y值
        )";

const char* const kAcEleDownDoc = R"(
        关键字：ac_ele_down
        使指针在指定元素上按下 （适用于Appium）

        :param locator: 定位器字符串，具体格式请参考关键字：show
        )";

const char* const kAcTouchMoveDoc = R"(
        关键字：ac_touch_move
        使指针移动到指定坐标 （适用于Appium）

        :param x: 坐标的x值
        :param y: 坐标的y值
        )";

const char* const kAcEleMoveDoc = R"(
        关键字：ac_ele_move
        使指针移动到指定元素 （适用于Appium）

        :param locator: 定位器字符串，具体格式请参考关键字：show
        )";

const char* const kAcTouchUpDoc = R"(
        关键字：ac_touch_up
        释放按下的指针 （适用于Appium）
        )";

const char* const kAcEleUpDoc = R"(
        关键字：ac_ele_up
        释放按下的指针 （适用于Appium）
        )";

const char* const kShakeDoc = R"(
        关键字：shake
        模拟摇晃手机 （适用于Appium +  Android 模拟器）
        )";

}  // namespace tovik::keyword_docs
