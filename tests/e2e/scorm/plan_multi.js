// The multi-item case: each visit of a lesson reports what the player shows and acts as the
// learner would (P.visit counts the visits of this page).
function toc() {
  return Array.from(parent.document.querySelectorAll("#toc .leaf"), function (li) {
    return li.querySelector(".title").textContent + "=" + li.querySelector(".status").textContent; }).join("|");
}
function clickTitle(title) {
  Array.from(parent.document.querySelectorAll("#toc .leaf .title")).find(function (a) { return a.textContent === title; }).click();
}
function PLAN() {
  var lesson = /lesson=(\w)/.exec(location.search)[1];
  report("visit", { lesson: lesson, toc: toc(),
                    choiceB: SCORM.get("adl.nav.request_valid.choice.{target=lesson_b}") });
  if (lesson === "a" && P.visit === 1) {
    clickTitle("Lesson B");  // not yet: Lesson A comes first
    setTimeout(function () {
      SCORM.set("cmi.completion_status", "completed");
      SCORM.set("cmi.success_status", "passed");
      SCORM.set("adl.nav.request", "continue");
      SCORM.quit();
    }, 1000);
  } else if (lesson === "b") {
    // The record page, then the choice of Lesson A by its title.
    parent.document.getElementById("show-record").click();
    setTimeout(function () {
      report("record", Array.from(parent.document.querySelectorAll("#record tbody tr"), function (row) {
        return Array.from(row.cells, function (c) { return c.textContent; }).slice(0, 2).join(":"); }).join("|"));
      var gate = document.createElement("script");  // answered once the test has read --progress
      gate.src = TEST_SERVER + "/gate.js";
      gate.onload = function () { clickTitle("Lesson A"); };
      document.head.appendChild(gate);
    }, 1000);
  } else if (P.visit === 2) {
    // Starting over (the learner confirms).
    parent.confirm = function () { return true; };
    parent.document.getElementById("start-over").click();
  }
}
