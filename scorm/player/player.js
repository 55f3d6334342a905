// The player page: the package's table of contents, Continue and Previous, the current item in
// the frame below, the learner's record as a printable page, and starting over. It is the top
// window of the course; the content finds the runtime (runtime.js) as its parent's API.
"use strict";

(function () {
  var base = new URL(".", location.href).href;          // .../.orvane/
  var root = new URL("..", base).href;                  // the course's root
  var $ = function (id) { return document.getElementById(id); };
  var frame = $("content");
  var state = { course: null, manifest: null, runtime: null, current: null, statuses: {},
                validity: null, ended: false };

  function show(panel) {
    ["message", "content", "record"].forEach(function (id) { $(id).hidden = id !== panel; });
  }
  function problem(title, lines) {
    var box = $("message");
    box.textContent = "";
    var h = document.createElement("h2");
    h.textContent = title;
    box.appendChild(h);
    (lines || []).forEach(function (line) {
      var p = document.createElement("p");
      p.textContent = line;
      box.appendChild(p);
    });
    box.className = "problem";
    if (!state.manifest) $("course-title").textContent = title;
    show("message");
  }
  function notice(lines) {
    if (!lines || !lines.length) return;
    var bar = document.createElement("div");
    bar.id = "notices";
    bar.setAttribute("role", "status");
    bar.textContent = lines.join(" ");
    $("player").appendChild(bar);
  }

  // ---- table of contents ----

  function statusText(item) {
    var s = state.statuses[item.id];
    if (!s) return "not attempted";
    if (s.success === "passed" || s.success === "failed") return s.success;
    return s.completion || "not attempted";
  }
  function drawToc() {
    var list = $("toc");
    list.textContent = "";
    function add(node, into) {
      if (!node.visible) return;
      var li = document.createElement("li");
      if (node.children.length) {
        li.className = "cluster";
        var title = document.createElement("span");
        title.className = "title";
        title.textContent = node.title;
        li.appendChild(title);
        var ul = document.createElement("ul");
        node.children.forEach(function (c) { add(c, ul); });
        li.appendChild(ul);
      } else {
        li.className = "leaf";
        li.dataset.item = node.id;
        var link = document.createElement("a");
        link.className = "title";
        link.href = "#" + encodeURIComponent(node.id);
        link.textContent = node.title;
        link.addEventListener("click", function (e) { e.preventDefault(); choose(node); });
        var status = document.createElement("span");
        status.className = "status";
        status.textContent = statusText(node);
        li.appendChild(link);
        li.appendChild(document.createTextNode(" "));
        li.appendChild(status);
        if (state.current === node) li.classList.add("current");
        if (state.validity && state.validity.choice[node.id] === "false") li.classList.add("unavailable");
      }
      into.appendChild(li);
    }
    state.manifest.organization.children.forEach(function (c) { add(c, list); });
    var flowAllowed = state.validity;
    $("continue").disabled = state.ended || (flowAllowed ? !flowAllowed.continue : !neighbour(1));
    $("previous").disabled = state.ended || (flowAllowed ? !flowAllowed.previous : !neighbour(-1));
  }
  function neighbour(step) {
    var leaves = state.manifest.leaves.filter(function (l) { return l.visible; });
    var at = leaves.indexOf(state.current);
    return at < 0 ? null : leaves[at + step] || null;
  }

  // Statuses as the record has them (the launcher's evaluation), kept current after commits.
  function statusOf(cmi) {
    if (state.course.scorm === "2004") {
      return { completion: cmi["cmi.completion_status"] || "not attempted",
               success: cmi["cmi.success_status"] || "unknown" };
    }
    var s = cmi["cmi.core.lesson_status"] || "not attempted";
    if (s === "passed" || s === "failed") return { completion: "completed", success: s };
    return { completion: s === "browsed" ? "incomplete" : s, success: "unknown" };
  }
  function committed(item, cmi) {
    var known = state.statuses[item.id] || {};
    var merged = Object.assign({}, known.cmi || {}, cmi);
    state.statuses[item.id] = Object.assign(statusOf(merged), { cmi: merged });
    drawToc();
  }

  // ---- delivering an item ----

  function entryExists(url) {
    var plain = url.split("#")[0].split("?")[0];
    return fetch(plain, { method: "HEAD", cache: "no-store" }).then(function (r) {
      return r.status !== 404 && r.status !== 410;
    }, function () { return true; });
  }

  // Shows `item` in the frame: a session from the launcher, the API loaded, then the frame.
  function deliver(item) {
    if (!item.url) {
      problem("This part of the course cannot be shown", state.manifest.problems.length
        ? state.manifest.problems : ["The item \"" + item.title + "\" has no page to show."]);
      return Promise.resolve();
    }
    state.current = item;
    drawToc();
    return entryExists(item.url).then(function (exists) {
      if (!exists) {
        var path = decodeURIComponent(item.url.split("#")[0].split("?")[0].slice(root.length));
        problem("This part of the course is missing from its archive",
                ["The item \"" + item.title + "\" starts at " + path + ", which the course's archive does not contain."]);
        return;
      }
      return state.runtime.launch(item).then(function () {
        if ($("record").hidden) show("content");  // the record page stays until left
        frame.src = item.url;
        frame.onload = function () { shown(item); };
      });
    }).catch(function (e) {
      problem("The course could not be started", [String(e.message || e)]);
    });
  }

  // An asset (not a SCO) counts as completed once shown: the player reports it as its SCO would.
  function shown(item) {
    if (item.scormType !== "asset" || state.runtime.finished) return;
    var rt = state.runtime;
    rt.call("LMSInitialize", "Initialize")("");
    rt.call("LMSSetValue", "SetValue")(state.course.scorm === "2004" ? "cmi.completion_status" : "cmi.core.lesson_status", "completed");
    rt.call("LMSFinish", "Terminate")("");
  }

  // Ends the content in the frame (its own unload handlers run), then acts.
  function leaveCurrent() {
    return new Promise(function (resolve) {
      if (!state.current || !frame.src || frame.src === "about:blank") return resolve();
      state.runtime.flush();
      frame.onload = function () {
        frame.onload = null;
        resolve();
      };
      frame.src = "about:blank";
    }).then(function () {
      state.runtime.endSession();
    });
  }

  // The learner's choice of an item (its title in the contents).
  function choose(item) {
    if (state.course.scorm === "2004") return navigate("choice", item.id);
    return leaveCurrent().then(function () { return deliver(item); });
  }
  function flow(step) {
    if (state.course.scorm === "2004") return navigate(step > 0 ? "continue" : "previous");
    var next = neighbour(step);
    if (next) choose(next);
  }

  // SCORM 2004: a navigation request of the learner's, through the sequencing engine.
  function navigate(request, target) {
    var api = state.runtime.api;
    var running = state.current && !state.runtime.finished && api.isInitialized();
    if (running) {
      // The SCO is still running: the request is made for it, and acted on as it terminates.
      var value = target ? "{target=" + target + "}" + request : request;
      if (api.GetValue("adl.nav.request_valid." + request + (target ? ".{target=" + target + "}" : "")) === "false") {
        refused(request);
        return Promise.resolve();
      }
      return leaveCurrent().then(function () {
        if (!state.runtime.finished) {
          api.SetValue("adl.nav.request", value);
          state.runtime.endSession();
        } else if (!state.ended) {
          api.processNavigationRequest(request, target);
        }
      });
    }
    return leaveCurrent().then(function () {
      if (!api.processNavigationRequest(request, target)) refused(request);
    });
  }
  function refused(request) {
    var box = $("refusal");
    box.textContent = request === "choice" ? "That part of the course is not available yet."
      : request === "continue" ? "There is nothing to continue to from here."
      : "This step is not available here.";
    box.hidden = false;
    setTimeout(function () { box.hidden = true; }, 4000);
  }

  function sequencingSettings(manifest) {
    return {
      activityTree: OrvaneManifest.activityTree(manifest.organization),
      collections: manifest.collections,
      eventListeners: {
        onActivityDelivery: function (activity) {
          var item = manifest.leaves.filter(function (l) { return l.id === activity.id; })[0];
          if (item) setTimeout(function () { deliver(item); }, 0);
        },
        onNavigationValidityUpdate: function (v) { state.validity = v; if (state.manifest) drawToc(); },
        onRollupComplete: function () { if (state.manifest) refreshSequencingStatuses(); },
        onSequencingSessionEnd: function () { setTimeout(ended, 0); },
      },
    };
  }
  function refreshSequencingStatuses() {
    var api = state.runtime && state.runtime.api;
    if (!api || !api.getActivityTrackingData) return;
    state.manifest.leaves.forEach(function (leaf) {
      var t = null;
      try { t = api.getActivityTrackingData(leaf.id); } catch (e) { t = null; }
      if (!t || !state.statuses[leaf.id]) return;
      if (t.successStatus && t.successStatus !== "unknown") state.statuses[leaf.id].success = t.successStatus;
    });
    drawToc();
  }
  function ended() {
    state.ended = true;
    state.current = null;
    frame.src = "about:blank";
    problem("You have left the course", ["Your place and results are kept. Close this window, or choose a part of the course to go on."]);
    $("message").className = "done";
    state.ended = false;
    drawToc();
  }

  // ---- the record, as a printable page ----

  function seconds(n) {
    n = Math.round(n || 0);
    var h = Math.floor(n / 3600), m = Math.floor(n / 60) % 60, s = n % 60;
    return (h ? h + " h " : "") + (h || m ? m + " min " : "") + s + " s";
  }
  function date(iso) {
    if (!iso) return "";
    var d = new Date(iso);
    return isNaN(d) ? iso : d.toLocaleString();
  }
  function showRecord() {
    return fetch(base + "record", { cache: "no-store" }).then(function (r) {
      if (!r.ok) throw new Error("the launcher answered " + r.status);
      return r.json();
    }).then(function (record) {
      var page = $("record");
      page.textContent = "";
      var h = document.createElement("h2");
      h.textContent = state.manifest.organization.title;
      page.appendChild(h);
      var who = document.createElement("p");
      who.className = "learner";
      who.textContent = "Learner: " + ((record.learner && record.learner.name) || state.course.learner.name || "");
      page.appendChild(who);
      var table = document.createElement("table");
      var head = table.createTHead().insertRow();
      ["Part", "Status", "Score", "Time", "First opened", "Last opened"].forEach(function (t) {
        var th = document.createElement("th"); th.textContent = t; head.appendChild(th);
      });
      var body = table.createTBody();
      state.manifest.leaves.forEach(function (leaf) {
        var item = (record.items || {})[leaf.id] || {};
        var cmi = item.cmi || {};
        var s = statusOf(cmi);
        var raw = cmi["cmi.score.raw"] || cmi["cmi.core.score.raw"] || "";
        var scaled = cmi["cmi.score.scaled"];
        var row = body.insertRow();
        row.dataset.item = leaf.id;
        [leaf.title,
         item.cmi ? s.completion + (s.success !== "unknown" ? ", " + s.success : "") : "not attempted",
         raw !== "" ? raw : scaled ? Math.round(scaled * 100) + " %" : "",
         seconds(item.totalSeconds), date(item.first), date(item.last)].forEach(function (t) {
          row.insertCell().textContent = t;
        });
      });
      page.appendChild(table);
      var printed = document.createElement("p");
      printed.className = "printed";
      printed.textContent = "Printed " + new Date().toLocaleString();
      page.appendChild(printed);
      var actions = document.createElement("p");
      actions.className = "actions";
      [["Print", function () { window.print(); }],
       ["Back to the course", function () { show(state.current ? "content" : "message"); }]].forEach(function (b) {
        var button = document.createElement("button");
        button.type = "button"; button.textContent = b[0]; button.onclick = b[1];
        actions.appendChild(button);
      });
      page.appendChild(actions);
      show("record");
    }).catch(function (e) {
      problem("The record could not be read", [String(e.message || e)]);
    });
  }

  function startOver() {
    if (!confirm("Start the course over? Your results so far are kept in your record's history, and the course begins again.")) return;
    leaveCurrent().then(function () {
      return OrvaneRuntime.post(base + "restart", {});
    }).then(function () {
      location.reload();
    }, function (e) {
      problem("The course could not be started over", [String(e.message || e)]);
    });
  }

  // ---- start ----

  function start() {
    $("continue").onclick = function () { flow(1); };
    $("previous").onclick = function () { flow(-1); };
    $("show-record").onclick = showRecord;
    $("start-over").onclick = startOver;
    var refusal = document.createElement("div");
    refusal.id = "refusal"; refusal.hidden = true; refusal.setAttribute("role", "alert");
    $("player").appendChild(refusal);

    fetch(base + "course.json", { cache: "no-store" }).then(function (r) {
      if (!r.ok) throw new Error("the launcher answered " + r.status + " for the course's facts");
      return r.json();
    }).then(function (course) {
      // A version the launcher could not tell is played as 1.2, the older and simpler one.
      if (course.scorm !== "2004") course.scorm = "1.2";
      state.course = course;
      notice(course.notices);
      var manifestUrl = new URL(course.manifest || "imsmanifest.xml", root).href;
      return Promise.all([
        fetch(manifestUrl, { cache: "no-store" }).then(function (r) {
          if (!r.ok) throw new Error("The course's imsmanifest.xml could not be read (" + r.status + ").");
          return r.text();
        }),
        fetch(base + "record", { cache: "no-store" }).then(function (r) { return r.ok ? r.json() : {}; },
                                                          function () { return {}; }),
      ]).then(function (got) {
        var manifest;
        try {
          manifest = OrvaneManifest.read(got[0], manifestUrl);
        } catch (e) {
          problem("This course cannot be played", [e.message].concat(course.problems || []));
          return;
        }
        state.manifest = manifest;
        document.title = manifest.organization.title;
        $("course-title").textContent = manifest.organization.title;
        var items = (got[1] && got[1].items) || {};
        Object.keys(items).forEach(function (id) {
          if (items[id].cmi) state.statuses[id] = Object.assign(statusOf(items[id].cmi), { cmi: items[id].cmi });
        });
        var globals = (got[1] && got[1].globals) || {};
        state.runtime = new OrvaneRuntime(course.scorm, base,
                                          course.scorm === "2004" ? sequencingSettings(manifest) : null,
                                          globals, committed);
        drawToc();
        var first = manifest.leaves.filter(function (l) { return l.visible; })[0] || manifest.leaves[0];
        if (location.hash === "#record") showRecord();  // the record page by its address
        if (!first) {
          problem("This course has nothing to show", ["Its organization has no items."]);
        } else if (course.scorm === "2004") {
          // A suspended course resumes; a fresh one starts; one whose last session ended
          // without an exit (a crash) has a current activity already, which is shown again.
          var api = state.runtime.api;
          var resumed = globals.sequencing && api.processNavigationRequest("resumeAll");
          if (!resumed && !api.processNavigationRequest("start")) {
            var current = api.getSequencingState && (api.getSequencingState() || {}).currentActivity;
            var id = current && (current.id || current);
            deliver(manifest.leaves.filter(function (l) { return l.id === id; })[0] || first);
          }
        } else {
          deliver(first);
        }
      });
    }).catch(function (e) {
      problem("This course cannot be played", [String(e.message || e)]);
    });
  }
  start();
})();
