// The second session of the data-model case: everything of the first is back, then the learner
// passes and the content finishes.
function PLAN() {
  report("resumed", {
    entry: SCORM.get(el(["cmi.core.entry", "cmi.entry"])),
    suspendDataKept: SCORM.get("cmi.suspend_data") === P.suspendData,
    suspendDataLength: SCORM.get("cmi.suspend_data").length,
    location: SCORM.get(el(["cmi.core.lesson_location", "cmi.location"])),
    totalTime: SCORM.get(el(["cmi.core.total_time", "cmi.total_time"])),
  });
  if (SCORM.version === "2004") {
    SCORM.set("cmi.completion_status", "completed");
    SCORM.set("cmi.score.scaled", "0.85");
  }
  SCORM.set(el(["cmi.core.lesson_status", "cmi.success_status"]), "passed");
  SCORM.set(el(["cmi.core.score.raw", "cmi.score.raw"]), "85");
  SCORM.set(el(["cmi.core.session_time", "cmi.session_time"]), P.sessionTimes[1]);
  SCORM.set(el(["cmi.core.exit", "cmi.exit"]), el(["", "normal"]));
  report("finished", SCORM.quit());
}
