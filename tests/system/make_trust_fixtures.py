#!/usr/bin/env python3
"""Makes the code-signing fixtures of the trust tests: a test CA and its
certificates (openssl), small PE programs (the mingw compilers) signed with
osslsigncode, tampered copies, and on Linux an ELF program signed with the
kernel's sign-file.

usage: make_trust_fixtures.py OUT STUB CC64 CC32 [HOSTCC SIGNFILE]
With VIDOZIR_TRUST_BIG_MB set, also big.exe: a signed program carrying that
many MB of data after its sections (for bench/trust).
"""
import base64
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import threading

out, stub, cc64, cc32 = sys.argv[1:5]
hostcc = sys.argv[5] if len(sys.argv) > 5 else ""
signfile = sys.argv[6] if len(sys.argv) > 6 else ""
work = os.path.join(out, "work")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(work)


def run(*args):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=work)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(args), done.stdout.decode(errors="replace")))


def path(name):
    return os.path.join(out, name)


# ---- certificates: one CA database, dates and serials chosen per certificate
EXTENSIONS = """
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[server]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
[tsa]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
"""
CONFIG = """
[ca]
default_ca = test
[test]
dir = {work}
database = {work}/index.txt
new_certs_dir = {work}
serial = {work}/serial
default_md = sha256
policy = anything
unique_subject = no
email_in_dn = no
[anything]
commonName = optional
organizationName = optional
organizationalUnitName = optional
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
"""
with open(os.path.join(work, "ext.cnf"), "w") as f:
    f.write(EXTENSIONS)
with open(os.path.join(work, "ca.cnf"), "w") as f:
    f.write(CONFIG.format(work=work))
open(os.path.join(work, "index.txt"), "w").close()


def certificate(name, subject, issuer, ext, serial, start="20200101000000Z", end="20391231235959Z"):
    """Key name.key and certificate name.pem; issuer None for self-signed."""
    key = path(name + ".key")
    run("openssl", "genrsa", "-out", key, "2048")
    run("openssl", "req", "-new", "-key", key, "-subj", subject, "-config", "ca.cnf", "-out", name + ".csr")
    with open(os.path.join(work, "serial"), "w") as f:
        f.write(serial + "\n")
    signer = ["-selfsign", "-keyfile", key] if issuer is None else \
        ["-cert", path(issuer + ".pem"), "-keyfile", path(issuer + ".key")]
    run("openssl", "ca", "-batch", "-notext", "-config", "ca.cnf", "-extfile", "ext.cnf", "-extensions", ext,
        "-startdate", start, "-enddate", end, "-in", name + ".csr", "-out", path(name + ".pem"), *signer)


certificate("ca", "/CN=Vidozir Test Root/O=Vidozir", None, "ca", "01")
certificate("signer", "/CN=Corvane Test Signer/O=Corvane", "ca", "code", "030201")
certificate("nousage", "/CN=Vidozir Server Only", "ca", "server", "10")
certificate("expired", "/CN=Vidozir Expired Signer", "ca", "code", "11",
            "20200101000000Z", "20201231235959Z")
certificate("distrusted", "/CN=Vidozir Distrusted Signer", "ca", "code", "12")
certificate("orgonly", "/O=Vidozir Org Only/OU=Vidozir Builds", "ca", "code", "13")
certificate("tsa", "/CN=Vidozir Test TSA", "ca", "tsa", "14", "20190101000000Z")
certificate("rogue", "/CN=Vidozir Untrusted Root", None, "ca", "20")
certificate("rogueleaf", "/CN=Vidozir Untrusted Signer", "rogue", "code", "21")
certificate("roguetsa", "/CN=Vidozir Untrusted TSA", "rogue", "tsa", "22", "20190101000000Z")


def cat(target, *names):
    with open(path(target), "w") as f:
        for name in names:
            with open(path(name)) as g:
                f.write(g.read())


cat("rogueleaf-chain.pem", "rogueleaf.pem", "rogue.pem")
# Self-signed anchors; the signer is also known there, as a module signature
# carries no certificate.
cat("anchors.pem", "ca.pem", "signer.pem")
cat("disallowed.pem", "distrusted.pem")

# ---- programs
run(cc64, "-nostdlib", "-s", "-Wl,--entry=vidozir_fixture", "-o", path("unsigned.exe"), stub)
run(cc32, "-nostdlib", "-s", "-Wl,--entry=_vidozir_fixture", "-o", path("unsigned32.exe"), stub)
with open(path("text.txt"), "w") as f:
    f.write("Not a program, just text.\n")

SIGNED_AT = "1700000000"  # 2023-11-14, inside every validity but the expired one's
EXPIRED_AT = "1600000000"  # 2020-09-13, inside the expired certificate's validity


def sign(target, cert, key, source="unsigned.exe", digest="sha256", name=None, url=None, stamp=None, when=None,
         tsa="tsa"):
    args = ["osslsigncode", "sign", "-certs", path(cert), "-key", path(key), "-h", digest]
    if name:
        args += ["-n", name]
    if url:
        args += ["-i", url]
    if stamp:
        args += ["-TSA-certs", path(tsa + ".pem"), "-TSA-key", path(tsa + ".key"), "-TSA-time", stamp]
    if when:
        args += ["-time", when]
    run(*args, "-in", path(source), "-out", path(target))


URL = "https://example.invalid/vidozir"
sign("signed.exe", "signer.pem", "signer.key", name="Vidozir Fixture", url=URL)
sign("signed_sha1_32.exe", "signer.pem", "signer.key", source="unsigned32.exe", digest="sha1",
     name="Vidozir Fixture 32")
sign("signed_ts.exe", "signer.pem", "signer.key", name="Vidozir Stamped", stamp=SIGNED_AT)
sign("signed_plain.exe", "signer.pem", "signer.key")
sign("nousage.exe", "nousage.pem", "nousage.key")
sign("untrusted.exe", "rogueleaf-chain.pem", "rogueleaf.key")
sign("distrusted.exe", "distrusted.pem", "distrusted.key")
sign("orgonly.exe", "orgonly.pem", "orgonly.key")
sign("expired.exe", "expired.pem", "expired.key", when=EXPIRED_AT)
# A time stamp from an authority under an untrusted root.
sign("badstamp.exe", "signer.pem", "signer.key", stamp=SIGNED_AT, tsa="roguetsa")
sign("expired_ts.exe", "expired.pem", "expired.key", stamp=EXPIRED_AT, when=EXPIRED_AT)


# ---- old-style Authenticode time stamps: osslsigncode's -t asks a time-stamp
# server over HTTP, which answers with a PKCS #7 SignedData whose signer
# becomes the signature's PKCS #9 counter-signature. No offline tool makes
# one, so a small server here signs, in DER written by hand, with openssl.
def tlv(tag, content):
    size = len(content)
    if size < 0x80:
        return bytes([tag, size]) + content
    octets = size.to_bytes((size.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(octets)]) + octets + content


def seq(*items):
    return tlv(0x30, b"".join(items))


def set_of(*items):
    return tlv(0x31, b"".join(sorted(items)))  # DER orders a SET OF


def oid(text):
    numbers = [int(n) for n in text.split(".")]
    body = bytes([40 * numbers[0] + numbers[1]])
    for n in numbers[2:]:
        groups = [n & 0x7F]
        while n > 0x7F:
            n >>= 7
            groups.append(0x80 | (n & 0x7F))
        body += bytes(reversed(groups))
    return tlv(0x06, body)


def elements(der):
    """The elements of one level of DER, as (tag, whole element, content)."""
    found, at = [], 0
    while at < len(der):
        size, head = der[at + 1], 2
        if size & 0x80:
            head += size & 0x7F
            size = int.from_bytes(der[at + 2:at + head], "big")
        found.append((der[at], der[at:at + head + size], der[at + head:at + head + size]))
        at += head + size
    return found


def first_octets(der):
    """The first OCTET STRING's content, depth first: the request's blob."""
    for tag, _, content in elements(der):
        found = content if tag == 0x04 else first_octets(content) if tag & 0x20 else None
        if found is not None:
            return found
    return None


SHA256 = seq(oid("2.16.840.1.101.3.4.2.1"), b"\x05\x00")
DATA = oid("1.2.840.113549.1.7.1")


def counter_signature(blob, tsa, when, digested):
    """A SignedData of `blob` by the authority `tsa`, at `when` (UTCTime),
    whose messageDigest is the hash of `digested`."""
    text = open(path(tsa + ".pem")).read().split("-----")[2]
    cert = base64.b64decode(text)
    tbs = elements(elements(elements(cert)[0][2])[0][2])
    issuer_and_serial = seq(tbs[3][1], tbs[1][1])
    attributes = set_of(seq(oid("1.2.840.113549.1.9.3"), set_of(DATA)),
                        seq(oid("1.2.840.113549.1.9.5"), set_of(tlv(0x17, when.encode()))),
                        seq(oid("1.2.840.113549.1.9.4"), set_of(tlv(0x04, hashlib.sha256(digested).digest()))))
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", path(tsa + ".key")], input=attributes,
                               stdout=subprocess.PIPE, check=True).stdout
    signer = seq(tlv(0x02, b"\x01"), issuer_and_serial, SHA256, b"\xa0" + attributes[1:],
                 seq(oid("1.2.840.113549.1.1.1"), b"\x05\x00"), tlv(0x04, signature))
    signed = seq(tlv(0x02, b"\x01"), set_of(SHA256), seq(DATA, tlv(0xA0, tlv(0x04, blob))), tlv(0xA0, cert),
                 set_of(signer))
    return seq(oid("1.2.840.113549.1.7.2"), tlv(0xA0, signed))


LEGACY_AT = "200913122640Z"  # EXPIRED_AT as UTCTime
STAMPERS = {  # URL path: authority, and what its messageDigest covers
    "/good": ("tsa", lambda blob: blob),
    "/other": ("tsa", lambda blob: blob + b"another signature"),
    "/rogue": ("roguetsa", lambda blob: blob),
}


class Stamper(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        request = base64.b64decode(self.rfile.read(int(self.headers["Content-Length"])))
        blob = first_octets(request)
        tsa, digested = STAMPERS[self.path]
        reply = base64.b64encode(counter_signature(blob, tsa, LEGACY_AT, digested(blob)))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Stamper)
threading.Thread(target=server.serve_forever, daemon=True).start()
for name, stamper in (("expired_legacy_ts.exe", "/good"), ("legacy_other_digest.exe", "/other"),
                      ("legacy_rogue_ts.exe", "/rogue")):
    run("osslsigncode", "sign", "-certs", path("expired.pem"), "-key", path("expired.key"), "-h", "sha256",
        "-time", EXPIRED_AT, "-t", "http://127.0.0.1:%d%s" % (server.server_address[1], stamper),
        "-in", path("unsigned.exe"), "-out", path(name))
server.shutdown()


def le32(data, at):
    return int.from_bytes(data[at:at + 4], "little")


def tamper(source, target, offset_of):
    data = bytearray(open(path(source), "rb").read())
    data[offset_of(data)] ^= 0x01
    open(path(target), "wb").write(bytes(data))


def first_section(data):
    pe = le32(data, 0x3C)
    optional_size = int.from_bytes(data[pe + 20:pe + 22], "little")
    section = pe + 24 + optional_size
    return le32(data, section + 20)  # PointerToRawData of the first section


def security_entry(data):
    pe = le32(data, 0x3C)
    magic = int.from_bytes(data[pe + 24:pe + 26], "little")
    return pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8


def signature_value(data):
    """A byte inside the signer's signature value: the last element of a
    SignerInfo without unsigned attributes, so the end of the PKCS #7."""
    table = le32(data, security_entry(data))
    der = table + 8
    assert data[der] == 0x30 and data[der + 1] == 0x82
    length = int.from_bytes(data[der + 2:der + 4], "big")
    return der + 4 + length - 16


big = int(os.environ.get("VIDOZIR_TRUST_BIG_MB", "0"))
if big > 0:
    with open(path("big_unsigned.exe"), "wb") as f:
        f.write(open(path("unsigned.exe"), "rb").read())
        f.write(os.urandom(big << 20))
    sign("big.exe", "signer.pem", "signer.key", source="big_unsigned.exe")
    os.remove(path("big_unsigned.exe"))

tamper("signed.exe", "tampered_code.exe", first_section)
tamper("signed.exe", "tampered_signature.exe", signature_value)
# The certificate table's size reaching past the end of the file (bit 16).
tamper("signed.exe", "damaged_table.exe", lambda data: security_entry(data) + 6)
# The PKCS #7 no longer starts with a SEQUENCE.
tamper("signed.exe", "garbled_signature.exe", lambda data: le32(data, security_entry(data)) + 8)

# ---- Linux programs with an appended module signature
if hostcc and signfile:
    run(hostcc, "-O1", "-o", path("program.elf"), stub.replace("stub.c", "program.c"))
    shutil.copy(path("program.elf"), path("signed.elf"))
    run(signfile, "sha256", path("signer.key"), path("signer.pem"), path("signed.elf"))
    tamper("signed.elf", "tampered.elf", lambda data: len(data) // 4)
