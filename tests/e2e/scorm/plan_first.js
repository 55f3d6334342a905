// The first session of the data-model case (P: the test's parameters): the error codes, long
// suspend_data, then a Commit, after which the test kills the launcher.
function PLAN() {
  report("entry", SCORM.get(el(["cmi.core.entry", "cmi.entry"])));
  report("learner", [SCORM.get(el(["cmi.core.student_id", "cmi.learner_id"])),
                     SCORM.get(el(["cmi.core.student_name", "cmi.learner_name"]))]);
  report("errors", {
    unknown: attempt("set", el(["cmi.core.no_such_element", "cmi.no_such_element"]), "1").code,
    bad: attempt("set", el(["cmi.core.lesson_status", "cmi.completion_status"]), "finished").code,
    readOnly: attempt("set", el(["cmi.core.student_id", "cmi.learner_id"]), "someone").code,
    writeOnly: attempt("get", el(["cmi.core.session_time", "cmi.session_time"])).code,
  });
  report("set", [SCORM.set("cmi.suspend_data", P.suspendData),
                 SCORM.set(el(["cmi.core.lesson_location", "cmi.location"]), "page-7"),
                 SCORM.set(el(["cmi.core.session_time", "cmi.session_time"]), P.sessionTimes[0]),
                 SCORM.set(el(["cmi.core.exit", "cmi.exit"]), "suspend")]);
  report("committed", SCORM.save());
}
