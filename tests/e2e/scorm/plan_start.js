// Only where the content started (the probe's own "init" report says it).
function PLAN() {}
