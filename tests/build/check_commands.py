#!/usr/bin/env python3
"""Fails when a test, script or build step calls a program that scripts/deps does not
provide.

usage: check_commands.py REPO            check the repository
       check_commands.py --self-test     check that the scanners find what they must

Programs are found in shell scripts (words in command position), Python (subprocess calls
and os.system/os.popen whose command is a literal), C++ (literal command lines given to
system/popen/exec*, and literals that read as command lines: a word, then options) and
CMake (COMMAND with a bare program name that is not a target). Programs given by path or
by a variable (built tools, the compilers CMake found) are not looked at.

scripts/deps lists every program with the Debian package that provides it ("command
table"). A program passes when the table names it and its package is one that scripts/deps
installs in that program's group, or one that every Debian system has (priority
"required"). When the package is installed, it must really hold the program.
"""
import ast
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Where the repository calls programs, and which group of the table each may use: the
# benchmarks' comparison tools are installed only on request (scripts/deps --bench).
SCANNED = {"tests": "core", "scripts": "core", "demo": "core", "cmake": "core",
           ".ci": "core", "bench": "bench"}
GROUP_USES = {"core": {"core"}, "bench": {"core", "bench"}}

SHELL_BUILTINS = set("""
. : [ [[ ]] alias bg break builtin caller cd command compgen complete continue declare
dirs disown echo enable eval exec exit export false fc fg getopts hash help history jobs
kill let local logout mapfile popd printf pushd pwd read readarray readonly return set
shift shopt source suspend test times trap true type typeset ulimit umask unalias unset
wait if then else elif fi case esac for select while until do done in function time
""".split())
# Wrappers whose first operand is the program they run (options that take a value listed).
WRAPPERS = {"exec": set(), "time": set(), "nice": {"-n"}, "env": {"-u"},
            "xvfb-run": {"-s", "-n", "-f", "-e", "-p", "-w"}, "timeout": {"-s", "-k"}}


# --- Shell ---------------------------------------------------------------------------
def shell_tokens(text):
    """Words and operators of a shell script. Quoted text is one opaque word, except that
    command substitutions inside double quotes are scanned (yielded as their own tokens
    between '$(' and ')')."""
    i, n = 0, len(text)
    word = ""
    heredocs = []

    def flush():
        nonlocal word
        if word:
            out.append(word)
            word = ""

    out = []
    while i < n:
        c = text[i]
        if c == "\\" and i + 1 < n:
            word += text[i:i + 2] if text[i + 1] != "\n" else ""
            i += 2
        elif c == "'":
            j = text.index("'", i + 1)
            word += text[i:j + 1] or "''"
            i = j + 1
        elif c == '"':
            j = i + 1
            inner = []
            while text[j] != '"':
                if text[j] == "\\":
                    j += 2
                elif text.startswith("$(", j) and not text.startswith("$((", j):
                    k = closing_paren(text, j + 2)
                    inner.append(text[j + 2:k])
                    j = k + 1
                else:
                    j += 1
            word += text[i:j + 1]
            for sub in inner:
                flush()
                out.append("$(")
                out.extend(shell_tokens(sub))
                out.append("$)")
            i = j + 1
        elif c == "#" and not word:
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("$((", i):
            k = text.index("))", i)
            word += text[i:k + 2]
            i = k + 2
        elif text.startswith("$(", i):
            k = closing_paren(text, i + 2)
            flush()
            out.append("$(")
            out.extend(shell_tokens(text[i + 2:k]))
            out.append("$)")
            i = k + 1
        elif text.startswith("${", i):
            k = text.index("}", i)
            word += text[i:k + 1]
            i = k + 1
        elif c == "(" and word.endswith("="):  # array assignment: its words are data
            k = closing_paren(text, i + 1)
            word += text[i:k + 1]
            i = k + 1
        elif c in " \t":
            flush()
            i += 1
        elif c == "\n":
            flush()
            out.append("\n")
            i += 1
            for terminator in heredocs:  # skip here-document bodies
                end = re.compile(r"^\t*" + re.escape(terminator) + r"$", re.M).search(text, i)
                i = end.end() if end else n
            heredocs = []
        elif text.startswith("<<<", i):
            flush()
            out.append("<<<")
            i += 3
        elif text.startswith("<<", i):
            m = re.compile(r"<<-?\s*['\"]?(\w+)['\"]?").match(text, i)
            heredocs.append(m.group(1))
            flush()
            i = m.end()
        elif c in "|&;()<>{}":
            if c in "<>" and re.fullmatch(r"\d*", word):  # 2>&1, 9>file
                word = ""
            flush()
            op = text[i:i + 2] if text[i:i + 2] in ("||", "&&", ";;", ">>", ">&", "&>") else c
            out.append(op)
            i += len(op)
        else:
            word += c
            i += 1
    flush()
    return out


def closing_paren(text, i):
    depth = 1
    while depth:
        c = text[i]
        if c == "\\":
            i += 1
        elif c == "'":
            i = text.index("'", i + 1)
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
        i += 1
    return i - 1


def shell_commands(text):
    """(program, token index) for every program a shell script runs by name."""
    tokens = shell_tokens(text)
    functions = {tokens[i] for i in range(len(tokens) - 2)
                 if tokens[i + 1] == "(" and tokens[i + 2] == ")"}
    found = []
    command_position = True
    redirect = False
    in_case = None  # None, "word", "in", "pattern"
    wrapper, wrapper_value = None, False
    skip_to_separator = False
    saved = []  # the state around each command substitution
    for tok in tokens:
        if tok == "$(":
            saved.append((command_position, redirect, in_case, wrapper, wrapper_value,
                          skip_to_separator))
            command_position, redirect, in_case, wrapper, skip_to_separator = (
                True, False, None, None, False)
            continue
        if tok == "$)":
            (command_position, redirect, in_case, wrapper, wrapper_value,
             skip_to_separator) = saved.pop()
            redirect = False  # the substitution was the redirection's target
            continue
        if tok in ("\n", ";", "&", "|", "||", "&&", "(", "{", "}", ")", ";;", "!"):
            if tok == ";;" and in_case:
                in_case = "pattern"
            elif tok == ")" and in_case == "pattern":
                in_case = "in"
            elif tok == "\n" and in_case == "word":
                in_case = "pattern"
            command_position = in_case != "pattern"
            skip_to_separator = False
            wrapper = None
            redirect = False
            continue
        if tok in ("<", ">", ">>", ">&", "&>", "<<<"):
            redirect = True
            continue
        if redirect:
            redirect = False
            continue
        if in_case == "word":
            if tok == "in":
                in_case = "pattern"
            continue
        if in_case == "pattern":
            if tok == "esac":
                in_case = None
                command_position = True
            continue
        if skip_to_separator or not command_position:
            continue
        if wrapper is not None:
            if wrapper_value:
                wrapper_value = False
                continue
            if tok.startswith("-"):
                wrapper_value = tok in WRAPPERS[wrapper]
                continue
        if re.match(r"^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=", tok):
            continue  # an assignment before the command (or alone)
        if tok in ("then", "do", "else", "elif", "if", "while", "until", "time", "!"):
            continue
        if tok in ("for", "select"):
            skip_to_separator = True
            continue
        if tok == "case":
            in_case = "word"
            continue
        if tok == "esac":
            in_case = None
            continue
        if tok in ("fi", "done", "function"):
            continue
        name = tok
        if name in WRAPPERS:
            found.append(name) if name not in SHELL_BUILTINS else None
            wrapper, wrapper_value = name, False
            continue
        command_position = False
        wrapper = None
        if name == "command":  # `command -v X` looks a program up; it does not run it
            skip_to_separator = True
            continue
        if (name in SHELL_BUILTINS or name in functions or "$" in name or "/" in name
                or name.startswith(("'", '"', "-"))):
            continue
        found.append(name)
    return found


# --- Python --------------------------------------------------------------------------
def python_commands(text):
    """Programs run through subprocess, os.system or os.popen, directly or through a
    function of the file that hands its first parameter to one of them (run(cmd), timed(cmd)),
    when the command is a literal or a name assigned a literal list in the file."""
    tree = ast.parse(text)
    lists = {}
    for node in ast.walk(tree):
        if isinstance(node, ast.Assign) and isinstance(node.value, (ast.List, ast.Tuple)):
            for target in node.targets:
                if isinstance(target, ast.Name):
                    lists.setdefault(target.id, []).append(node.value)

    def runs(call):
        func = call.func
        name = func.attr if isinstance(func, ast.Attribute) else getattr(func, "id", "")
        owner = getattr(func.value, "id", "") if isinstance(func, ast.Attribute) else ""
        return owner == "subprocess" or (owner == "os" and name in ("system", "popen")) or \
            name in ("Popen", "check_call", "check_output")

    wrappers = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.FunctionDef) and node.args.args:
            first = node.args.args[0].arg
            for call in ast.walk(node):
                if (isinstance(call, ast.Call) and runs(call) and call.args and
                        isinstance(call.args[0], ast.Name) and call.args[0].id == first):
                    wrappers.add(node.name)

    found = []
    for node in ast.walk(tree):
        if not isinstance(node, ast.Call) or not node.args:
            continue
        name = getattr(node.func, "id", None)
        if not runs(node) and name not in wrappers:
            continue
        commands = [node.args[0]]
        if isinstance(commands[0], ast.Name):
            commands = lists.get(commands[0].id, [])
        for command in commands:
            if isinstance(command, (ast.List, ast.Tuple)):
                if command.elts and isinstance(command.elts[0], ast.Constant) and \
                        isinstance(command.elts[0].value, str):
                    found.append(command.elts[0].value)
            elif isinstance(command, ast.Constant) and isinstance(command.value, str):
                found.extend(command_line_programs(command.value))
    return found


def command_line_programs(line):
    """Programs a command line (as given to sh -c) runs by name."""
    return [p for p in shell_commands(line)]


# --- C++ -----------------------------------------------------------------------------
CPP_STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
CPP_RUNS = re.compile(r"\b(?:system|popen|_popen|execlp|execvp|execl|execv)\s*\(\s*\"((?:[^\"\\\n]|\\.)*)\"")
# A literal that reads as a command line: a program name, then an option.
COMMAND_LINE = re.compile(r"^([a-z][a-z0-9_.+-]*)\s+-{1,2}[A-Za-z]")


def cpp_commands(text):
    found = []
    for m in CPP_RUNS.finditer(text):
        found.extend(command_line_programs(m.group(1).replace('\\"', '"')))
    if re.search(r"\b(system|popen|_popen|exec[lv]p?)\s*\(", text):
        for m in CPP_STRING.finditer(text):
            literal = m.group(1)
            head = COMMAND_LINE.match(literal)
            if head:
                found.append(head.group(1))
    return found


# --- CMake ---------------------------------------------------------------------------
def cmake_commands(text, targets):
    found = []
    for m in re.finditer(r"\bCOMMAND\s+([^\s)$\"]+)", text):
        name = m.group(1)
        if "::" in name or "/" in name or name in targets:
            continue
        found.append(name)
    return found


def cmake_targets(repo):
    targets = set()
    for root, dirs, files in os.walk(repo):
        dirs[:] = [d for d in dirs if d not in ("build", ".git")]
        for f in files:
            if f == "CMakeLists.txt" or f.endswith(".cmake"):
                text = open(os.path.join(root, f), encoding="utf-8", errors="replace").read()
                targets.update(re.findall(r"\badd_(?:executable|library|custom_target)\(\s*(\w+)",
                                          text))
                targets.update(re.findall(r"\bNAME\s+(\w+)", text))  # vard_add_gtest(NAME x)
    return targets


# --- The repository ------------------------------------------------------------------
def kind_of(path):
    base = os.path.basename(path)
    if base.endswith(".py"):
        return "python"
    if base.endswith((".cpp", ".cc", ".h", ".hpp")):
        return "cpp"
    if base == "CMakeLists.txt" or base.endswith(".cmake"):
        return "cmake"
    if base.endswith(".sh"):
        return "shell"
    try:
        with open(path, "rb") as f:
            first = f.readline()
    except OSError:
        return None
    if first.startswith(b"#!") and re.search(rb"\b(ba|da)?sh\b", first):
        return "shell"
    if first.startswith(b"#!") and b"python" in first:
        return "python"
    return None


def scan(repo):
    """{program: [(relative file, group)]} for every program the repository calls."""
    targets = cmake_targets(repo)
    calls = {}
    for top, group in SCANNED.items():
        for root, dirs, files in os.walk(os.path.join(repo, top)):
            dirs[:] = [d for d in dirs if d not in ("build", "corpus", "__pycache__")]
            for f in sorted(files):
                path = os.path.join(root, f)
                kind = kind_of(path)
                if kind is None:
                    continue
                text = open(path, encoding="utf-8", errors="replace").read()
                if kind == "shell":
                    programs = shell_commands(text)
                elif kind == "python":
                    programs = python_commands(text)
                elif kind == "cpp":
                    programs = cpp_commands(text)
                else:
                    programs = cmake_commands(text, targets)
                for p in programs:
                    calls.setdefault(p, []).append((os.path.relpath(path, repo), group))
    return calls


def read_deps(repo):
    """The command table ({program: (group, package)}) and the packages scripts/deps
    installs per group, read from the script itself."""
    text = open(os.path.join(repo, "scripts", "deps"), encoding="utf-8").read()
    table_text = re.search(r"^command_table='\n(.*?)^'", text, re.M | re.S).group(1)
    table = {}
    for line in table_text.splitlines():
        fields = line.split("#")[0].split()
        if fields:
            group, package, programs = fields[0], fields[1], fields[2:]
            for p in programs:
                table[p] = (group, package)
    installs = {}
    for group, var in (("core", "packages"), ("bench", "bench_packages")):
        m = re.search(r"^%s=\((.*?)\)" % var, text, re.M | re.S)
        installs[group] = set(re.sub(r"#.*", "", m.group(1)).split()) if m else set()
    return table, installs


def dpkg(*args):
    r = subprocess.run(["dpkg-query"] + list(args), capture_output=True, text=True)
    return r.stdout if r.returncode == 0 else None


def holds(listing, program):
    """Whether a package's file list holds the program: as a file of a bin folder, or as
    one of the files that the program's name leads to through symbolic links (Debian's
    alternatives: /usr/bin/wine -> /etc/alternatives/wine -> /usr/bin/wine-stable)."""
    files = set(listing.splitlines())
    if any(f.endswith(("/bin/" + program, "/sbin/" + program)) for f in files):
        return True
    starts = ["/usr/bin/" + program, "/bin/" + program, shutil.which(program) or ""]
    for path in starts:
        for _ in range(8):
            if not os.path.islink(path):
                break
            path = os.path.normpath(os.path.join(os.path.dirname(path), os.readlink(path)))
            if path in files:
                return True
    return False


def check(repo, say=print):
    calls = scan(repo)
    table, installs = read_deps(repo)
    problems = []
    for program, where in sorted(calls.items()):
        places = ", ".join(sorted({w for w, _ in where}))
        if program not in table:
            problems.append("%s (called in %s) is not in scripts/deps' command table"
                            % (program, places))
            continue
        group, package = table[program]
        for path, caller_group in sorted(set(where)):
            if group not in GROUP_USES[caller_group]:
                problems.append("%s is a %s program; %s may only use %s ones"
                                % (program, group, path, ", ".join(GROUP_USES[caller_group])))
        if package not in installs.get(group, set()):
            priority = dpkg("-W", "-f=${Priority}", package)
            if priority != "required":
                problems.append("%s: its package %s is neither installed by scripts/deps "
                                "(group %s) nor on every Debian system" % (program, package, group))
        listing = dpkg("-L", package)
        if listing is None and group == "core":
            problems.append("%s: its package %s is not installed (run scripts/deps)"
                            % (program, package))
        elif listing is not None and not holds(listing, program):
            problems.append("%s: the installed package %s has no such program"
                            % (program, package))
    for p in problems:
        say("FAIL " + p)
    say("%d programs called, %d problems" % (len(calls), len(problems)))
    return 1 if problems else 0


def self_test():
    """The scanners on small samples: each must find exactly the programs named."""
    cases = [
        ("shell", 'set -e\nx=$(dirname "$0")\nif ! pigz -z <a >b 2>&1; then echo no; fi\n'
                  'f() { :; }\nf\nLANG=C sort file | uniq\nexec nice -n 10 xvfb-run -a -s "-s 0" '
                  'wine a.exe\ncase $x in\n  a) gzip a ;;\n  b|c) y=1 ;;\nesac\n'
                  'for p in pigz bzip2; do :; done\ncommand -v xdotool\n'
                  'echo "$(basename "$x")"\n"$repo/scripts/deps"\nz=(one two)\n'
                  '[ "$(cat a)" = "$b" ] && rm -f "$(mktemp)"\n',
         ["basename", "cat", "dirname", "gzip", "mktemp", "nice", "pigz", "rm", "sort", "uniq", "wine", "xvfb-run"]),
        ("python", 'import os, subprocess\nsubprocess.run(["pigz", "-c"])\n'
                   'subprocess.run([tool, "-c"])\nos.system("bzip2 -d x | tar xf -")\n'
                   'def timed(cmd):\n    return subprocess.run(cmd)\ntimed(["xz", "-9"])\n'
                   'line = ["zstd", "-d"]\ntimed(line)\nsorted(["gzip", "x"])\n',
         ["bzip2", "pigz", "tar", "xz", "zstd"]),
        ("cpp", 'const char kTool[] = "pigz -z -c";\nint f() { return std::system("xz -d a"); }\n'
                'const char kText[] = "patch data ";\n',
         ["pigz", "xz"]),
        ("cmake", "add_executable(tool a.cpp)\nadd_test(NAME t COMMAND tool)\n"
                  "add_custom_command(OUTPUT x COMMAND pigz -c COMMAND ${X} COMMAND Python3::Interpreter)\n",
         ["pigz"]),
    ]
    failures = 0
    for kind, text, want in cases:
        if kind == "shell":
            got = shell_commands(text)
        elif kind == "python":
            got = python_commands(text)
        elif kind == "cpp":
            got = cpp_commands(text)
        else:
            got = cmake_commands(text, {"tool"})
        if sorted(set(got)) != sorted(want):
            print("FAIL %s scanner: expected %s, found %s" % (kind, want, got))
            failures += 1
    # A repository whose test calls a program that the table lacks fails the check.
    repo = tempfile.mkdtemp()
    try:
        os.makedirs(os.path.join(repo, "scripts"))
        os.makedirs(os.path.join(repo, "tests"))
        with open(os.path.join(repo, "scripts", "deps"), "w") as f:
            f.write("packages=(python3)\ncommand_table='\ncore python3 python3\n'\n")
        with open(os.path.join(repo, "tests", "t.cpp"), "w") as f:
            f.write('int main() { return std::system("pigz -d x"); }\n')
        said = []
        if check(repo, said.append) == 0 or "pigz (called in tests/t.cpp)" not in said[0]:
            print("FAIL a test calling pigz passed the check without pigz in the table")
            failures += 1
    finally:
        shutil.rmtree(repo)
    print("self-test: %d failures" % failures)
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    sys.exit(check(os.path.abspath(sys.argv[1])))


if __name__ == "__main__":
    main()
