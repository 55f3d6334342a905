#!/usr/bin/env python3
"""make_manifests.py OUT SOURCE_DIR: the scorm tests' manifests, made as authors make them by
simple-scorm-packager (npm): OUT/v12 (1.2) and OUT/v2004 (2004 4th edition), around index_lms.html."""
import json
import os
import subprocess
import sys

out, source = sys.argv[1], sys.argv[2]
for folder, version in (("v12", "1.2"), ("v2004", "2004 4th Edition")):
    path = os.path.join(out, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "index_lms.html"), "w") as f:
        f.write("<html><body>lesson</body></html>\n")
    options = {"version": version, "title": "Packaged " + folder, "identifier": "com.example." + folder,
               "masteryScore": 80, "startingPage": "index_lms.html", "source": path, "package": {"zip": False}}
    subprocess.run(["node", os.path.join(source, "tests/e2e/scorm/package.js"), json.dumps(options)],
                   env=dict(os.environ, NODE_PATH=os.path.join(source, "node_modules")), check=True, timeout=120)
