#!/usr/bin/env python3
"""Counts the mutable variables each source file keeps for the whole run.

Counted: variables declared at namespace scope (also inside anonymous and
named namespaces) and `static` locals inside functions. Not counted: anything
declared const or constexpr, `extern` declarations (the definition counts
where it is), class members, and function or type declarations. A variable of
a struct type counts once, whatever it holds: the rule is one state object per
module. A declaration of several variables counts each of them. Comments, strings and preprocessor lines are ignored.

usage: scripts/module-state.py [-v] [FOLDER...]   (default: the library folders)
Prints "count path" per file with a count above zero, then the total.
"""
import os
import re
import sys

LIBRARY = ["app", "graphics", "image", "render", "runtime", "sph", "stream", "system"]
NOT_VARIABLE = re.compile(r"^\s*(typedef|using|template|static_assert|friend|return|namespace|"
                          r"class|struct|enum|union|extern|#)\b")


def strip(text):
    """Source without comments, string and character literals, preprocessor lines."""
    text = re.sub(r"//[^\n]*|/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r'R"\((.*?)\)"', '""', text, flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"', '""', text)
    text = re.sub(r"'(\\.|[^'\\\n])*'", "''", text)
    return re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)


def is_mutable_variable(statement):
    s = " ".join(statement.split())
    if not s or NOT_VARIABLE.match(s):
        return False
    if re.search(r"\b(const|constexpr|constinit)\b", s.split("=")[0].split("{")[0]) and \
            not re.search(r"\bconst\s*\*", s.split("=")[0]):
        return False
    head = s.split("=")[0]
    # A declaration with a parameter list and no initialiser is a function.
    if "(" in head and "=" not in s and "{" not in s:
        return False
    return re.match(r"^[\w:<>,\s\*&\[\]]+\s[\*&]*\w+(\s*\[[^\]]*\])*\s*(=|\{|;|$|,)", s) is not None


def declarators(statement):
    """How many variables one declaration makes (int a = 0, b;  -> 2)."""
    depth, count = 0, 1
    for c in statement:
        if c in "([{<":
            depth += 1
        elif c in ")]}>":
            depth -= 1
        elif c == "," and depth == 0:
            count += 1
    return count


def scan(text):
    """Yields the statements at namespace scope and the static locals."""
    scopes = []  # "ns" for namespaces and extern "C", "type" for classes/enums, "body" otherwise
    statement = ""
    found = []
    i = 0
    while i < len(text):
        c = text[i]
        inside_body = "body" in scopes
        if c == "{":
            head = " ".join(statement.split())
            if re.search(r"\bnamespace\b[\w\s:]*$|^extern\s*\"\"$", head):
                scopes.append("ns")
                statement = ""
            elif not inside_body and "type" not in scopes and re.search(r"\b(class|struct|enum|union)\b", head) \
                    and "(" not in head and "=" not in head:
                scopes.append("type")
                statement = ""
            elif not inside_body and "type" not in scopes and ("(" in head and "=" not in head.split("(")[0]):
                scopes.append("body")  # a function body
                statement = ""
            else:
                scopes.append("init" if not inside_body and "type" not in scopes else "block")
                statement += c
        elif c == "}":
            kind = scopes.pop() if scopes else "ns"
            if kind == "init":
                statement += c
            else:
                statement = ""
                if kind == "type":
                    # struct S {...} instance;  -> the text after the brace is the statement
                    statement = "@type "
        elif c == ";":
            top = all(k == "ns" for k in scopes)
            local = inside_body and scopes and scopes[-1] in ("body", "block")
            s = " ".join(statement.split())
            if top:
                if s.startswith("@type ") and s != "@type":
                    s = "T " + s[len("@type "):]  # struct S {...} instance;
                if s != "@type" and is_mutable_variable(s):
                    found.extend([s] * declarators(s))
            elif local and re.match(r"^(thread_local\s+)?static\b", s) and \
                    not re.search(r"\b(const|constexpr)\b", s.split("=")[0]):
                rest = re.sub(r"^(thread_local\s+)?static\s+", "", s)
                if is_mutable_variable(rest):
                    found.extend([s] * declarators(rest))
            statement = ""
        else:
            statement += c
        i += 1
    return found


def main(argv):
    verbose = "-v" in argv
    folders = [a for a in argv if a != "-v"] or LIBRARY
    total = 0
    for folder in folders:
        for root, _, files in sorted(os.walk(folder)):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    found = scan(strip(f.read()))
                if found:
                    total += len(found)
                    print(f"{len(found):3d} {path}")
                    if verbose:
                        for s in found:
                            print(f"      {s[:100]}")
    print(f"{total:3d} total")


if __name__ == "__main__":
    main(sys.argv[1:])
