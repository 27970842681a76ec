#!/usr/bin/python3
"""signing.py SOURCE BUILD...: with a throwaway self-signed code-signing
certificate in the environment, installs each build tree, and checks that
every installed image is signed and verifies, that removing the signature
gives back the built image byte for byte, and that the signed file carries
its own header checksum (which removing the signature recomputes, so the
comparison cannot see it). The first tree's signature is timestamped by an
RFC 3161 server of the test's own on the loopback address: once the
certificate has expired, it still verifies and the others do not. Then makes
the release from the first tree and checks that each Windows Installer
package is signed and verifies, and that its signature, put on a fresh
unsigned package of the same signed image, gives the signed package byte for
byte: signing adds nothing else; and that the release names the signer's
thumbprint. An install whose signing fails, or finds no osslsigncode, or no
timestamp server, leaves no password."""
import hashlib
import http.server
import os
import pathlib
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

import pefile

source, builds = pathlib.Path(sys.argv[1]), [pathlib.Path(b) for b in sys.argv[2:]]
checks = []  # (what holds, what it says when it does not)


def run(*command, **kwargs):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, **kwargs)


class Timestamps(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 server: openssl ts answers each query, with a certificate
    for timestamping alone."""

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", keys / "ts.cnf", "-queryfile", "/dev/stdin",
                                "-signer", keys / "tsa.pem", "-inkey", keys / "tsa.key", "-out", "/dev/stdout"],
                               input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)


with tempfile.TemporaryDirectory(prefix="sessionend-sign-") as scratch:
    keys = pathlib.Path(scratch)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=sessionend test",
        "-addext", "extendedKeyUsage=codeSigning", "-keyout", keys / "key.pem", "-out", keys / "cert.pem", check=True)
    run("openssl", "pkcs12", "-export", "-inkey", keys / "key.pem", "-in", keys / "cert.pem",
        "-passout", "pass:throwaway", "-out", keys / "signer.p12", check=True)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", "/CN=sessionend TSA",
        "-addext", "extendedKeyUsage=critical,timeStamping", "-keyout", keys / "tsa.key", "-out", keys / "tsa.pem",
        check=True)
    (keys / "ts.cnf").write_text(f"[tsa]\ndefault_tsa = tsa\nserial = {keys / 'serial'}\nsigner_digest = sha256\n"
                                 "default_policy = 1.2.3.4\ndigests = sha256\n")
    (keys / "serial").write_text("01\n")
    server = http.server.HTTPServer(("127.0.0.1", 0), Timestamps)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Both ways of naming a certificate, one build each in turn; the first
    # build's signature is timestamped, by the server above.
    credentials = [{"SESSIONEND_SIGN_PKCS12": str(keys / "signer.p12"), "SESSIONEND_SIGN_PASSWORD": "throwaway",
                    "SESSIONEND_SIGN_TIMESTAMP_URL": f"http://127.0.0.1:{server.server_address[1]}/"},
                   {"SESSIONEND_SIGN_CERT": str(keys / "cert.pem"), "SESSIONEND_SIGN_KEY": str(keys / "key.pem")}]
    local = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    expired = str(int(time.time()) + 3 * 86400)
    for number, build in enumerate(builds):
        prefix = keys / build.name
        installed = run("cmake", "--install", build, "--prefix", prefix, env=dict(local, **credentials[number % 2]))
        checks.append((installed.returncode == 0, f"installing {build} signed: {installed.stderr}"))
        (signed,) = prefix.glob("*/sessionend.exe")
        verified = run("osslsigncode", "verify", "-CAfile", keys / "cert.pem", "-in", signed)
        checks.append((verified.returncode == 0, f"{signed} does not verify:\n{verified.stdout}{verified.stderr}"))
        # Once the certificate has expired, only a timestamped signature holds.
        later = run("osslsigncode", "verify", "-CAfile", keys / "cert.pem", "-TSA-CAfile", keys / "tsa.pem",
                    "-time", expired, "-in", signed)
        checks.append(((later.returncode == 0) == (number % 2 == 0), f"{signed} after its certificate expired:\n"
                       f"{later.stdout}"))
        stripped = keys / f"{build.name}-stripped.exe"
        run("osslsigncode", "remove-signature", "-in", signed, "-out", stripped, check=True)
        checks.append((stripped.read_bytes() == (build / "sessionend.exe").read_bytes(),
                       f"{signed} without its signature is not the built image"))
        image = pefile.PE(str(signed))
        checksum = image.OPTIONAL_HEADER.CheckSum
        checks.append((checksum == image.generate_checksum(),
                       f"{signed}: header checksum {checksum:#x}, the file's is {image.generate_checksum():#x}"))
    for case, broken in (("not found", {"PATH": "/nonexistent"}), ("failing", {"SESSIONEND_SIGN_PASSWORD": "wrong"}),
                         ("without a timestamp", {"SESSIONEND_SIGN_TIMESTAMP_URL": "http://127.0.0.1:9/"})):
        prefix = keys / case.replace(" ", "-")
        failed = run(shutil.which("cmake"), "--install", builds[0], "--prefix", prefix,
                     env={**local, **credentials[0], **broken})
        left = list(prefix.rglob("*.password"))
        checks.append((failed.returncode != 0 and not left, f"osslsigncode {case}: status {failed.returncode}, {left}"))

    release, config = keys / "release", (builds[0] / "CPackConfig.cmake").read_text()
    run("cpack", "--config", builds[0] / "CPackConfig.cmake", "-B", release, env=dict(local, **credentials[0]),
        check=True)
    (archive,) = release.glob("*.zip")
    zipfile.ZipFile(archive).extractall(keys / "images")
    # The signer's thumbprint as Windows shows it: the certificate's SHA-1.
    thumbprint = hashlib.sha1(ssl.PEM_cert_to_DER_cert((keys / "cert.pem").read_text())).hexdigest().upper()
    published = release / archive.name.replace(".zip", "-signer.txt")
    checks.append((published.exists() and published.read_text() == thumbprint + "\n", f"{published}: not {thumbprint}"))
    version = re.search(r'CPACK_PACKAGE_VERSION "([^"]+)"', config).group(1)
    epoch = re.search(r'CPACK_SESSIONEND_SOURCE_DATE_EPOCH "(\d+)"', config).group(1)
    for arch in ("x86", "x64", "arm64"):
        fresh, attached = keys / f"{arch}.msi", keys / f"{arch}-attached.msi"
        signed = release / archive.name.replace(".zip", f"-{arch}.msi")
        verified = run("osslsigncode", "verify", "-CAfile", keys / "cert.pem", "-in", signed)
        checks.append((verified.returncode == 0, f"{signed} does not verify:\n{verified.stdout}{verified.stderr}"))
        run("osslsigncode", "extract-signature", "-in", signed, "-out", keys / f"{arch}.der", check=True)
        image = keys / "images" / arch / "sessionend.exe"
        run(sys.executable, source / "cmake" / "msi.py", fresh, version, arch, image,
            env=dict(os.environ, SOURCE_DATE_EPOCH=epoch), check=True)
        run("osslsigncode", "attach-signature", "-sigin", keys / f"{arch}.der", "-CAfile", keys / "cert.pem",
            "-in", fresh, "-out", attached)
        checks.append((attached.exists() and attached.read_bytes() == signed.read_bytes(),
                       f"{signed}: its signature on a fresh unsigned package does not give the signed package"))
    server.shutdown()

failures = [message for ok, message in checks if not ok]
for failure in failures:
    print("FAIL:", failure)
print(f"signing: {len(checks) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
