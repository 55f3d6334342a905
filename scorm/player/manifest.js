// Reads a package's imsmanifest.xml (parsed by DOMParser) into what the player needs: the
// organization as a tree of clusters and leaves, each leaf's launch address, and for SCORM 2004
// the sequencing of each activity in the form scorm-again's sequencing engine takes.
//
// Accepts any well-formed manifest; elements are matched by their local names (namespaces vary
// between editions and tools). Problems that make an item unplayable (no resource, no href) are
// listed in `problems`; a manifest that does not parse, or has no organization, throws an Error
// whose message says what is wrong.
"use strict";

var OrvaneManifest = (function () {
  function children(element, name) {
    var found = [];
    if (!element) return found;
    for (var node = element.firstElementChild; node; node = node.nextElementSibling) {
      if (node.localName === name) found.push(node);
    }
    return found;
  }
  function child(element, name) {
    return children(element, name)[0] || null;
  }
  function text(element) {
    return element ? element.textContent.trim() : "";
  }
  // An attribute by local name, whatever its prefix (adlcp:scormtype, adlcp:scormType, ...).
  function attr(element, name) {
    if (!element) return null;
    var lower = name.toLowerCase();
    for (var i = 0; i < element.attributes.length; i++) {
      var a = element.attributes[i];
      if (a.localName.toLowerCase() === lower) return a.value;
    }
    return null;
  }
  function flag(element, name, fallback) {
    var value = attr(element, name);
    if (value === null) return fallback;
    return value.trim() === "true" || value.trim() === "1";
  }
  function number(value) {
    if (value === null || value === undefined || String(value).trim() === "") return undefined;
    var n = Number(value);
    return isFinite(n) ? n : undefined;
  }
  function xmlBase(element) {
    return element ? element.getAttributeNS("http://www.w3.org/XML/1998/namespace", "base") || "" : "";
  }
  // Only the fields that are set: scorm-again keeps its defaults for the rest.
  function defined(object) {
    var out = {};
    Object.keys(object).forEach(function (key) {
      var value = object[key];
      if (value === undefined || value === null) return;
      if (typeof value === "object" && !Array.isArray(value) && Object.keys(value).length === 0) return;
      if (Array.isArray(value) && value.length === 0) return;
      out[key] = value;
    });
    return out;
  }

  // The item's parameters appended to its resource's address the content-packaging way: a
  // leading "?" or "&" dropped; "#..." appended only when the address has no fragment yet;
  // otherwise joined with "&" when the address has a query, "?" when not.
  function withParameters(href, parameters) {
    if (!parameters) return href;
    var p = parameters.replace(/^[?&]+/, "");
    if (!p) return href;
    if (p.charAt(0) === "#") return href.indexOf("#") >= 0 ? href : href + p;
    var hash = href.indexOf("#");
    var base = hash >= 0 ? href.slice(0, hash) : href;
    var fragment = hash >= 0 ? href.slice(hash) : "";
    return base + (base.indexOf("?") >= 0 ? "&" : "?") + p + fragment;
  }

  // ---- SCORM 2004 sequencing (imsss, adlseq, adlnav) -> scorm-again's ActivitySettings ----

  function ruleConditions(conditionsElement) {
    return children(conditionsElement, "ruleCondition").map(function (c) {
      var operator = attr(c, "operator");
      return defined({
        condition: attr(c, "condition"),
        operator: operator === "not" ? "not" : undefined,
        referencedObjective: attr(c, "referencedObjective") || undefined,
        parameters: attr(c, "measureThreshold") !== null
          ? { threshold: number(attr(c, "measureThreshold")) } : undefined,
      });
    });
  }
  function sequencingRules(element) {
    var kinds = { preConditionRule: "preConditionRules", exitConditionRule: "exitConditionRules",
                  postConditionRule: "postConditionRules" };
    var out = {};
    Object.keys(kinds).forEach(function (kind) {
      var rules = children(element, kind).map(function (rule) {
        var conditions = child(rule, "ruleConditions");
        return {
          action: attr(child(rule, "ruleAction"), "action"),
          conditionCombination: attr(conditions, "conditionCombination") || "all",
          conditions: ruleConditions(conditions),
        };
      });
      if (rules.length) out[kinds[kind]] = rules;
    });
    return out;
  }
  function rollupRules(element) {
    return children(element, "rollupRule").map(function (rule) {
      var conditions = child(rule, "rollupConditions");
      return defined({
        action: attr(child(rule, "rollupAction"), "action"),
        consideration: attr(rule, "childActivitySet") || "all",
        minimumCount: number(attr(rule, "minimumCount")),
        minimumPercent: number(attr(rule, "minimumPercent")),
        conditionCombination: attr(conditions, "conditionCombination") || "any",
        conditions: children(conditions, "rollupCondition").map(function (c) {
          return defined({ condition: attr(c, "condition"),
                           operator: attr(c, "operator") === "not" ? "not" : undefined });
        }),
      });
    });
  }
  // imsss map infos read status and measure unless told not to; adlseq's (extended) say only
  // what they name.
  function mapInfos(objective, extended) {
    return children(objective, "mapInfo").map(function (m) {
      return defined({
        targetObjectiveID: attr(m, "targetObjectiveID"),
        readSatisfiedStatus: flag(m, "readSatisfiedStatus", extended ? undefined : true),
        readNormalizedMeasure: flag(m, "readNormalizedMeasure", extended ? undefined : true),
        writeSatisfiedStatus: flag(m, "writeSatisfiedStatus", extended ? undefined : false),
        writeNormalizedMeasure: flag(m, "writeNormalizedMeasure", extended ? undefined : false),
        readCompletionStatus: flag(m, "readCompletionStatus", undefined),
        writeCompletionStatus: flag(m, "writeCompletionStatus", undefined),
        readProgressMeasure: flag(m, "readProgressMeasure", undefined),
        writeProgressMeasure: flag(m, "writeProgressMeasure", undefined),
        readRawScore: flag(m, "readRawScore", undefined),
        writeRawScore: flag(m, "writeRawScore", undefined),
        readMinScore: flag(m, "readMinScore", undefined),
        writeMinScore: flag(m, "writeMinScore", undefined),
        readMaxScore: flag(m, "readMaxScore", undefined),
        writeMaxScore: flag(m, "writeMaxScore", undefined),
        updateAttemptData: flag(m, "updateAttemptData", undefined),
      });
    });
  }
  function objective(element, isPrimary, extended) {
    var id = attr(element, "objectiveID") || "";
    var maps = mapInfos(element).concat(extended[id] || []);
    return defined({
      objectiveID: id,
      isPrimary: isPrimary,
      satisfiedByMeasure: flag(element, "satisfiedByMeasure", false),
      minNormalizedMeasure: number(text(child(element, "minNormalizedMeasure"))),
      mapInfo: maps,
    });
  }
  // The settings of one <imsss:sequencing> (an item's or a collection's).
  function sequencing(element) {
    if (!element) return {};
    var control = child(element, "controlMode");
    var rollup = child(element, "rollupRules");
    var random = child(element, "randomizationControls");
    var delivery = child(element, "deliveryControls");
    var constrained = child(element, "constrainedChoiceConsiderations");
    var considerations = child(element, "rollupConsiderations");
    var limits = child(element, "limitConditions");
    // adlseq:objectives beside imsss:objectives carry the extended map infos of the objectives
    // of the same ID.
    function fromAdl(o) { return (o.namespaceURI || "").indexOf("adlseq") >= 0; }
    var objectives = children(element, "objectives").filter(function (o) { return !fromAdl(o); })[0];
    var extended = {};
    children(element, "objectives").filter(fromAdl).forEach(function (adl) {
      children(adl, "objective").forEach(function (o) {
        extended[attr(o, "objectiveID") || ""] = mapInfos(o, true);
      });
    });
    var primary = child(objectives, "primaryObjective");
    var settings = defined({
      sequencingIdRef: attr(element, "IDRef") || undefined,
      sequencingControls: defined({
        choice: flag(control, "choice", undefined),
        choiceExit: flag(control, "choiceExit", undefined),
        flow: flag(control, "flow", undefined),
        forwardOnly: flag(control, "forwardOnly", undefined),
        useCurrentAttemptObjectiveInfo: flag(control, "useCurrentAttemptObjectiveInfo", undefined),
        useCurrentAttemptProgressInfo: flag(control, "useCurrentAttemptProgressInfo", undefined),
        rollupObjectiveSatisfied: flag(rollup, "rollupObjectiveSatisfied", undefined),
        rollupProgressCompletion: flag(rollup, "rollupProgressCompletion", undefined),
        objectiveMeasureWeight: number(attr(rollup, "objectiveMeasureWeight")),
        selectionTiming: attr(random, "selectionTiming") || undefined,
        selectCount: number(attr(random, "selectCount")),
        reorderChildren: flag(random, "reorderChildren", undefined),
        randomizationTiming: attr(random, "randomizationTiming") || undefined,
        preventActivation: flag(constrained, "preventActivation", undefined),
        constrainChoice: flag(constrained, "constrainChoice", undefined),
      }),
      sequencingRules: sequencingRules(child(element, "sequencingRules")),
      rollupRules: rollup ? defined({ rules: rollupRules(rollup) }) : undefined,
      rollupConsiderations: considerations ? defined({
        requiredForSatisfied: attr(considerations, "requiredForSatisfied") || undefined,
        requiredForNotSatisfied: attr(considerations, "requiredForNotSatisfied") || undefined,
        requiredForCompleted: attr(considerations, "requiredForCompleted") || undefined,
        requiredForIncomplete: attr(considerations, "requiredForIncomplete") || undefined,
        measureSatisfactionIfActive: flag(considerations, "measureSatisfactionIfActive", undefined),
      }) : undefined,
      deliveryControls: delivery ? defined({
        tracked: flag(delivery, "tracked", undefined),
        completionSetByContent: flag(delivery, "completionSetByContent", undefined),
        objectiveSetByContent: flag(delivery, "objectiveSetByContent", undefined),
      }) : undefined,
      attemptLimit: number(attr(limits, "attemptLimit")),
      attemptAbsoluteDurationLimit: attr(limits, "attemptAbsoluteDurationLimit") || undefined,
      primaryObjective: primary ? objective(primary, true, extended) : undefined,
      objectives: children(objectives, "objective").map(function (o) {
        return objective(o, false, extended);
      }),
    });
    return settings;
  }

  // ---- the manifest as a whole ----

  function read(xmlText, manifestUrl) {
    var doc = new DOMParser().parseFromString(xmlText, "application/xml");
    var error = doc.getElementsByTagName("parsererror")[0];
    if (error) {
      // Chromium puts the parser's words in a <div>, Firefox in the element's first lines.
      var detail = error.getElementsByTagName("div")[0] || error;
      throw new Error("The course's imsmanifest.xml is not well-formed XML (" +
                      text(detail).split("\n").slice(0, 3).join(" ").replace(/\s+/g, " ") + ").");
    }
    var root = doc.documentElement;
    if (!root || root.localName !== "manifest") {
      throw new Error("The course's imsmanifest.xml has no <manifest> element at its top.");
    }
    var problems = [];
    var organizationsElement = child(root, "organizations");
    var organizations = children(organizationsElement, "organization");
    var wanted = attr(organizationsElement, "default");
    var organization = organizations.filter(function (o) { return attr(o, "identifier") === wanted; })[0] ||
                       organizations[0];
    if (!organization) throw new Error("The course's imsmanifest.xml has no organization to play.");

    var manifestBase = new URL(xmlBase(root) || ".", manifestUrl).href;
    var resourcesElement = child(root, "resources");
    var resourcesBase = new URL(xmlBase(resourcesElement) || ".", manifestBase).href;
    var resources = {};
    children(resourcesElement, "resource").forEach(function (r) {
      resources[attr(r, "identifier")] = {
        href: attr(r, "href"),
        base: new URL(xmlBase(r) || ".", resourcesBase).href,
        scormType: (attr(r, "scormtype") || "asset").toLowerCase(),
      };
    });

    var collections = {};
    children(child(root, "sequencingCollection"), "sequencing").forEach(function (s) {
      var id = attr(s, "ID");
      if (id) collections[id] = sequencing(s);
    });

    var leaves = [];
    function item(element, depth) {
      var id = attr(element, "identifier");
      var node = {
        id: id,
        title: text(child(element, "title")) || id,
        visible: attr(element, "isvisible") !== "false",
        depth: depth,
        children: [],
        sequencing: sequencing(child(element, "sequencing")),
      };
      var hide = children(child(child(element, "presentation"), "navigationInterface"), "hideLMSUI")
          .map(text);
      if (hide.length) node.sequencing.hideLmsUi = hide;
      var threshold = child(element, "completionThreshold");
      if (threshold) {
        node.completionThreshold = threshold.firstElementChild || text(threshold) === ""
            ? attr(threshold, "minProgressMeasure") || "1.0" : text(threshold);
        if (flag(threshold, "completedByMeasure", text(threshold) !== "")) {
          node.sequencing.completionThreshold = defined({
            completedByMeasure: true, minProgressMeasure: number(node.completionThreshold),
            progressWeight: number(attr(threshold, "progressWeight")) });
        }
      }
      node.children = children(element, "item").map(function (c) { return item(c, depth + 1); });
      var ref = attr(element, "identifierref");
      if (node.children.length === 0) {
        var resource = ref ? resources[ref] : null;
        if (!ref) problems.push("The item \"" + node.title + "\" names no resource.");
        else if (!resource) problems.push("The item \"" + node.title + "\" names the resource \"" + ref + "\", which the manifest does not have.");
        else if (!resource.href) problems.push("The resource \"" + ref + "\" of \"" + node.title + "\" has no href.");
        else {
          node.scormType = resource.scormType;
          var address = new URL(resource.href, resource.base).href;
          node.url = withParameters(address, attr(element, "parameters"));
        }
        node.launchData = text(child(element, "datafromlms")) || undefined;
        node.masteryScore = text(child(element, "masteryscore")) || undefined;
        leaves.push(node);
      }
      return node;
    }
    var top = {
      id: attr(organization, "identifier") || "organization",
      title: text(child(organization, "title")) || "Course",
      visible: true,
      depth: 0,
      children: children(organization, "item").map(function (c) { return item(c, 1); }),
      sequencing: sequencing(child(organization, "sequencing")),
    };
    return { identifier: attr(root, "identifier"), organization: top, leaves: leaves,
             collections: collections, problems: problems };
  }

  // The activity tree of scorm-again's sequencing engine for the organization.
  function activityTree(node) {
    var settings = Object.assign({ id: node.id, title: node.title, isVisible: node.visible },
                                 node.sequencing);
    if (node.children.length) settings.children = node.children.map(activityTree);
    return settings;
  }

  return { read: read, activityTree: activityTree, withParameters: withParameters };
})();
