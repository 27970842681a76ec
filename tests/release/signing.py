#!/usr/bin/python3
"""signing.py BUILD...: installs each build tree with a throwaway self-signed
code-signing certificate in the environment, and checks that every installed
image is signed and verifies, that removing the signature gives back the
built image byte for byte, and that the signed file carries its own header
checksum (which removing the signature recomputes, so the comparison cannot
see it)."""
import os
import pathlib
import subprocess
import sys
import tempfile

import pefile

builds = [pathlib.Path(b) for b in sys.argv[1:]]
checks = []  # (what holds, what it says when it does not)


def run(*command, **kwargs):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, **kwargs)


with tempfile.TemporaryDirectory(prefix="sessionend-sign-") as scratch:
    keys = pathlib.Path(scratch)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=sessionend test",
        "-addext", "extendedKeyUsage=codeSigning", "-keyout", keys / "key.pem", "-out", keys / "cert.pem", check=True)
    run("openssl", "pkcs12", "-export", "-inkey", keys / "key.pem", "-in", keys / "cert.pem",
        "-passout", "pass:throwaway", "-out", keys / "signer.p12", check=True)
    # Both ways of naming a certificate, one build each in turn.
    credentials = [{"SESSIONEND_SIGN_PKCS12": str(keys / "signer.p12"), "SESSIONEND_SIGN_PASSWORD": "throwaway"},
                   {"SESSIONEND_SIGN_CERT": str(keys / "cert.pem"), "SESSIONEND_SIGN_KEY": str(keys / "key.pem")}]
    for number, build in enumerate(builds):
        prefix = keys / build.name
        env = dict(os.environ, **credentials[number % 2])
        installed = run("cmake", "--install", build, "--prefix", prefix, env=env)
        checks.append((installed.returncode == 0, f"installing {build} signed: {installed.stderr}"))
        (signed,) = prefix.glob("*/sessionend.exe")
        verified = run("osslsigncode", "verify", "-CAfile", keys / "cert.pem", "-in", signed)
        checks.append((verified.returncode == 0, f"{signed} does not verify:\n{verified.stdout}{verified.stderr}"))
        stripped = keys / f"{build.name}-stripped.exe"
        run("osslsigncode", "remove-signature", "-in", signed, "-out", stripped, check=True)
        checks.append((stripped.read_bytes() == (build / "sessionend.exe").read_bytes(),
                       f"{signed} without its signature is not the built image"))
        image = pefile.PE(str(signed))
        checksum = image.OPTIONAL_HEADER.CheckSum
        checks.append((checksum == image.generate_checksum(),
                       f"{signed}: header checksum {checksum:#x}, the file's is {image.generate_checksum():#x}"))

failures = [message for ok, message in checks if not ok]
for failure in failures:
    print("FAIL:", failure)
print(f"signing: {len(checks) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
