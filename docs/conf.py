# Sphinx configuration of the norva manual (Debian's python3-sphinx 5.3 and
# python3-breathe; run by /usr/bin/python3).  docs/CMakeLists.txt runs it with
# the environment below (absolute paths: Sphinx reads this file in docs/):
#
#   NORVA_DOXYGEN_XML   the Doxygen XML of include/norva.h (required)
#   NORVA_GENERATED     directory holding cli.rst, the output of
#                       `norva help --format=rst` (required)
#   NORVA_LIBRARY       the built libnorva.so.0, for the Python doctests
#
# Tag "manpages" (sphinx-build -t manpages -b man) builds norva(1) and
# norva(3) from man/; the other builders read the manual without man/.  The
# two sets are kept apart because each renders the same C declarations, and
# a declaration may appear once per build.
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(here), "python"))


def _required(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"conf.py: the environment variable {name} is not set "
                           "(build the manual with `cmake --build BUILD --target docs`)")
    return value


project = "norva"
author = "the norva developers"
copyright = "the norva developers"
version = release = "0.7.0"

extensions = [
    "breathe",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
]

breathe_projects = {"norva": _required("NORVA_DOXYGEN_XML")}
breathe_default_project = "norva"
breathe_domain_by_extension = {"h": "c"}
breathe_show_define_initializer = False
breathe_show_include = False

# The generated CLI reference is read from the build tree.
generated = _required("NORVA_GENERATED")

primary_domain = "c"
default_role = "code"
highlight_language = "none"
nitpicky = False

autodoc_member_order = "bysource"
autodoc_typehints = "none"
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
napoleon_use_ivar = True

doctest_global_setup = "import norva"
doctest_test_doctest_blocks = "default"

if tags.has("manpages"):  # noqa: F821 (defined by Sphinx)
    root_doc = "man/index"
    exclude_patterns = ["_build", "start", "guarantees", "theory", "reference",
                        "development", "figures", "index.rst"]
else:
    root_doc = "index"
    exclude_patterns = ["_build", "man"]

html_theme = "sphinx_rtd_theme"
html_title = f"norva {release}"
html_static_path = []
html_show_sourcelink = False

# norva(1): the tool; norva(3): the C interface.
man_pages = [
    ("man/norva.1", "norva", "verified linear algebra from the command line", [], 1),
    ("man/norva.3", "norva", "verified linear algebra in IEEE 754 double precision (C interface)",
     [], 3),
]
man_show_urls = False
man_make_section_directory = False


def setup(app):
    """The directive ``norva-generated:: NAME`` reads NAME from the build
    tree's generated files (NORVA_GENERATED) as if it were written in place."""
    from docutils.parsers.rst import Directive
    from docutils.statemachine import StringList

    class Generated(Directive):
        required_arguments = 1

        def run(self):
            path = os.path.join(generated, self.arguments[0])
            try:
                with open(path, encoding="utf-8") as f:
                    text = f.read()
            except OSError as err:
                raise self.severe(f"norva-generated: cannot read {path}: {err}")
            self.state.document.settings.record_dependencies.add(path)
            lines = StringList(text.splitlines(), source=path)
            self.state_machine.insert_input(lines, path)
            return []

    app.add_directive("norva-generated", Generated)
