#!/usr/bin/env python3
"""The winget manifest of docs/deployment.md, as tools/winget-manifests.py
writes it for a built installer, is valid against the manifest schemas
(1.10.0, the real ones, in the reference folder): each of the three files
against its own schema, with the installer's real SHA-256. The validation
would notice the errors such a manifest is prone to.
    usage: winget_manifests.py TOOLS_DIR DEPLOYMENT_DOC INSTALLER SCHEMA_DIR"""
import copy
import hashlib
import json
import os
import subprocess
import sys
import tempfile

import jsonschema
import yaml

tools, doc, installer, schemas = sys.argv[1:5]
failures = 0


def check(condition, what):
    global failures
    if not condition:
        failures += 1
        print(f"FAILED: {what}")


def schema_for(kind):
    with open(os.path.join(schemas, f"manifest.{kind}.1.10.0.json"), encoding="utf-8") as f:
        return json.load(f)


def errors(manifest, kind):
    validator = jsonschema.Draft7Validator(schema_for(kind))
    return [f"{'/'.join(map(str, e.path))}: {e.message}" for e in validator.iter_errors(manifest)]


with tempfile.TemporaryDirectory() as out:
    written = subprocess.run([sys.executable, os.path.join(tools, "winget-manifests.py"), doc, installer, out],
                             capture_output=True, text=True)
    check(written.returncode == 0, f"winget-manifests.py: {written.stdout}{written.stderr}")
    loaded = {}
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), encoding="utf-8") as f:
            manifest = yaml.safe_load(f)
        kind = manifest.get("ManifestType")
        loaded[kind] = manifest
        problems = errors(manifest, kind)
        check(not problems, f"{name} ({kind}): " + "; ".join(problems))
        print(f"{name}: {kind}, {'valid' if not problems else 'INVALID'}")
    check(sorted(loaded) == ["defaultLocale", "installer", "version"], f"the three kinds, not {sorted(loaded)}")

installer_manifest = loaded.get("installer", {})
with open(installer, "rb") as f:
    digest = hashlib.sha256(f.read()).hexdigest().upper()
entry = (installer_manifest.get("Installers") or [{}])[0]
check(entry.get("InstallerSha256") == digest, "InstallerSha256 is the installer's")
# The three files name one package and one version.
for field in ("PackageIdentifier", "PackageVersion"):
    values = {m.get(field) for m in loaded.values()}
    check(len(values) == 1, f"one {field} in all three files, not {values}")
check(loaded.get("version", {}).get("DefaultLocale") == loaded.get("defaultLocale", {}).get("PackageLocale"),
      "the version file's DefaultLocale is the locale file's")
switches = installer_manifest.get("InstallerSwitches", {})
check("<LOGPATH>" in switches.get("Log", ""), "the Log switch takes winget's log path")
check("location" in (installer_manifest.get("UnsupportedArguments") or []), "--location is refused")
codes = {c["InstallerReturnCode"]: c["ReturnResponse"] for c in installer_manifest.get("ExpectedReturnCodes", [])}
check(codes.get(204) == "installInProgress" and codes.get(130) == "systemNotSupported",
      f"204 and 130 mapped: {codes}")
for feature in entry.get("AppsAndFeaturesEntries", []):
    check("DisplayVersion" not in feature, "AppsAndFeaturesEntries leaves the DisplayVersion (the PackageVersion) out")

# The validation catches what such a manifest gets wrong.
wrong = {
    "0 listed as a success code": lambda m: m.__setitem__("InstallerSuccessCodes", [0]),
    "a placeholder for the SHA-256": lambda m: m["Installers"][0].__setitem__("InstallerSha256", "<the SHA-256>"),
    "an unknown return response": lambda m: m["ExpectedReturnCodes"][0].__setitem__("ReturnResponse", "rebootNow"),
    "an unknown unsupported argument": lambda m: m.__setitem__("UnsupportedArguments", ["site"]),
}
for what, change in wrong.items():
    broken = copy.deepcopy(installer_manifest)
    change(broken)
    check(bool(errors(broken, "installer")), f"the schema refuses {what}")

print("winget manifests: " + ("ok" if not failures else f"{failures} failure(s)"))
sys.exit(1 if failures else 0)
