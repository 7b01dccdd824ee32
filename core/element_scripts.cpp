#include "core/element_scripts.hpp"

namespace tovik {

namespace {

// The readiness test both scripts share. Read-only as the drivers' attribute atom has it: the
// readOnly property where the element has one, else the attribute's presence.
constexpr const char* kReadyFunction = R"JS(
function tovikReady(e) {
  function sized(n) {
    var r = n.getBoundingClientRect();
    if (r.width > 0 && r.height > 0) return true;
    for (var c = n.firstElementChild; c; c = c.nextElementSibling)
      if (getComputedStyle(c).display !== 'none' && sized(c)) return true;
    return false;
  }
  function shown(e) {
    if (!e.isConnected) return false;
    var t = e.localName;
    if (t === 'option' || t === 'optgroup') {
      var s = e.closest('select');
      return !!s && shown(s);
    }
    if (t === 'input' && String(e.type).toLowerCase() === 'hidden') return false;
    if (['noscript', 'script', 'style', 'template', 'head', 'title'].indexOf(t) >= 0) return false;
    for (var n = e; n; n = n.parentElement) {
      var cs = getComputedStyle(n);
      if (cs.display === 'none' || Number(cs.opacity) === 0) return false;
    }
    return getComputedStyle(e).visibility === 'visible' && sized(e);
  }
  var readonly = 'readOnly' in e ? e.readOnly : e.hasAttribute('readonly');
  return shown(e) && !e.matches(':disabled') && !readonly;
}
)JS";

}  // namespace

const std::string& element_lookup_script() {
  static const std::string script = std::string(kReadyFunction) + R"JS(
try {
  var e = arguments[0], r = e.getBoundingClientRect();
  // the size as the drivers' atom measures it: whole offset pixels, the box for elements without
  // offsets, and a display:none element shown for a moment to be measured
  function measure() {
    var w = e.offsetWidth, h = e.offsetHeight;
    if (w === undefined || (!w && !h)) {
      var b = e.getBoundingClientRect();
      return [b.width, b.height];
    }
    return [w, h];
  }
  var size;
  if (getComputedStyle(e).display !== 'none') {
    size = measure();
  } else {
    var st = e.style, display = st.display, visibility = st.visibility, position = st.position;
    st.visibility = 'hidden';
    st.position = 'absolute';
    st.display = 'inline';
    size = measure();
    st.display = display;
    st.position = position;
    st.visibility = visibility;
  }
  var answer = {tag: e.namespaceURI === 'http://www.w3.org/1999/xhtml' ? e.localName : e.tagName,
                x: r.left + window.pageXOffset, y: r.top + window.pageYOffset, width: size[0], height: size[1]};
  e.setAttribute('style', arguments[1]);
  answer.ready = tovikReady(e);
  return answer;
} catch (err) {
  return null;
}
)JS";
  return script;
}

const std::string& element_ready_script() {
  static const std::string script = std::string(kReadyFunction) + R"JS(
try { return tovikReady(arguments[0]); } catch (err) { return null; }
)JS";
  return script;
}

}  // namespace tovik
