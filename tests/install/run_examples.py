"""Runs the examples of README.md as written: installs the build into a
temporary prefix, writes each code block to the file named above it, and
runs the shell blocks (except the first, which builds and installs) in a
folder that holds samples/boarding-pass.pgm and a link to the build."""
import argparse
import os
import re
import shutil
import subprocess
import sys

TEXT = "Install test 1"


def blocks(doc):
    """(file name or None, language, code) for every fenced block."""
    out = []
    pattern = re.compile(r"(?:`([\w.-]+)`:\s*\n\s*\n)?```(\w+)\n(.*?)```", re.S)
    for m in pattern.finditer(doc):
        out.append((m.group(1), m.group(2), m.group(3)))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--doc", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--make-frame", required=True)
    ap.add_argument("--sanitize-flags", default="")
    ap.add_argument("--with-python", action="store_true")
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(os.path.join(args.work, "samples"))
    prefix = os.path.join(args.work, "prefix")
    subprocess.run(["cmake", "--install", args.build, "--prefix", prefix], check=True, capture_output=True)
    frame = os.path.join(args.work, "samples", "boarding-pass.pgm")
    subprocess.run([args.make_frame, TEXT, frame], check=True)
    os.symlink(os.path.abspath(args.build), os.path.join(args.work, "build"))

    pc = [os.path.join(d, "pkgconfig") for d in (os.path.join(prefix, "lib"),)]
    pc += [os.path.join(root, "pkgconfig") for root, dirs, _ in os.walk(prefix) if "pkgconfig" in dirs]
    env = dict(os.environ)
    env["PKG_CONFIG_PATH"] = ":".join(pc)
    # The installed tools first, then the interpreter running this script
    # (the one with numpy and PIL).
    env["PATH"] = ":".join([os.path.join(prefix, "bin"), os.path.dirname(sys.executable), env["PATH"]])
    env["HOME"] = args.work
    # As the install block of the document exports.
    env["LD_LIBRARY_PATH"] = ":".join(os.path.dirname(d) for d in pc)

    doc = open(args.doc, encoding="utf-8").read()
    found = blocks(doc)
    shell = [code for name, lang, code in found if lang == "sh"]
    files = {name: code for name, lang, code in found if name}
    for name in ("example.cpp", "example.c", "example.py"):
        if name not in files:
            sys.exit("README.md has no %s" % name)
        with open(os.path.join(args.work, name), "w", encoding="utf-8") as f:
            f.write(files[name])

    expected = {
        "example.cpp": "Read: " + TEXT,
        "example-c ": TEXT,
        "example.py": "Read " + TEXT,
        "quarrow-read samples/boarding-pass.pgm": TEXT,
        "--json": '"text":"%s"' % TEXT,
    }
    failures = 0
    for code in shell[1:]:
        if "python3" in code and not args.with_python:
            print("skipped (no Python module in this build):", code.strip())
            continue
        if args.sanitize_flags:
            # An instrumented library needs instrumented programs.
            code = re.sub(r"\b(g\+\+|gcc) ", r"\1 %s " % args.sanitize_flags, code)
        run = subprocess.run(["bash", "-euo", "pipefail", "-c", code], cwd=args.work, env=env,
                             capture_output=True, text=True)
        wanted = [want for key, want in expected.items() if key in code]
        ok = run.returncode == 0 and all(w in run.stdout for w in wanted)
        print(("ok     " if ok else "FAILED ") + code.strip().replace("\n", " && "))
        if not ok:
            failures += 1
            print("  status %d, wanted %r\n  stdout: %s\n  stderr: %s" % (run.returncode, wanted, run.stdout, run.stderr))
    if not os.path.exists(os.path.join(args.work, "seen.png")):
        print("FAILED --debug-image wrote no seen.png")
        failures += 1
    if failures == 0:
        shutil.rmtree(args.work, ignore_errors=True)
    sys.exit(1 if failures else 0)


main()
