"""Checks that the reference leaves nothing out:

- every function the header exports (NORVA_API) and the callback type have
  an entry in reference/c_api.inc (the C reference and norva(3));
- in the Doxygen XML of the header, every parameter of every function and
  of the callback type is documented (@param, by its name), and every
  function that returns a value documents it (@return or @retval);
- every public name of the Python package (norva.__all__) has an entry in
  reference/python.rst, and every public function's docstring has an
  example (">>>"), which the doctest run executes.

Exit status 1 with one line per omission.
"""

import argparse
import os
import re
import sys
import xml.etree.ElementTree as ET


def header_exports(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    functions = re.findall(r"NORVA_API\s+[^;(]*?\b(norva_\w+)\s*\(", text)
    types = re.findall(r"typedef\s+[^;]*?\(\s*\*\s*(norva_\w+)\s*\)", text)
    return functions, types


def documented_entries(path, directive):
    with open(path, encoding="utf-8") as f:
        return set(re.findall(r"^\.\. %s:: ([\w.]+)" % re.escape(directive), f.read(), re.M))


def xml_problems(xml_dir):
    problems = []
    seen = 0
    for name in os.listdir(xml_dir):
        if not name.endswith("_8h.xml"):
            continue
        root = ET.parse(os.path.join(xml_dir, name)).getroot()
        for member in root.iter("memberdef"):
            kind = member.get("kind")
            if kind not in ("function", "typedef"):
                continue
            func = member.findtext("name")
            detail = member.find("detaileddescription")
            named = {n.text.strip() for pl in detail.iter("parameterlist")
                     if pl.get("kind") == "param"
                     for n in pl.iter("parametername") if n.text}
            if kind == "function":
                params = [p.findtext("declname") for p in member.findall("param")]
                params = [p for p in params if p]  # (void) has no name
                returns_value = (member.findtext("type") or "").strip() != "void"
            else:  # the callback type: its parameters are in its argsstring
                args = member.findtext("argsstring") or ""
                params = re.findall(r"(\w+)\s*(?:,|\)$)", args.strip())
                returns_value = False
            seen += 1
            for p in params:
                if p not in named:
                    problems.append(f"{func}: parameter {p} is not documented (@param)")
            for p in sorted(named - set(params)):
                problems.append(f"{func}: @param {p} names no parameter")
            has_return = any(s.get("kind") == "return" for s in detail.iter("simplesect")) or \
                any(pl.get("kind") == "retval" for pl in detail.iter("parameterlist"))
            if returns_value and not has_return:
                problems.append(f"{func}: the return value is not documented (@return, @retval)")
            if not (member.findtext("briefdescription") or "").strip() and \
                    not "".join(member.find("briefdescription").itertext()).strip():
                problems.append(f"{func}: no brief description")
    if seen == 0:
        problems.append(f"{xml_dir}: no function found in the Doxygen XML")
    return problems


def python_problems(python_dir, rst):
    sys.path.insert(0, python_dir)
    import norva  # noqa: E402 (needs only NumPy to import)

    problems = []
    listed = documented_entries(rst, "autofunction") | documented_entries(rst, "autoclass") | \
        documented_entries(rst, "autoexception")
    for name in norva.__all__:
        if name.startswith("__"):
            continue
        if "norva." + name not in listed:
            problems.append(f"python: norva.{name} has no entry in {rst}")
        obj = getattr(norva, name)
        if callable(obj) and not isinstance(obj, type) and ">>>" not in (obj.__doc__ or ""):
            problems.append(f"python: the docstring of norva.{name} has no example (>>>)")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--header", required=True)
    ap.add_argument("--xml", required=True)
    ap.add_argument("--docs", required=True)
    ap.add_argument("--python", required=True)
    args = ap.parse_args()

    functions, types = header_exports(args.header)
    problems = []
    if not functions:
        problems.append(f"{args.header}: no NORVA_API function found")
    c_api = os.path.join(args.docs, "reference", "c_api.inc")
    have = documented_entries(c_api, "doxygenfunction")
    have_types = documented_entries(c_api, "doxygentypedef")
    problems += [f"C: {f} has no entry in {c_api}" for f in functions if f not in have]
    problems += [f"C: {t} has no entry in {c_api}" for t in types if t not in have_types]
    problems += [f"C: {f} in {c_api} is not exported" for f in sorted(have - set(functions))]
    problems += xml_problems(args.xml)
    problems += python_problems(args.python, os.path.join(args.docs, "reference", "python.rst"))
    for p in problems:
        print(p)
    print(f"{len(functions)} C functions, {len(types)} callback types; "
          f"{len(problems)} omissions")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
