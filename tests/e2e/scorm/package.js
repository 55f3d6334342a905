// node package.js OPTIONS_JSON: a SCORM package made by simple-scorm-packager with those options.
const packager = require("simple-scorm-packager");
const options = JSON.parse(process.argv[2]);
packager(Object.assign({ organization: "Orvane tests", language: "en" }, options), function () {});
