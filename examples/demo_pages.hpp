// The web pages of the demo target that the browser cases drive, all below /web/: plain HTML with
// inline scripts, nothing loaded from elsewhere, so a browser without network can show them.
//   /web/            links to every page (save_url, save_title)
//   /web/form        text inputs (one readonly, one disabled), a submit button, a covered button
//   /web/list        cards with the same inner structure, a list (relative search, index)
//   /web/chosen      jquery-chosen-like drop-downs, one with options loaded late
//   /web/frames      iframes nested two deep
//   /web/dialogs     alert, confirm and prompt buttons that write down what happened
//   /web/delayed     elements that appear, fill or become usable about a second after loading
//   /web/hover       a menu whose submenu shows while the pointer is over it
//   /web/long        a long page whose bottom is far below the fold (show)
#pragma once

namespace httplib {
class Server;
}

namespace tovik::examples {

void add_demo_pages(httplib::Server& server);

}  // namespace tovik::examples
