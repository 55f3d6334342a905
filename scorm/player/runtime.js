// The SCORM runtime of the player: scorm-again's API object of the package's version, with the
// launcher as its store.
//
// - Every value the content sets reaches the launcher: changed elements go out shortly after
//   each SetValue (fetch, keepalive), Commit sends them all and answers "true" only once the
//   launcher has answered 200 (so the commit is on disk). Commit has to answer the content at
//   once, so it waits on a synchronous request to the local launcher; a page going away cannot
//   use one, so what is left then goes by sendBeacon.
// - suspend_data and location are kept up to 1,048,576 characters: scorm-again refuses more
//   than the standard's limit, so longer values are held beside it.
"use strict";

var OrvaneRuntime = (function () {
  var LONG_LIMIT = 1048576;
  var LONG_ELEMENTS = { "1.2": ["cmi.suspend_data", "cmi.core.lesson_location"],
                        "2004": ["cmi.suspend_data", "cmi.location"] };
  // Values the launcher supplies on every launch; they are not the content's to store.
  var SUPPLIED = /^cmi\.(core\.)?(learner_id|learner_name|student_id|student_name|entry|credit|mode|lesson_mode|total_time|launch_data|completion_threshold|scaled_passing_score|max_time_allowed|time_limit_action|comments_from_lms|student_data\..*|_version|_children|_count)$/;

  function post(path, body) {
    return fetch(path, { method: "POST", headers: { "Content-Type": "application/json" },
                         body: JSON.stringify(body), cache: "no-store" })
      .then(function (r) {
        return r.json().catch(function () { return {}; }).then(function (j) {
          if (!r.ok) throw new Error(j.error || ("the launcher answered " + r.status));
          return j;
        });
      });
  }

  // One runtime per course. `version` is "1.2" or "2004"; `base` the .orvane/ folder's address;
  // `sequencing` scorm-again's sequencing settings (2004) or null; `globals` what the launcher
  // kept of the course as a whole.
  function Runtime(version, base, sequencing, globals, onChange) {
    var self = this;
    this.version = version;
    this.base = base;
    this.onChange = onChange;
    this.session = null;
    this.long = {};        // element -> value held beside scorm-again
    this.changed = {};     // elements set since the launcher last acknowledged them
    this.seq = 0;
    this.leaving = false;
    this.finished = false;
    this.sendTimer = 0;
    var settings = {
      lmsCommitUrl: base + "commit",
      dataCommitFormat: "flattened",
      autocommit: false,
      logLevel: 4,
      httpService: { processHttpRequest: function (url, params, immediate, log, listeners, metadata) {
        return self.commit(params, !!(metadata && metadata.isTerminateCommit));
      }, updateSettings: function () {} },
    };
    if (version === "2004") {
      if (sequencing) settings.sequencing = sequencing;
      this.api = new window.Scorm2004API(settings);
      this.restoreGlobals(globals);
    } else {
      this.api = new window.Scorm12API(settings);
    }
    this.wrap();
    window.addEventListener("pagehide", function () { self.pageHide(); });
  }

  Runtime.prototype.call = function (name12, name2004) {
    return this.api[this.version === "2004" ? name2004 : name12].bind(this.api);
  };

  // Long values held beside scorm-again, and the record of what changed.
  Runtime.prototype.wrap = function () {
    var self = this, api = this.api, v2004 = this.version === "2004";
    var setName = v2004 ? "SetValue" : "LMSSetValue", getName = v2004 ? "GetValue" : "LMSGetValue";
    var finishName = v2004 ? "Terminate" : "LMSFinish";
    var tooLong = v2004 ? "406" : "405";
    var set = api[setName].bind(api), get = api[getName].bind(api), finish = api[finishName].bind(api);
    var longOnes = LONG_ELEMENTS[this.version];
    api[setName] = function (element, value) {
      var result = set(element, value);
      var isLong = longOnes.indexOf(element) >= 0;
      if (result !== "true" && isLong && String(api.lastErrorCode) === tooLong &&
          String(value).length <= LONG_LIMIT && api.isInitialized()) {
        self.long[element] = String(value);
        api.lastErrorCode = "0";
        result = "true";
      } else if (result === "true" && isLong) {
        delete self.long[element];
      }
      if (result === "true") {
        self.changed[element] = true;
        self.scheduleSend();
      }
      return result;
    };
    api[getName] = function (element) {
      var value = get(element);
      if (Object.prototype.hasOwnProperty.call(self.long, element) && api.isInitialized()) {
        api.lastErrorCode = "0";
        return self.long[element];
      }
      return value;
    };
    api[finishName] = function (parameter) {
      var result = finish(parameter);
      if (result === "true") {
        self.finished = true;
        if (self.onFinish) self.onFinish();
      }
      return result;
    };
  };

  // Starts a session of `item`: the launcher's saved state goes into a fresh API before the
  // content's frame exists. Resolves to the launch answer.
  Runtime.prototype.launch = function (item) {
    var self = this;
    return post(this.base + "launch", { item: item.id }).then(function (answer) {
      if (self.version === "2004") self.api.reset(undefined, { preserveListeners: true });
      else self.api.reset();
      self.item = item;
      self.session = answer.session;
      self.long = {};
      self.changed = {};
      self.finished = false;
      self.started = Date.now();
      var cmi = Object.assign({}, answer.cmi || {});
      LONG_ELEMENTS[self.version].forEach(function (element) {
        if (typeof cmi[element] === "string" && cmi[element] !== "") self.long[element] = cmi[element];
        delete cmi[element];
      });
      // What the manifest says, where the launcher did not say it.
      if (item.launchData && !cmi["cmi.launch_data"]) cmi["cmi.launch_data"] = item.launchData;
      if (self.version === "1.2" && item.masteryScore && !cmi["cmi.student_data.mastery_score"]) {
        cmi["cmi.student_data.mastery_score"] = item.masteryScore;
      }
      self.api.loadFromFlattenedJSON(cmi);
      if (self.version === "2004") window.API_1484_11 = self.api; else window.API = self.api;
      return answer;
    });
  };

  // The flat map of the content's elements: scorm-again's values as strings, long ones from
  // beside it; `only` limits it to those names.
  Runtime.prototype.values = function (params, only) {
    var out = {}, self = this;
    var flat = params || this.api.renderCommitCMI(false);
    Object.keys(flat).forEach(function (key) {
      if (typeof flat[key] !== "string" || SUPPLIED.test(key)) return;
      if (only && !only[key]) return;
      out[key] = flat[key];
    });
    Object.keys(this.long).forEach(function (key) {
      if (!only || only[key]) out[key] = self.long[key];
    });
    return out;
  };

  Runtime.prototype.body = function (cmi, end) {
    this.seq += 1;
    return { item: this.item.id, session: this.session, seq: this.seq, cmi: cmi,
             globals: this.globals(), end: end,
             sessionSeconds: Math.round((Date.now() - this.started) / 1000) };
  };

  // scorm-again's commit (Commit, or Terminate's): the whole map, synchronously, true only on
  // the launcher's 200 answer.
  Runtime.prototype.commit = function (params, terminating) {
    var failure = { result: false, errorCode: this.version === "2004" ? 391 : 101 };
    if (!this.session) return failure;
    clearTimeout(this.sendTimer);
    var body = this.body(this.values(params), terminating ? "finish" : null);
    if (this.leaving) {
      return this.beacon(body) ? { result: true, errorCode: 0 } : failure;
    }
    var request = new XMLHttpRequest();
    try {
      request.open("POST", this.base + "commit", false);
      request.setRequestHeader("Content-Type", "application/json");
      request.send(JSON.stringify(body));
    } catch (e) {
      // A browser that forbids waiting here (the page is going away) still takes a beacon.
      return this.beacon(body) ? { result: true, errorCode: 0 } : failure;
    }
    if (request.status !== 200) return failure;
    this.changed = {};
    if (this.onChange) this.onChange(this.item, body.cmi);
    return { result: true, errorCode: 0 };
  };

  Runtime.prototype.beacon = function (body) {
    var data = new Blob([JSON.stringify(body)], { type: "text/plain;charset=UTF-8" });
    return navigator.sendBeacon(this.base + "commit", data);
  };

  // The elements set since the last acknowledged send go out shortly after a SetValue.
  Runtime.prototype.scheduleSend = function () {
    var self = this;
    clearTimeout(this.sendTimer);
    this.sendTimer = setTimeout(function () { self.sendChanged(); }, 250);
  };
  Runtime.prototype.sendChanged = function () {
    if (!this.session || this.finished || Object.keys(this.changed).length === 0) return;
    var sent = this.changed, self = this;
    this.changed = {};
    var body = this.body(this.values(null, sent), null);
    fetch(this.base + "commit", { method: "POST", keepalive: JSON.stringify(body).length < 60000,
                                  headers: { "Content-Type": "application/json" },
                                  body: JSON.stringify(body) })
      .then(function (r) { if (!r.ok) throw new Error(); })
      .catch(function () { Object.assign(self.changed, sent); });
  };

  // The page is going away: what was set after the last commit, by beacon, for a session that
  // the content did not finish (the next launch resumes it).
  Runtime.prototype.pageHide = function () {
    this.leaving = true;
    clearTimeout(this.sendTimer);
    if (!this.session || this.finished) return;
    var body = this.body(this.values(null, Object.keys(this.changed).length ? this.changed : {}), "pagehide");
    if (!this.beacon(body)) {
      // Too large for a beacon: the changed elements one by one still may fit.
      var self = this;
      Object.keys(body.cmi).forEach(function (key) {
        var single = {}; single[key] = body.cmi[key];
        self.beacon(self.body(single, "pagehide"));
      });
    }
  };

  // Everything set so far, on disk before the content is sent away (its own unload handlers
  // can only send beacons).
  Runtime.prototype.flush = function () {
    if (this.session && !this.finished && this.api.isInitialized()) this.commit(null, false);
  };

  // The content is gone without finishing (the learner chose another item): its session ends
  // as LMS-initiated, which commits what it set.
  Runtime.prototype.endSession = function () {
    if (!this.session || this.finished) return;
    if (this.api.isInitialized()) {
      this.call("LMSFinish", "Terminate")("");
    } else {
      this.commit(this.api.renderCommitCMI(true), true);
      this.finished = true;
    }
  };

  // The course as a whole (2004): the sequencing engine's state, with its global objectives.
  Runtime.prototype.globals = function () {
    if (this.version !== "2004" || !this.api.serializeSequencingState) return {};
    try { return { sequencing: this.api.serializeSequencingState() }; } catch (e) { return {}; }
  };
  Runtime.prototype.restoreGlobals = function (globals) {
    if (globals && typeof globals.sequencing === "string") {
      try { this.api.deserializeSequencingState(globals.sequencing); } catch (e) { /* fresh */ }
    }
  };

  Runtime.post = post;
  return Runtime;
})();
