// The player's first script, written so that old browsers (Internet Explorer) can run it: it
// checks for what the player needs and, when something is missing, says a current browser is
// needed instead of loading the player.
(function () {
  var w = window, d = document;
  var current = typeof w.fetch == "function" && typeof w.Promise == "function" &&
      typeof w.DOMParser == "function" && typeof w.Map == "function" &&
      !!(w.navigator && w.navigator.sendBeacon) && !!d.querySelector && !!w.URL;
  if (!current) {
    var page = d.getElementById("player");
    page.innerHTML = "<h1>A current browser is needed</h1><p>This course plays in a current " +
        "version of Microsoft Edge, Google Chrome, Chromium or Mozilla Firefox. Install one of " +
        "them, then open the course again.</p>";
    d.title = "A current browser is needed";
    return;
  }
  var scripts = ["scorm-again.js", "manifest.js", "runtime.js", "player.js"], i;
  for (i = 0; i < scripts.length; i++) {
    var s = d.createElement("script");
    s.src = scripts[i];
    s.async = false;  // in this order
    d.body.appendChild(s);
  }
})();
