#include "examples/demo_pages.hpp"

#include <string>

#include <httplib.h>

namespace tovik::examples {

namespace {

// Every page: the same head and style, its own title and body.
std::string page(const std::string& title, const std::string& body) {
  return R"html(<!doctype html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>)html" + title + R"html(</title>
<style>
  body { font-family: sans-serif; margin: 20px; }
  .out { min-height: 1.2em; padding: 4px; border: 1px dashed #999; margin: 6px 0; }
  label { display: block; margin: 4px 0; }
  .card { border: 1px solid #ccc; padding: 6px; margin: 6px 0; width: 300px; }
  .chosen-container { display: inline-block; position: relative; width: 260px; border: 1px solid #aaa;
                      margin: 6px 0; cursor: pointer; }
  .chosen-single { display: block; padding: 4px; }
  .chosen-drop { display: none; border-top: 1px solid #aaa; }
  .chosen-with-drop .chosen-drop { display: block; }
  .chosen-results { list-style: none; margin: 0; padding: 0; }
  .chosen-results li { padding: 3px 6px; }
  .chosen-results li:hover { background: #36c; color: #fff; }
  iframe { display: block; border: 1px solid #888; margin: 6px 0; }
</style>
</head>
<body>
)html" + body + R"html(
</body>
</html>
)html";
}

const std::string kIndex = page("tovik 演示页面", R"html(
<h1 id="title">tovik 演示页面</h1>
<ul id="pages">
  <li><a id="to-form" href="/web/form">表单</a></li>
  <li><a id="to-list" href="/web/list">列表</a></li>
  <li><a id="to-chosen" href="/web/chosen">下拉选择</a></li>
  <li><a id="to-frames" href="/web/frames">框架</a></li>
  <li><a id="to-dialogs" href="/web/dialogs">对话框</a></li>
  <li><a id="to-delayed" href="/web/delayed">延迟元素</a></li>
  <li><a id="to-hover" href="/web/hover">悬停菜单</a></li>
  <li><a id="to-long" href="/web/long">长页面</a></li>
</ul>
)html");

// The covered button takes no real click: a transparent layer lies over it, so only a click
// done by script (click with force) reaches it.
const std::string kForm = page("表单 - tovik 演示", R"html(
<h1 id="title">表单</h1>
<form id="form" onsubmit="return false">
  <label>姓名 <input id="name" name="name"></label>
  <label>邮箱 <input id="email" name="email"></label>
  <label>备注 <input id="note" name="note" value="已有内容"></label>
  <label>编号 <input id="code" name="code" value="TV-001" readonly></label>
  <label>停用 <input id="off" name="off" value="停用的输入框" disabled></label>
  <button id="submit" type="button" onclick="submitForm()">提交</button>
</form>
<div id="result" class="out"></div>
<div style="position: relative; display: inline-block; margin-top: 10px">
  <button id="covered" type="button" onclick="covered()">被遮住的按钮</button>
  <div id="cover" style="position: absolute; left: 0; top: 0; right: 0; bottom: 0; z-index: 10;
                         background: rgba(255, 255, 255, 0.01)"></div>
</div>
<div id="covered-result" class="out"></div>
<script>
  var submits = 0;
  function submitForm() {
    submits += 1;
    var v = function (id) { return document.getElementById(id).value; };
    document.getElementById('result').textContent = '提交' + submits + '：' + v('name') + ' <' + v('email') + '> ' + v('note');
  }
  var coveredClicks = 0;
  function covered() {
    coveredClicks += 1;
    document.getElementById('covered-result').textContent = '被遮住的按钮已点击 ' + coveredClicks + ' 次';
  }
</script>
)html");

const std::string kList = page("列表 - tovik 演示", R"html(
<h1 id="title">列表</h1>
<div class="card" id="card-1"><p class="name">甲</p><p class="role">组长</p><a class="more" href="#card-1">详情</a></div>
<div class="card" id="card-2"><p class="name">乙</p><p class="role">组员</p><a class="more" href="#card-2">详情</a></div>
<div class="card" id="card-3"><p class="name">丙</p><p class="role">访客</p><a class="more" href="#card-3">详情</a></div>
<ul id="items">
  <li class="item" data-no="1">第一项</li>
  <li class="item" data-no="2">第二项</li>
  <li class="item" data-no="3">第三项</li>
</ul>
)html");

// Like jquery-chosen: a container with a clickable head; the options sit in ./div/ul/li below
// it and show while the drop is open. The team options are loaded a while after the first
// opening, as a drop-down filled by a request would be.
const std::string kChosen = page("下拉选择 - tovik 演示", R"html(
<h1 id="title">下拉选择</h1>
<select id="city" name="city" style="display: none">
  <option value=""></option><option>北京</option><option>上海</option><option>O'Hare</option>
  <option>Say "hi", it's me</option>
</select>
<div id="city_chosen" class="chosen-container chosen-container-single" data-for="city">
  <a class="chosen-single"><span class="shown">请选择城市</span></a>
  <div class="chosen-drop">
    <ul class="chosen-results">
      <li class="active-result">北京</li>
      <li class="active-result">上海</li>
      <li class="active-result">O'Hare</li>
      <li class="active-result">Say "hi", it's me</li>
    </ul>
  </div>
</div>
<div id="city-result" class="out"></div>
<select id="team" name="team" style="display: none"></select>
<div id="team_chosen" class="chosen-container chosen-container-single" data-for="team">
  <a class="chosen-single"><span class="shown">请选择小组</span></a>
  <div class="chosen-drop"><ul class="chosen-results"></ul></div>
</div>
<div id="team-result" class="out"></div>
<script>
  function chosen(container, onFirstOpen) {
    var opened = false;
    var select = document.getElementById(container.getAttribute('data-for'));
    container.addEventListener('click', function (ev) {
      var li = ev.target.closest('li.active-result');
      if (li && container.contains(li)) {
        var text = li.textContent;
        container.querySelector('.shown').textContent = text;
        for (var i = 0; i < select.options.length; i++) if (select.options[i].text === text) select.selectedIndex = i;
        container.classList.remove('chosen-with-drop');
        document.getElementById(select.id + '-result').textContent = '已选择：' + text;
        return;
      }
      container.classList.toggle('chosen-with-drop');
      if (!opened) { opened = true; if (onFirstOpen) onFirstOpen(container); }
    });
  }
  chosen(document.getElementById('city_chosen'));
  chosen(document.getElementById('team_chosen'), function (container) {
    setTimeout(function () {
      var ul = container.querySelector('ul'), select = document.getElementById('team');
      ['测试组', '开发组', "运维组（it's on call）"].forEach(function (t) {
        var li = document.createElement('li');
        li.className = 'active-result';
        li.textContent = t;
        ul.appendChild(li);
        var o = document.createElement('option');
        o.text = t;
        select.add(o);
      });
    }, 800);
  });
</script>
)html");

// Every level has an element with id "where", so what a lookup finds tells the level it ran in.
const std::string kFrames = page("框架 - tovik 演示", R"html(
<h1 id="title">框架</h1>
<p id="where">顶层</p>
<iframe id="outer" name="outer" src="/web/frames/outer" width="600" height="320"></iframe>
)html");

const std::string kFrameOuter = page("第一层", R"html(
<p id="where">第一层</p>
<iframe id="inner" name="inner" src="/web/frames/inner" width="500" height="200"></iframe>
)html");

const std::string kFrameInner = page("第二层", R"html(
<p id="where">第二层</p>
<input id="deep-input">
<button id="deep-ok" type="button"
        onclick="document.getElementById('deep-result').textContent = '第二层收到：' + document.getElementById('deep-input').value">确定</button>
<div id="deep-result" class="out"></div>
)html");

const std::string kDialogs = page("对话框 - tovik 演示", R"html(
<h1 id="title">对话框</h1>
<button id="alert" type="button" onclick="alert('这是一个提示'); note('提示已关闭')">提示</button>
<button id="confirm" type="button" onclick="note('确认结果：' + confirm('确定要删除吗？'))">确认</button>
<button id="prompt" type="button"
        onclick="var v = prompt('请输入名字', '默认名'); note('输入结果：' + (v === null ? '已取消' : v))">输入</button>
<button id="late-alert" type="button"
        onclick="setTimeout(function () { alert('迟到的提示'); note('迟到的提示已关闭'); }, 800)">稍后提示</button>
<div id="dialog-result" class="out"></div>
<script>
  function note(text) { document.getElementById('dialog-result').textContent = text; }
</script>
)html");

// Timers start when the page has loaded.
const std::string kDelayed = page("延迟元素 - tovik 演示", R"html(
<h1 id="title">延迟元素</h1>
<div id="slot"></div>
<p id="slow-text"></p>
<button id="wait-enable" type="button" disabled
        onclick="document.getElementById('delayed-result').textContent = '稍后可用的按钮已点击'">稍后可用</button>
<input id="wait-edit" readonly value="">
<div id="delayed-result" class="out"></div>
<script>
  window.addEventListener('load', function () {
    setTimeout(function () {
      var b = document.createElement('button');
      b.id = 'late-button';
      b.type = 'button';
      b.textContent = '迟到的按钮';
      b.onclick = function () { document.getElementById('delayed-result').textContent = '迟到的按钮已点击'; };
      document.getElementById('slot').appendChild(b);
    }, 1000);
    setTimeout(function () { document.getElementById('slow-text').textContent = '数据已加载'; }, 1200);
    setTimeout(function () {
      document.getElementById('wait-enable').disabled = false;
      document.getElementById('wait-edit').readOnly = false;
    }, 1000);
  });
</script>
)html");

const std::string kHover = page("悬停菜单 - tovik 演示", R"html(
<h1 id="title">悬停菜单</h1>
<div id="menu" style="display: inline-block; padding: 6px; border: 1px solid #aaa">
  <span id="menu-head">产品 ▾</span>
  <ul id="submenu" style="display: none; margin: 0; padding: 4px 16px">
    <li><a id="menu-docs" href="#docs" onclick="pick('文档')">文档</a></li>
    <li><a id="menu-download" href="#download" onclick="pick('下载')">下载</a></li>
  </ul>
</div>
<div id="hover-state" class="out">菜单已收起</div>
<div id="hover-result" class="out"></div>
<script>
  var menu = document.getElementById('menu'), sub = document.getElementById('submenu');
  menu.addEventListener('mouseenter', function () { sub.style.display = 'block'; state('菜单已展开'); });
  menu.addEventListener('mouseleave', function () { sub.style.display = 'none'; state('菜单已收起'); });
  function state(t) { document.getElementById('hover-state').textContent = t; }
  function pick(t) { document.getElementById('hover-result').textContent = '已选择：' + t; }
</script>
)html");

// #position stays on screen and is filled once the page has been scrolled far down.
const std::string kLong = page("长页面 - tovik 演示", R"html(
<h1 id="title">长页面</h1>
<div id="position" style="position: fixed; top: 0; right: 0; background: #ffe; min-width: 8em"></div>
<div style="height: 5000px; background: linear-gradient(#fff, #ddd)">占位</div>
<p id="bottom">页面底部</p>
<script>
  window.addEventListener('scroll', function () {
    if (window.scrollY > 3000) document.getElementById('position').textContent = '已滚动到底部';
  });
</script>
)html");

void html(httplib::Server& s, const std::string& path, const std::string& body) {
  s.Get(path, [&body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "text/html; charset=utf-8"); });
}

}  // namespace

void add_demo_pages(httplib::Server& s) {
  html(s, "/web/", kIndex);
  html(s, "/web/form", kForm);
  html(s, "/web/list", kList);
  html(s, "/web/chosen", kChosen);
  html(s, "/web/frames", kFrames);
  html(s, "/web/frames/outer", kFrameOuter);
  html(s, "/web/frames/inner", kFrameInner);
  html(s, "/web/dialogs", kDialogs);
  html(s, "/web/delayed", kDelayed);
  html(s, "/web/hover", kHover);
  html(s, "/web/long", kLong);
  s.Get("/web", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/web/"); });
}

}  // namespace tovik::examples
