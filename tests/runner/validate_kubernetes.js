// Validates Kubernetes YAML files against the object schemas of the npm
// package kubernetes-models, document by document, and the Jobs against
// the rules the schemas cannot express. Exit status 1 names every fault.
//   NODE_PATH=DIR/node_modules node validate_kubernetes.js FILE...
"use strict";
const fs = require("fs");
const YAML = require("yaml");

const models = {
  "v1/ConfigMap": () => require("kubernetes-models/v1/ConfigMap").ConfigMap,
  "v1/Secret": () => require("kubernetes-models/v1/Secret").Secret,
  "batch/v1/Job": () => require("kubernetes-models/batch/v1/Job").Job,
  "batch/v1/CronJob": () => require("kubernetes-models/batch/v1/CronJob").CronJob,
};

let faults = 0;
function fault(where, what) {
  console.error(`${where}: ${what}`);
  faults += 1;
}

// What the schemas cannot say about a Job: a pod failure policy needs
// pods that are never restarted in place, its exit codes are a sorted set
// without 0, and the Job's deadline leaves the script's own time limit the
// time to end the run cleanly first.
function checkJobSpec(spec, where) {
  const pod = spec.template.spec;
  if (spec.podFailurePolicy && pod.restartPolicy !== "Never") {
    fault(where, "podFailurePolicy needs restartPolicy: Never");
  }
  for (const rule of (spec.podFailurePolicy || {}).rules || []) {
    if (!rule.onExitCodes) continue;
    const values = rule.onExitCodes.values;
    const sorted = [...new Set(values)].sort((a, b) => a - b);
    if (values.includes(0) || JSON.stringify(values) !== JSON.stringify(sorted)) {
      fault(where, `exit codes must be sorted, distinct and not 0: ${values}`);
    }
  }
  for (const container of pod.containers) {
    const args = container.args || [];
    const at = args.indexOf("--time-limit");
    if (at < 0) continue;
    const limit = Number(args[at + 1]);
    if (!(spec.activeDeadlineSeconds > limit)) {
      fault(where, `activeDeadlineSeconds ${spec.activeDeadlineSeconds} is not above --time-limit ${limit}`);
    }
  }
}

for (const file of process.argv.slice(2)) {
  const docs = YAML.parseAllDocuments(fs.readFileSync(file, "utf8"));
  docs.forEach((doc, i) => {
    const where = `${file} (document ${i + 1})`;
    if (doc.errors.length) {
      doc.errors.forEach((e) => fault(where, e.message));
      return;
    }
    const object = doc.toJS();
    const model = models[`${object.apiVersion}/${object.kind}`];
    if (!model) {
      fault(where, `no schema for ${object.apiVersion} ${object.kind}`);
      return;
    }
    const Model = model();
    try {
      new Model(object).validate();
    } catch (e) {
      fault(where, e.message);
      return;
    }
    if (object.kind === "Job") checkJobSpec(object.spec, where);
    if (object.kind === "CronJob") checkJobSpec(object.spec.jobTemplate.spec, where);
    console.log(`${where}: ${object.kind} ${object.metadata.name} is valid`);
  });
}
process.exit(faults ? 1 : 0);
