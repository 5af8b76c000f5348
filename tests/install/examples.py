"""examples.py LUMBRA LUMBRA_KIT SOURCE [MODULE_DIR]: runs every example the
documentation shows and compares what it prints.

  - README.md and docs/*.md: in each code block, a line `$ COMMAND` is run
    (in one scratch folder per page, in order, with stderr joined to
    stdout) and what follows up to the next `$` line is its output. The
    bytes 0x1F, 0x1E and 0xFA of `showFile` are compared as the console
    shows them (▼, ▲, ·). A file a page shows with `$ cat FILE` is made
    from what it shows. Examples on random data (random.bin, big.bin, an
    executable, a generator) run but their output is not compared; those
    that need other machines (--sshlogin) do not run.
  - `>>>` examples (the Python module, when MODULE_DIR is given) run as
    doctests.
  - `lumbra-kit help COMMAND` for every command: each line under EXAMPLES
    runs and must succeed (status 0; 3 for a verdict is a success too).
"""
import doctest
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

lumbra, kit, source = sys.argv[1:4]
module_dir = sys.argv[4] if len(sys.argv) > 4 else None
source = pathlib.Path(source)
RANDOM = re.compile(r"random|urandom|big\.bin|\bprog\b|generator|slices")
ELSEWHERE = re.compile(r"--sshlogin")
failures = []


def scratch(empty=False):
    work = pathlib.Path(tempfile.mkdtemp())
    (work / "bin").mkdir()
    os.symlink(lumbra, work / "bin" / "lumbra")
    os.symlink(kit, work / "bin" / "lumbra-kit")
    if empty:
        return work
    (work / "d0.bin").write_bytes(b"\xd0")
    (work / "hello.txt").write_bytes(b"Hello, world!\n")
    (work / "random.bin").write_bytes(os.urandom(1 << 20))
    (work / "big.bin").write_bytes(os.urandom(300000))
    shutil.copy(shutil.which("ls") or kit, work / "prog")
    # The samples that `help smirnov` names: numbers one a line, and columns.
    import random
    rng = random.Random(25)
    for name in ("before.txt", "after.txt", "a.txt", "b.txt", "reference.txt"):
        (work / name).write_text("".join(f"{rng.gauss(0, 1):.6f}\n" for _ in range(50)))
    (work / "a.tsv").write_text("id\tscore\n" + "".join(f"{i}\t{rng.gauss(0, 1):.6f}\n" for i in range(50)))
    (work / "runs.tsv").write_text("".join(f"{i}\t{rng.random():.6f}\n" for i in range(50)))
    for name in ("trial-a.csv", "trial-b.csv"):
        (work / name).write_text("".join(f"{i},{i % 3},{rng.random():.6f}\n" for i in range(50)))
    (work / "bin" / "generator").write_text("#!/bin/sh\nexec head -c 200000 /dev/urandom\n")
    (work / "bin" / "generator").chmod(0o755)
    return work


def run(command, work):
    env = dict(os.environ, PATH=f"{work / 'bin'}:{os.environ['PATH']}")
    p = subprocess.run(["bash", "-c", command], cwd=work, env=env, capture_output=True, timeout=600)
    out = p.stdout + p.stderr
    for raw, shown in ((b"\x1f", "▼"), (b"\x1e", "▲"), (b"\xfa", "·")):
        out = out.replace(raw, shown.encode())
    return p.returncode, out.decode("utf-8", "replace")


def code_blocks(text):
    """The code blocks of a markdown page: fenced, or indented by four."""
    blocks, current, fenced = [], None, False
    for line in text.split("\n"):
        if line.startswith("```"):
            if fenced:
                blocks.append(current)
                current = None
            else:
                current = []
            fenced = not fenced
        elif fenced:
            current.append(line)
        elif line.startswith("    ") or (current is not None and line == ""):
            current = current if current is not None else []
            current.append(line[4:])
        elif current is not None:
            blocks.append(current)
            current = None
    if current:
        blocks.append(current)
    return blocks


def shell_examples(page):
    """(command, expected output) for every `$` line of a page."""
    examples = []
    for block in code_blocks(page.read_text()):
        i = 0
        while i < len(block):
            if not block[i].startswith("$ "):
                i += 1
                continue
            command = block[i][2:]
            i += 1
            while command.rstrip().endswith(("|", "\\")) and i < len(block):
                command += "\n" + block[i]
                i += 1
            expected = []
            while i < len(block) and not block[i].startswith("$ "):
                expected.append(block[i])
                i += 1
            examples.append((command, "\n".join(expected).strip("\n")))
    return examples


pages = [source / "README.md"] + sorted((source / "docs").glob("*.md"))
shown = 0
for page in pages:
    work = scratch(empty=page.name == "README.md")
    for command, expected in shell_examples(page):
        if ELSEWHERE.search(command):
            continue
        # A page shows its input files with `cat FILE`: those are made here.
        shown_file = re.fullmatch(r"cat ([\w.-]+)", command.strip())
        if shown_file and not (work / shown_file.group(1)).exists():
            (work / shown_file.group(1)).write_text(expected + "\n")
        status, out = run(command, work)
        shown += 1
        if RANDOM.search(command):
            if status >= 128 and status != 141:
                failures.append(f"{page.name}: `{command}` ended with status {status}")
        elif out.strip("\n") != expected:
            failures.append(f"{page.name}: `{command}` printed\n{out}\ninstead of\n{expected}\n")
    if module_dir:
        text = page.read_text()
        if ">>> " in text:
            sys.path.insert(0, module_dir)
            test = doctest.DocTestParser().get_doctest(text, {}, page.name, str(page), 0)
            runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
            cwd = os.getcwd()
            os.chdir(work)
            try:
                result = runner.run(test, out=lambda s: failures.append(f"{page.name}:\n{s}"))
            finally:
                os.chdir(cwd)
            shown += result.attempted
    shutil.rmtree(work)

work = scratch()
listing = run("lumbra-kit --help", work)[1]
commands = re.findall(r"^  ([a-z]+)  ", listing.split("Subcommands:", 1)[1], re.M)
for name in commands:
    help_text = run(f"lumbra-kit help {name}", work)[1]
    if "\nEXAMPLES\n" not in help_text:
        failures.append(f"lumbra-kit help {name} has no EXAMPLES")
        continue
    lines = help_text.split("\nEXAMPLES\n", 1)[1].split("\n")
    examples, current = [], ""
    for line in lines:
        if not line.startswith("  "):
            break
        current += line.strip() if not current else "\n" + line
        if not current.endswith("\\"):
            examples.append(current)
            current = ""
    for command in examples:
        status, out = run(command, work)
        shown += 1
        if status not in (0, 3):
            failures.append(f"help {name}: `{command}` ended with status {status}:\n{out}")
shutil.rmtree(work)

print(f"{shown} examples run")
for f in failures:
    print(f)
sys.exit(1 if failures or shown < 30 else 0)
