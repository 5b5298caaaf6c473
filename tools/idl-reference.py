#!/usr/bin/env python3
"""Writes the scripting reference: one Markdown page per class of the type
library, made from idl/quillbox.idl and its help strings, plus an index.

    idl-reference.py IDL OUTDIR

Exits with status 1, writing nothing, when the library, an interface, a
method or a property has no help string, or when a method's help string does
not name one of its arguments as "name:" (widl takes no help string on an
argument, so each argument is told in its method's text) or, for a method
that hands a value back, does not say what it "Returns".
"""
import os
import re
import sys

TYPES = {
    "long": "Long",
    "float": "Single",
    "BSTR": "String",
    "VARIANT": "Variant",
    "OLE_COLOR": "OLE_COLOR (Long)",
    "IFontDisp*": "StdFont",
    "IUnknown*": "enumerator",
}


def script_type(ctype):
    ctype = ctype.replace(" ", "")
    if ctype in TYPES:
        return TYPES[ctype]
    m = re.fullmatch(r"I(\w+)\*", ctype)
    if m:
        return m.group(1)
    return ctype


def attributes(text):
    """The attributes of a [...] list as (name, value) pairs, in order."""
    out, depth, cur, quoted = [], 0, "", False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        if not quoted and ch == "(":
            depth += 1
        elif not quoted and ch == ")":
            depth -= 1
        if not quoted and depth == 0 and ch == ",":
            out.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        out.append(cur.strip())
    pairs = []
    for a in out:
        m = re.fullmatch(r'(\w+)(?:\((.*)\))?', a, re.S)
        if m:
            value = m.group(2)
            if value is not None and value.startswith('"') and value.endswith('"'):
                value = value[1:-1]
            pairs.append((m.group(1), value))
    return pairs


def parse(text):
    # Comments out; string literals hold no comment markers in this file.
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    interfaces = {}
    for m in re.finditer(r"\[([^\]]*)\]\s*interface\s+(\w+)\s*:\s*(\w+)\s*\{(.*?)\};", text, re.S):
        attrs = dict(attributes(m.group(1)))
        members = []
        body = m.group(4)
        for mm in re.finditer(r"\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\((.*?)\)\s*;", body, re.S):
            mattrs = attributes(mm.group(1))
            args = []
            for a in re.finditer(r"\[([^\]]*)\]\s*([\w\s\*]+?)\s*(\w+)\s*(?:,|$)", mm.group(3).strip(), re.S):
                aattrs = [k for k, _ in attributes(a.group(1))]
                args.append({"attrs": aattrs, "type": a.group(2).strip(), "name": a.group(3)})
            members.append({"name": mm.group(2), "attrs": mattrs, "args": args})
        interfaces[m.group(2)] = {"base": m.group(3), "help": attrs.get("helpstring"),
                                  "members": members}
    lib = re.search(r"\[([^\]]*)\]\s*library\s+(\w+)\s*\{(.*)\};", text, re.S)
    if not lib:
        raise SystemExit("idl-reference: no library block")
    libattrs = dict(attributes(lib.group(1)))
    classes = []
    for c in re.finditer(r"\[([^\]]*)\]\s*coclass\s+(\w+)\s*\{\s*\[default\]\s*interface\s+(\w+)\s*;\s*\}", lib.group(3)):
        classes.append({"name": c.group(2), "interface": c.group(3),
                        "clsid": dict(attributes(c.group(1))).get("uuid")})
    return libattrs, lib.group(2), interfaces, classes


def check(libattrs, interfaces):
    problems = []
    if not libattrs.get("helpstring"):
        problems.append("the library has no help string")
    for iname, iface in interfaces.items():
        if not iface["help"]:
            problems.append(f"{iname}: no help string")
        for m in iface["members"]:
            where = f"{iname}.{m['name']}"
            attrs = dict(m["attrs"])
            help = attrs.get("helpstring")
            if not help:
                problems.append(f"{where}: no help string")
                continue
            accessor = any(k in attrs for k in ("propget", "propput", "propputref"))
            for i, a in enumerate(m["args"]):
                if "retval" in a["attrs"]:
                    if not accessor and "Returns" not in help:
                        problems.append(f"{where}: help does not say what it returns")
                    continue
                # A setter's last argument is the property's value, which the
                # property's own text describes.
                if accessor and i == len(m["args"]) - 1 and "propget" not in attrs:
                    continue
                if not re.search(r"\b" + re.escape(a["name"]) + r":", help):
                    problems.append(f"{where}: help does not tell the argument {a['name']}")
    return problems


def chain(interfaces, name):
    out = []
    while name in interfaces:
        out.insert(0, name)
        name = interfaces[name]["base"]
    return out


def md(text):
    return text.replace("|", "\\|")


def page(cls, interfaces):
    lines = [f"# {cls['name']}", ""]
    iname = cls["interface"]
    lines += [f"ProgID `Quillbox.{cls['name']}.1`, CLSID `{{{cls['clsid']}}}`, "
              f"default interface `{iname}`.", ""]
    names = chain(interfaces, iname)
    for n in reversed(names):
        lines += [md(interfaces[n]["help"]) + ("." if not interfaces[n]["help"].endswith(".") else ""), ""]
    props, methods = {}, []
    for n in names:
        for m in interfaces[n]["members"]:
            attrs = dict(m["attrs"])
            if "restricted" in attrs:
                continue
            if any(k in attrs for k in ("propget", "propput", "propputref")):
                p = props.setdefault(m["name"], {"access": set(), "help": attrs["helpstring"], "type": None,
                                                 "id": attrs.get("id"), "from": n, "index": []})
                if "propget" in attrs:
                    p["access"].add("read")
                    p["type"] = m["args"][-1]["type"].rstrip("*").strip() + "*" * (m["args"][-1]["type"].count("*") - 1)
                    p["index"] = [a["name"] for a in m["args"][:-1]]
                else:
                    p["access"].add("write")
                    p["type"] = p["type"] or m["args"][-1]["type"]
                    if "propputref" in attrs:
                        p["access"].add("Set")
            else:
                methods.append((n, m))
    if props:
        lines += ["## Properties", "", "| property | type | access | help |", "|---|---|---|---|"]
        for name, p in props.items():
            access = " and ".join(x for x in ("read", "write") if x in p["access"])
            if "Set" in p["access"]:
                access += " (also with Set)"
            shown = name + (f"({', '.join(p['index'])})" if p["index"] else "")
            lines.append(f"| `{shown}` | {script_type(p['type'])} | {access} | {md(p['help'])} |")
        lines.append("")
    if methods:
        lines += ["## Methods", ""]
        for n, m in methods:
            attrs = dict(m["attrs"])
            ins = [a for a in m["args"] if "retval" not in a["attrs"]]
            ret = [a for a in m["args"] if "retval" in a["attrs"]]
            sig = f"{m['name']}({', '.join(a['name'] + ' As ' + script_type(a['type']) for a in ins)})"
            if ret:
                sig += " As " + script_type(ret[0]["type"].rstrip("*").strip() + "*" * (ret[0]["type"].count("*") - 1))
            lines += [f"### {m['name']}", "", f"    {sig}", "", md(attrs["helpstring"]), ""]
    if not props and not methods:
        lines += ["This class has no members of its own.", ""]
    return "\n".join(lines)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: idl-reference.py IDL OUTDIR")
    with open(sys.argv[1], encoding="utf-8") as f:
        libattrs, libname, interfaces, classes = parse(f.read())
    problems = check(libattrs, interfaces)
    if not classes:
        problems.append("no classes found")
    for c in classes:
        if c["interface"] not in interfaces:
            problems.append(f"{c['name']}: interface {c['interface']} not found")
    if problems:
        for p in problems:
            print(f"{sys.argv[1]}: {p}", file=sys.stderr)
        sys.exit(1)
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    index = [f"# {libattrs['helpstring']}", "",
             f"Type library `{libname}`, LIBID `{{{libattrs['uuid']}}}`. One page per class:", ""]
    for c in classes:
        with open(os.path.join(out, c["name"] + ".md"), "w", encoding="utf-8") as f:
            f.write(page(c, interfaces))
        index.append(f"- [{c['name']}]({c['name']}.md): {md(interfaces[c['interface']]['help'])}")
    index.append("")
    with open(os.path.join(out, "index.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(index))


if __name__ == "__main__":
    main()
