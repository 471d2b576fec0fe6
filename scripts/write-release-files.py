#!/usr/bin/env python3
"""Writes the release files beside a build's distributable ZIPs.

For each ZIP, <zip>.spdx.json: an SPDX 2.3 bill of materials naming every file the ZIP holds (with its
SHA-1, as SPDX requires, and SHA-256) and the Debian packages whose code is linked into its programs,
each with the version dpkg reports. Then SHA256SUMS over the ZIPs and the bills, in sha256sum's format.
Everything is derived from the files and the release time, so two builds of a commit write the same.

Usage: write-release-files.py --epoch SECONDS --version V --signing MODE
                              --zip PATH=DEBPKG:COMPONENT,DEBPKG:COMPONENT... [--zip ...]
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import zipfile

# What each component is released under, as its Debian copyright file states it.
LICENSES = {
    "mingw-w64-runtime": "NOASSERTION",
    "libwinpthread": "MIT AND BSD-3-Clause",
    "libstdc++": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "libgcc": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "zlib": "Zlib",
    "nlohmann-json": "MIT",
}


def spdx_id(text):
    return re.sub(r"[^A-Za-z0-9.-]", "-", text)


def dpkg_fields(package):
    try:
        out = subprocess.run(
            ["dpkg-query", "-W", "-f=${Version}\t${source:Package}\t${source:Version}\t${Homepage}", package],
            check=True, capture_output=True, text=True).stdout
        version, source, source_version, homepage = out.split("\t")
        return version, source, source_version, homepage.strip()
    except (OSError, subprocess.CalledProcessError, ValueError):
        print(f"write-release-files: dpkg knows no {package}; its version is left unstated", file=sys.stderr)
        return None


def upstream(version):
    # 12.2.0-14+deb12u1+25.2+b1 -> 12.2.0; 1.2.13+dfsg-1 -> 1.2.13; an epoch (1:) goes too.
    version = version.split(":", 1)[-1]
    return re.split(r"[-+~]", version, maxsplit=1)[0]


def bill(zip_path, components, epoch, version, signing):
    name = os.path.basename(zip_path)
    base = name[:-len(".zip")]
    product = base.split("-")[0]
    with open(zip_path, "rb") as f:
        zip_sum = hashlib.sha256(f.read()).hexdigest()
    top = f"SPDXRef-Package-{spdx_id(product)}"
    files, relationships, packages = [], [], []
    relationships.append({"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                          "relatedSpdxElement": top})
    with zipfile.ZipFile(zip_path) as archive:
        entries = sorted(archive.namelist())
        programs = []
        verification = hashlib.sha1()
        sha1s = []
        for entry in entries:
            data = archive.read(entry)
            file_id = f"SPDXRef-File-{spdx_id(entry)}"
            sha1 = hashlib.sha1(data).hexdigest()
            sha1s.append(sha1)
            files.append({
                "SPDXID": file_id, "fileName": f"./{entry}",
                "checksums": [{"algorithm": "SHA1", "checksumValue": sha1},
                              {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
                "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION",
            })
            relationships.append({"spdxElementId": top, "relationshipType": "CONTAINS",
                                  "relatedSpdxElement": file_id})
            if entry.lower().endswith((".exe", ".dll")):
                programs.append(file_id)
        for sha1 in sorted(sha1s):
            verification.update(sha1.encode())
    packages.append({
        "SPDXID": top, "name": product, "versionInfo": version, "packageFileName": name,
        "supplier": "Organization: Orvex Security", "downloadLocation": "NOASSERTION",
        "filesAnalyzed": True, "packageVerificationCode": {"packageVerificationCodeValue": verification.hexdigest()},
        "checksums": [{"algorithm": "SHA256", "checksumValue": zip_sum}],
        "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION",
        "comment": f"Programs signed: {signing}.",
    })
    for item in components:
        debian, component = item.split(":", 1)
        fields = dpkg_fields(debian)
        comp_id = f"SPDXRef-Package-{spdx_id(component)}"
        package = {
            "SPDXID": comp_id, "name": component,
            "versionInfo": upstream(fields[0]) if fields else "NOASSERTION",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION", "licenseDeclared": LICENSES.get(component, "NOASSERTION"),
            "copyrightText": "NOASSERTION",
        }
        if fields:
            package["supplier"] = "Organization: Debian"
            package["sourceInfo"] = f"Debian package {debian} {fields[0]} (source {fields[1]} {fields[2]})"
            package["externalRefs"] = [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                                        "referenceLocator": f"pkg:deb/debian/{debian}@{fields[0]}"}]
            if fields[3]:
                package["homepage"] = fields[3]
        packages.append(package)
        for program in programs:
            relationships.append({"spdxElementId": program, "relationshipType": "STATIC_LINK",
                                  "relatedSpdxElement": comp_id})
    return {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": base,
        "documentNamespace": f"https://orvex.example/spdx/{base}-{zip_sum}",
        "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
                         "creators": ["Organization: Orvex Security", "Tool: write-release-files.py"]},
        "packages": packages, "files": files, "relationships": relationships,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--signing", required=True)
    parser.add_argument("--zip", action="append", required=True)
    args = parser.parse_args()

    summed = []
    for item in args.zip:
        zip_path, _, contents = item.partition("=")
        document = bill(zip_path, [c for c in contents.split(",") if c], args.epoch, args.version, args.signing)
        out = zip_path + ".spdx.json"
        with open(out, "w", encoding="utf-8", newline="\n") as f:
            json.dump(document, f, indent=2, sort_keys=True)
            f.write("\n")
        summed += [zip_path, out]
    directories = {os.path.dirname(os.path.abspath(p)) for p in summed}
    if len(directories) != 1:
        print("write-release-files: the ZIPs are not in one folder", file=sys.stderr)
        return 1
    lines = []
    for path in sorted(summed, key=os.path.basename):
        with open(path, "rb") as f:
            lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {os.path.basename(path)}\n")
    with open(os.path.join(directories.pop(), "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(lines)
    return 0


if __name__ == "__main__":
    sys.exit(main())
