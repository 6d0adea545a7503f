#!/usr/bin/env python3
"""The built installer and every program and library of its package carry a
signature that verifies against the build's CA, and the verification would
notice: a signature nobody trusts, a changed byte, a removed signature and a
program left unsigned all fail it. The build's signing step gives the same
bytes each time, attaches a release's signature only to its own file, and
with a timestamp server (a local RFC 3161 one made with openssl ts) gets a
timestamp that verifies, or fails and leaves no file when the server is down.
A key in a PKCS#11 token (SoftHSM) signs the same bytes as its key file. A
release verifies only when both installers do, and `make sign` refuses to
sign without a timestamp server unless NO_TIMESTAMP=1.
    usage: signatures.py TOOLS_DIR INSTALLER CA MANIFEST CERT KEY UNSIGNED_PROGRAM"""
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading

tools, installer, ca, manifest, cert, key, unsigned = sys.argv[1:8]
failures = 0


def check(condition, what):
    global failures
    if not condition:
        failures += 1
        print(f"FAILED: {what}")


def verify(path, *ca_args):
    return subprocess.run([os.path.join(tools, "verify-signatures.sh"), path, *ca_args],
                          capture_output=True, text=True)


def manifest_programs():
    """(platform folder, name) of each program and library the manifest packs."""
    found = set()
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 2 or fields[0].startswith("#") or fields[1] not in ("program", "program64"):
                continue
            selector = next((o.split("=")[1] for o in fields[2:] if o.startswith("selector=")), "3")
            found.add(({"1": "x86", "2": "x64", "3": "both"}[selector], fields[0]))
    return found


with tempfile.TemporaryDirectory() as work:
    # Everything verifies, and everything the manifest packs was verified.
    good = verify(installer, ca)
    check(good.returncode == 0, "the built installer verifies:\n" + good.stdout + good.stderr)
    verified = {tuple(line.split(": ", 1)[1].split("/", 1)) for line in good.stdout.splitlines()
                if line.startswith("verified  package: ")}
    check(manifest_programs() <= verified,
          f"each packed program is signed; unsigned: {sorted(manifest_programs() - verified)}")
    check(good.stdout.startswith(f"verified  {os.path.basename(installer)}\n"), "the installer itself is verified")

    # The throw-away CA is not among the system's: without it, nothing verifies.
    check(verify(installer).returncode != 0, "a signature under an untrusted CA fails")

    # One changed byte in the signed code.
    tampered = os.path.join(work, "tampered.exe")
    shutil.copy(installer, tampered)
    with open(tampered, "r+b") as f:
        f.seek(0x1000)
        byte = f.read(1)
        f.seek(0x1000)
        f.write(bytes([byte[0] ^ 0xFF]))
    result = verify(tampered, ca)
    check(result.returncode != 0 and "FAILED    tampered.exe" in result.stdout, "a changed byte fails")

    # A removed signature.
    stripped = os.path.join(work, "stripped.exe")
    subprocess.run(["osslsigncode", "remove-signature", "-in", installer, "-out", stripped],
                   capture_output=True, check=True)
    check(verify(stripped, ca).returncode != 0, "an installer without its signature fails")


def sign_step(config_lines, path):
    """The build's signing step on one file, with a configuration as CMake writes it."""
    config = path + ".conf"
    with open(config, "w") as f:
        f.write("".join(f"{line}\n" for line in config_lines))
    return subprocess.run([os.path.join(tools, "sign.sh"), config, path], capture_output=True, text=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


with tempfile.TemporaryDirectory() as work:
    signing = [f"cert={cert}", f"key={key}", "signing_time=1700000000", "description=Korvane Quendal 5.18",
               "url=http://www.example.com/quendal"]
    first, second = os.path.join(work, "first.exe"), os.path.join(work, "second.exe")
    for path in (first, second):
        shutil.copy(unsigned, path)
        result = sign_step(signing, path)
        check(result.returncode == 0, "the signing step signs:\n" + result.stderr)
    check(read(first) == read(second) and read(first) != read(unsigned),
          "signing one file twice gives the same signed bytes")
    check(subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", first],
                         capture_output=True).returncode == 0, "the signed file verifies")

    # A release's signature goes back onto the same unsigned bytes only.
    signatures = os.path.join(work, "signatures")
    os.makedirs(signatures)
    subprocess.run(["osslsigncode", "extract-signature", "-in", first, "-out",
                    os.path.join(signatures, "attached.exe.sig")], capture_output=True, check=True)
    attached = os.path.join(work, "attached.exe")
    shutil.copy(unsigned, attached)
    result = sign_step([f"signatures={signatures}", f"ca={ca}"], attached)
    check(result.returncode == 0 and read(attached) == read(first),
          "the release's signature attached gives the release's bytes:\n" + result.stderr)

    with open(attached, "wb") as f:
        f.write(read(unsigned)[:-1] + b"\x01")
    result = sign_step([f"signatures={signatures}", f"ca={ca}"], attached)
    check(result.returncode != 0 and "is not the file whose signature" in result.stderr
          and not os.path.exists(attached), "a signature is not attached to other bytes; the file goes")

    other = os.path.join(work, "other.exe")
    shutil.copy(unsigned, other)
    result = sign_step([f"signatures={signatures}"], other)
    check(result.returncode == 0 and read(other) == read(unsigned),
          "a file the release has no signature for stays unsigned")


TSA_CONFIG = """[req]
distinguished_name = dn
prompt = no
[dn]
CN = Korvane Quendal Test TSA (not for release)
[tsa_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {dir}/serial
signer_cert = {dir}/tsa.pem
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def timestamp_server(work):
    """An RFC 3161 server on a free local port, answering with openssl ts."""
    config = os.path.join(work, "tsa.cnf")
    with open(config, "w") as f:
        f.write(TSA_CONFIG.format(dir=work))
    with open(os.path.join(work, "serial"), "w") as f:
        f.write("01\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                    "-config", config, "-extensions", "tsa_ext", "-keyout", os.path.join(work, "tsa.key"),
                    "-out", os.path.join(work, "tsa.pem")], capture_output=True, check=True)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query, reply = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query, "-out", reply],
                           capture_output=True)
            data = read(reply)
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


with tempfile.TemporaryDirectory() as work:
    server = timestamp_server(work)
    url = f"http://127.0.0.1:{server.server_address[1]}"
    stamped = os.path.join(work, "stamped.exe")
    shutil.copy(unsigned, stamped)
    result = sign_step([f"cert={cert}", f"key={key}", f"timestamp_url={url}", "signing_time=1700000000",
                        "description=Korvane Quendal 5.18", "url=http://www.example.com/quendal"], stamped)
    check(result.returncode == 0, "signing through the timestamp server works:\n" + result.stderr)
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", os.path.join(work, "tsa.pem"),
                               "-in", stamped], capture_output=True, text=True)
    check(verified.returncode == 0 and "Timestamp Server Signature verification: ok" in verified.stdout,
          "the timestamp verifies:\n" + verified.stdout + verified.stderr)
    # The server's time, not the fixed signing time of a build without one.
    check("Signing time: Nov 14 22:13:20 2023" not in verified.stdout, "a timestamped signature has no fixed time")
    server.shutdown()
    server.server_close()

    # The server gone: no signature, and no file that looks finished.
    result = sign_step([f"cert={cert}", f"key={key}", f"timestamp_url={url}"], stamped)
    check(result.returncode != 0 and not os.path.exists(stamped),
          "signing fails without the timestamp server and leaves no file")


# A key in a hardware token: a software token (SoftHSM) holding the same key
# signs through osslsigncode's PKCS#11 engine, the PIN in the password file,
# and gives the same bytes as the key file does.
SOFTHSM_MODULES = ["/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"]
module = next((m for m in SOFTHSM_MODULES if os.path.exists(m)), None)
check(module is not None and shutil.which("softhsm2-util"), "SoftHSM is installed (make deps)")
if module:
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, SOFTHSM2_CONF=os.path.join(work, "softhsm2.conf"))
        os.makedirs(os.path.join(work, "tokens"))
        with open(env["SOFTHSM2_CONF"], "w") as f:
            f.write(f"directories.tokendir = {work}/tokens\nobjectstore.backend = file\n")
        hsm = lambda *args: subprocess.run(["softhsm2-util", *args], capture_output=True, text=True, env=env)
        check(hsm("--init-token", "--free", "--label", "quendal", "--pin", "1234", "--so-pin", "5678").returncode == 0,
              "a software token is made")
        pkcs8 = os.path.join(work, "key8.pem")
        subprocess.run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", key, "-out", pkcs8], check=True)
        check(hsm("--import", pkcs8, "--token", "quendal", "--label", "signing", "--id", "01",
                  "--pin", "1234").returncode == 0, "the key goes into the token")
        os.remove(pkcs8)
        pin, wrong_pin = os.path.join(work, "pin"), os.path.join(work, "wrong-pin")
        with open(pin, "w") as f:
            f.write("1234\n")
        with open(wrong_pin, "w") as f:
            f.write("9999\n")
        common = [f"cert={cert}", "signing_time=1700000000", "description=Korvane Quendal 5.18",
                  "url=http://www.example.com/quendal"]

        def token_sign(path, key_uri, pin_file, module_line=True):
            lines = common + [f"key={key_uri}", f"pass_file={pin_file}"]
            if module_line:
                lines.append(f"pkcs11_module={module}")
            config = path + ".conf"
            with open(config, "w") as f:
                f.write("".join(f"{line}\n" for line in lines))
            return subprocess.run([os.path.join(tools, "sign.sh"), config, path], capture_output=True, text=True,
                                  env=env)

        from_file, from_token = os.path.join(work, "file.exe"), os.path.join(work, "token.exe")
        shutil.copy(unsigned, from_file)
        shutil.copy(unsigned, from_token)
        check(sign_step(common + [f"key={key}"], from_file).returncode == 0, "signing with the key file")
        result = token_sign(from_token, "pkcs11:token=quendal;object=signing;type=private", pin)
        check(result.returncode == 0, "signing with the key in the token works:\n" + result.stderr)
        check(os.path.exists(from_token) and read(from_token) == read(from_file),
              "the token's signature is the key file's, byte for byte")
        check(subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", from_token],
                             capture_output=True).returncode == 0, "the token-signed file verifies")
        for what, uri, pin_file, module_line in [
                ("a wrong PIN", "pkcs11:token=quendal;object=signing;type=private", wrong_pin, True),
                ("a key the token does not hold", "pkcs11:token=quendal;object=other;type=private", pin, True),
                ("no module named", "pkcs11:token=quendal;object=signing;type=private", pin, False)]:
            path = os.path.join(work, "refused.exe")
            shutil.copy(unsigned, path)
            result = token_sign(path, uri, pin_file, module_line)
            check(result.returncode != 0 and not os.path.exists(path), f"{what} fails and leaves no file")

# A release verifies only when both installers and all they hold do: a
# broken signature in either one fails the whole check (and `make sign`).
with tempfile.TemporaryDirectory() as release:
    for build in ("win32", "win64"):
        os.makedirs(os.path.join(release, build))
        shutil.copy(installer, os.path.join(release, build, "QuendalInstaller.exe"))
    verify_release = lambda: subprocess.run([os.path.join(tools, "verify-release.sh"), release, ca],
                                            capture_output=True, text=True)
    result = verify_release()
    check(result.returncode == 0, "a release of good installers verifies:\n" + result.stdout)
    broken = os.path.join(release, "win64", "QuendalInstaller.exe")
    with open(broken, "r+b") as f:
        f.seek(0x1000)
        byte = f.read(1)
        f.seek(0x1000)
        f.write(bytes([byte[0] ^ 0xFF]))
    result = verify_release()
    check(result.returncode != 0 and "did NOT verify" in result.stdout,
          "a broken signature in the second installer fails the release:\n" + result.stdout)

# `make sign` refuses a release without a timestamp server unless told that is meant.
source = os.path.dirname(tools)
make = lambda *args: subprocess.run(["make", "--no-print-directory", "-C", source, "sign-preflight", *args],
                                    capture_output=True, text=True)
result = make(f"SIGN_CERT={cert}", f"SIGN_KEY={key}", "TIMESTAMP_URL=")
check(result.returncode != 0 and "no TIMESTAMP_URL" in result.stdout, "no timestamp server: refused\n" + result.stdout)
check(make(f"SIGN_CERT={cert}", f"SIGN_KEY={key}", "TIMESTAMP_URL=", "NO_TIMESTAMP=1").returncode == 0,
      "NO_TIMESTAMP=1: allowed")
check(make(f"SIGN_CERT={cert}", f"SIGN_KEY={key}", "TIMESTAMP_URL=http://timestamp.example.com").returncode == 0,
      "a timestamp server: allowed")

if failures:
    sys.exit(f"{failures} check(s) failed")
print("signatures: all checks passed")
