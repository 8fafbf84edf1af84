#!/usr/bin/env python3
"""Makes the helper programs of the process tests: one small waiting program
(fixtures/vzhelper.c), built for the target and left in three folders of OUT
as VzHelper.exe: corvane/ signed by the code-signing fixtures' "Corvane Test
Signer", other/ signed by a trusted signer without that word, unsigned/.
Windows programs are signed with osslsigncode, Linux programs get an appended
module signature from sign-file.

usage: make_process_fixtures.py OUT TRUST_FIXTURES SOURCE CC [SIGNFILE]
"""
import os
import shutil
import subprocess
import sys

out, trust, source, cc = sys.argv[1:5]
signfile = sys.argv[5] if len(sys.argv) > 5 else ""
windows = "mingw" in os.path.basename(cc)
shutil.rmtree(out, ignore_errors=True)
for folder in ("corvane", "other", "unsigned"):
    os.makedirs(os.path.join(out, folder))


def run(*args):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(args), done.stdout.decode(errors="replace")))


def program(folder):
    return os.path.join(out, folder, "VzHelper.exe")


if windows:
    # 32-bit C symbols carry a leading underscore.
    entry = "_vzhelper_main" if "i686" in os.path.basename(cc) else "vzhelper_main"
    run(cc, "-nostdlib", "-s", "-Wl,--entry=" + entry, "-o", program("unsigned"), source,
        "-lkernel32")
else:
    run(cc, "-O1", "-o", program("unsigned"), source)

for folder, cert in (("corvane", "signer"), ("other", "orgonly")):
    pem, key = os.path.join(trust, cert + ".pem"), os.path.join(trust, cert + ".key")
    if windows:
        run("osslsigncode", "sign", "-certs", pem, "-key", key, "-h", "sha256",
            "-in", program("unsigned"), "-out", program(folder))
    else:
        shutil.copy(program("unsigned"), program(folder))
        run(signfile, "sha256", key, pem, program(folder))
        os.chmod(program(folder), 0o755)  # sign-file writes the program anew, not executable
